#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/console_log.h"
#include "cli/console_prompter.h"

namespace tarnwick {
namespace {

// Everything written to a temporary stream.
class Captured {
public:
    Captured() : file_(std::tmpfile()) {}
    ~Captured() { std::fclose(file_); }
    std::FILE* get() const { return file_; }
    std::string Text() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string all;
        char buffer[256];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) all.append(buffer, n);
        return all;
    }

private:
    std::FILE* file_;
};

TEST(ConsoleLog, PlainWhenNotATerminal) {
    Captured out;
    ConsoleLog log(out.get(), false);
    log.AppendLog("Transfer läuft...\r\n");
    log.AppendLog("Transfer abgebrochen \r\n", kLogRed, kLogBold);
    log.AppendLog("Importiere /x.NB0...");
    log.AppendLog("Ok\r\n");
    EXPECT_EQ(out.Text(), "Transfer läuft...\nTransfer abgebrochen \nImportiere /x.NB0...Ok\n");
}

TEST(ConsoleLog, RedBoldOnATerminalEndsBeforeTheLineBreak) {
    EXPECT_EQ(ConsoleLog::Render("Transfer abgebrochen \r\n", kLogRed, kLogBold, true),
              "\x1b[1;31mTransfer abgebrochen \x1b[0m\n");
    EXPECT_EQ(ConsoleLog::Render("Ok\r\n", kLogBlack, kLogNormal, true), "Ok\n");
    EXPECT_EQ(ConsoleLog::Render("x", kLogBlack, kLogItalic | kLogUnderline, true), "\x1b[3;4mx\x1b[0m");
    EXPECT_EQ(ConsoleLog::Render("\r\nImage 0 hat falsche Signatur\r\n", kLogRed, kLogBold, true),
              "\x1b[1;31m\nImage 0 hat falsche Signatur\x1b[0m\n");
    EXPECT_EQ(ConsoleLog::Render("a\r\n", kLogRed, kLogBold, false), "a\n");
}

TEST(ConsolePrompter, MessageBoxIsOneLineOnStderr) {
    Captured err;
    ConsolePrompter prompter(err.get());
    EXPECT_EQ(prompter.MessageBox("Es ist ein Fehler aufgetreten \nCode: 0x54 Funktion: 0x1e ",
                                  MessageIcon::Exclamation, MessageButtons::Ok),
              MessageAnswer::Ok);
    EXPECT_EQ(err.Text(),
              "Tarnwick: warning: Es ist ein Fehler aufgetreten / Code: 0x54 Funktion: 0x1e\n");
}

TEST(ConsolePrompter, BatchAnswers) {
    Captured err;
    ConsolePrompter prompter(err.get());
    EXPECT_EQ(prompter.MessageBox("Bitte das Bediengerät booten ...", MessageIcon::Information,
                                  MessageButtons::OkCancel),
              MessageAnswer::Ok);
    EXPECT_EQ(prompter.MessageBox("?", MessageIcon::Question, MessageButtons::YesNo),
              MessageAnswer::Yes);
    // The save question: a batch run discards its document.
    EXPECT_EQ(prompter.MessageBox("Änderungen in Neu speichern?", MessageIcon::Exclamation,
                                  MessageButtons::YesNoCancel),
              MessageAnswer::No);
    EXPECT_FALSE(prompter.OpenFileDialog({}).has_value());
    EXPECT_FALSE(prompter.SaveFileDialog({}).has_value());
    const std::string text = err.Text();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
}

TEST(ConsolePrompter, MultiLineMessages) {
    EXPECT_EQ(ConsolePrompter::MessageLine(
                  "Bitte das Bediengerät booten ...\n\nAchtung !\nWenn Sie", MessageIcon::None),
              "Tarnwick: Bitte das Bediengerät booten ... / Achtung ! / Wenn Sie");
    EXPECT_EQ(ConsolePrompter::MessageLine("Datei nicht gefunden", MessageIcon::Error),
              "Tarnwick: error: Datei nicht gefunden");
}

TEST(CliCommands, EveryBatchCommandHasARow) {
    for (std::uint32_t id : {32771u, 32772u, 32775u}) {
        const CliCommand* command = FindCliCommand(id);
        ASSERT_NE(command, nullptr) << id;
        EXPECT_NE(std::string(command->keyword), "");
    }
    EXPECT_EQ(FindCliCommand(57601), nullptr);
}

}  // namespace
}  // namespace tarnwick
