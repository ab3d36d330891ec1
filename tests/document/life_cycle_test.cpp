// New, open, save: the save question, the modified flag, the title and when
// the window may offer Save and Save As.
#include "doc_fixture.h"

namespace tarnwick::testing {
namespace {

class LifeCycleTest : public DocTest {
protected:
    void SetUp() override {
        DocTest::SetUp();
        ASSERT_TRUE(doc_.OnNewDocument());
    }
    void AddImagePair() {
        AddPart(0x1, BytesOf("image data"));
        AddPart(0x20000000, Bytes(64, 1));
    }
};

TEST_F(LifeCycleTest, NewDocumentIsEmptyUntitledAndNotSavable) {
    EXPECT_EQ(doc_.GetTitle(), "Neu");
    EXPECT_EQ(doc_.GetPathName(), "");
    EXPECT_FALSE(doc_.IsModified());
    EXPECT_FALSE(doc_.IsSaveEnabled());
    EXPECT_FALSE(doc_.IsSaveAsEnabled());
    EXPECT_TRUE(log_.Lines().empty());
    EXPECT_TRUE(prompter_.shown.empty());
}

TEST_F(LifeCycleTest, SaveNeedsAValidSetAndAChange) {
    AddImagePair();
    EXPECT_TRUE(doc_.IsSaveAsEnabled());
    EXPECT_FALSE(doc_.IsSaveEnabled());
    doc_.SetModifiedFlag();
    EXPECT_TRUE(doc_.IsSaveAsEnabled());
    EXPECT_TRUE(doc_.IsSaveEnabled());
}

TEST_F(LifeCycleTest, FailedImportDisablesSavingUntilTheNextOpen) {
    AddImagePair();
    const auto path = PathIn("good.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));
    doc_.SetUsable(false);
    EXPECT_FALSE(doc_.IsSaveAsEnabled());
    EXPECT_FALSE(doc_.IsSaveEnabled());
    ASSERT_TRUE(doc_.OnOpenDocument(path));
    EXPECT_TRUE(doc_.IsSaveAsEnabled());
}

struct Question {
    const char* name;
    MessageAnswer answer;
    std::optional<std::string> dialogName;  // Save As answer, relative to the test folder
    bool result;
    bool emptied;
    bool saved;
};

class SaveQuestionTest : public LifeCycleTest, public ::testing::WithParamInterface<Question> {};

TEST_P(SaveQuestionTest, OnNewDocumentOfAModifiedDocument) {
    const auto& q = GetParam();
    AddImagePair();
    doc_.SetModifiedFlag();
    prompter_.answers.push_back(q.answer);
    if (q.dialogName) prompter_.savePaths.push_back(PathIn(*q.dialogName));
    else prompter_.savePaths.push_back(std::nullopt);

    EXPECT_EQ(doc_.OnNewDocument(), q.result);
    ASSERT_GE(prompter_.shown.size(), 1u);
    EXPECT_EQ(prompter_.shown[0].text, "Änderungen in Neu speichern?");
    EXPECT_EQ(prompter_.shown[0].icon, MessageIcon::Question);
    EXPECT_EQ(prompter_.shown[0].buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(doc_.PartCount(), q.emptied ? 0 : 2);
    EXPECT_EQ(doc_.IsModified(), !q.emptied);
    if (q.answer == MessageAnswer::Yes) {
        ASSERT_EQ(prompter_.saveRequests.size(), 1u);
        EXPECT_EQ(prompter_.saveRequests[0].initialName, "Neu.img");
        EXPECT_TRUE(prompter_.saveRequests[0].overwritePrompt);
    }
    EXPECT_EQ(q.dialogName && std::filesystem::exists(PathIn(*q.dialogName)), q.saved);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SaveQuestionTest,
    ::testing::Values(Question{"cancel", MessageAnswer::Cancel, std::nullopt, false, false, false},
                      Question{"no", MessageAnswer::No, std::nullopt, true, true, false},
                      Question{"yes_saved", MessageAnswer::Yes, "saved.img", true, true, true},
                      Question{"yes_dialog_cancelled", MessageAnswer::Yes, std::nullopt, false, false, false},
                      Question{"yes_save_fails", MessageAnswer::Yes, "missing/saved.img", false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LifeCycleTest, SaveQuestionNamesTheFile) {
    AddImagePair();
    const auto path = PathIn("named.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));
    doc_.SetPathName(path);
    doc_.SetModifiedFlag();
    prompter_.answers.push_back(MessageAnswer::Yes);
    ASSERT_TRUE(doc_.SaveModified());
    EXPECT_EQ(prompter_.shown.at(0).text, "Änderungen in named.img speichern?");
    EXPECT_TRUE(prompter_.saveRequests.empty()) << "a document with a path saves without a dialog";
    EXPECT_FALSE(doc_.IsModified());
}

TEST_F(LifeCycleTest, UnmodifiedDocumentIsNotAsked) {
    AddImagePair();
    EXPECT_TRUE(doc_.SaveModified());
    EXPECT_TRUE(prompter_.shown.empty());
}

TEST_F(LifeCycleTest, SaveAsTakesTheNewNameAndTitle) {
    AddImagePair();
    doc_.SetModifiedFlag();
    prompter_.savePaths.push_back(PathIn("chosen.img"));
    ASSERT_TRUE(doc_.OnFileSaveAs());
    EXPECT_EQ(doc_.GetPathName(), PathIn("chosen.img"));
    EXPECT_EQ(doc_.GetTitle(), "chosen.img");
    EXPECT_FALSE(doc_.IsModified());
    EXPECT_FALSE(doc_.IsSaveEnabled());

    doc_.SetModifiedFlag();
    ASSERT_TRUE(doc_.OnFileSave());
    EXPECT_EQ(prompter_.saveRequests.size(), 1u);
    EXPECT_EQ(prompter_.saveRequests[0].initialName, "Neu.img");
}

TEST_F(LifeCycleTest, FailedOpenLeavesNoPathToSaveOver) {
    AddImagePair();
    const auto good = PathIn("good.img");
    ASSERT_TRUE(doc_.OnSaveDocument(good));
    ASSERT_TRUE(doc_.OnOpenDocument(good));
    const auto bad = PathIn("bad.img");
    WriteBytes(bad, Bytes(100, 0));
    EXPECT_FALSE(doc_.OnOpenDocument(bad));
    EXPECT_EQ(doc_.GetPathName(), "");
    EXPECT_EQ(doc_.GetTitle(), "Neu");
    EXPECT_EQ(doc_.PartCount(), 0);
    EXPECT_FALSE(doc_.IsSaveAsEnabled());
}

TEST_F(LifeCycleTest, DeleteContentsEmptiesEverything) {
    AddImagePair();
    DescriptionValues v;
    v.AuxValue = 5;
    v.StoredTotal = 9;
    doc_.SetValues(v);
    doc_.SetUsable(false);
    log_.AppendLog("line\r\n", kLogBlack, kLogNormal);
    doc_.DeleteContents();
    EXPECT_EQ(doc_.PartCount(), 0);
    EXPECT_EQ(doc_.Values(), DescriptionValues{});
    EXPECT_TRUE(doc_.IsUsable());
    EXPECT_TRUE(log_.Lines().empty());
}

}  // namespace
}  // namespace tarnwick::testing
