#include <gtest/gtest.h>

#include "link/error_state.h"
#include "support/fakes.h"

namespace tarnwick {
namespace {

using testing::RecordingLog;
using testing::ScriptedPrompter;

class ErrorStateTest : public ::testing::Test {
protected:
    void SetUp() override { ClearErrors(); }
    void TearDown() override { ClearErrors(); }
    RecordingLog log;
    ScriptedPrompter prompter;
};

TEST_F(ErrorStateTest, ShowsTheInnermostFailureOnce) {
    ReportError(0x19, 0x27);
    ReportError(0x29, 0x53);
    ReportError(0x1F, 0x53);
    ShowError(log, prompter);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Zeitüberwachungsfehler beim Empfang der Daten");
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(prompter.shown[0].buttons, MessageButtons::Ok);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "Zeitüberwachungsfehler beim Empfang der Daten\r\n");
    EXPECT_EQ(log.Lines()[0].colour, kLogBlack);
    EXPECT_EQ(log.Lines()[0].effects, kLogNormal);
    EXPECT_TRUE(PendingErrors().empty());
}

struct MessageCase {
    std::uint32_t function;
    std::uint32_t code;
    std::string source;
    std::string expected;
};

void PrintTo(const MessageCase& c, std::ostream* os) {
    *os << "function " << c.function << " code " << c.code;
}

class ErrorMessageTest : public ErrorStateTest,
                         public ::testing::WithParamInterface<MessageCase> {};

TEST_P(ErrorMessageTest, FormatsTheFirstEntry) {
    const auto& c = GetParam();
    ReportError(c.function, c.code, c.source);
    ShowError(log, prompter);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorMessageTest,
    ::testing::Values(
        MessageCase{0x1E, 0x54, "", "Es ist ein Fehler aufgetreten \nCode: 0x54 Funktion: 0x1e "},
        MessageCase{0x38, 0x3B, "/tmp/x.img", "Datei  /tmp/x.img kann nicht erzeugt werden"},
        MessageCase{0x10, 0x0142, "", "Es ist ein Fehler aufgetreten \nCode: 0x42 Funktion: 0x10 "},
        MessageCase{0x3B, 0x32, "", "Der Vorgang wurde vom Anwender abgebrochen"},
        MessageCase{0x100, 0x00, "", "Es ist ein Fehler aufgetreten \nCode: 0x0 Funktion: 0x0 "}));

TEST_F(ErrorStateTest, KeepsFiveEntriesAndThenShowsNothingButZero) {
    ReportError(0x19, 0x27);
    for (int i = 0; i < 5; ++i) ReportError(0x30 + i, 0x50 + i);
    EXPECT_EQ(PendingErrors().size(), 5u);
    ShowError(log, prompter);
    ShowError(log, prompter);
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[0].text, "Zeitüberwachungsfehler beim Empfang der Daten");
    EXPECT_EQ(prompter.shown[1].text, "Es ist ein Fehler aufgetreten \nCode: 0x0 Funktion: 0x0 ");
}

TEST_F(ErrorStateTest, SourceTextOutlivesShowAndIsReplacedOnlyByNonEmpty) {
    ReportError(0x38, 0x3B, "first.img");
    ShowError(log, prompter);
    ReportError(0x38, 0x3B);
    ShowError(log, prompter);
    ReportError(0x38, 0x3B, "second.img");
    ShowError(log, prompter);
    ASSERT_EQ(prompter.shown.size(), 3u);
    EXPECT_EQ(prompter.shown[1].text, "Datei  first.img kann nicht erzeugt werden");
    EXPECT_EQ(prompter.shown[2].text, "Datei  second.img kann nicht erzeugt werden");
}

}  // namespace
}  // namespace tarnwick
