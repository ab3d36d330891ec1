#include <gtest/gtest.h>

#include "app/settings.h"
#include "osimage/file_dialogs.h"
#include "support/fakes.h"
#include "support/nb0_builder.h"

namespace tarnwick {
namespace {

using testing::ScriptedPrompter;
using testing::TempFolder;

class FileDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { SetSettingsFile(folder.File("Tarnwick.ini")); }
    void TearDown() override { SetSettingsFile(""); }

    TempFolder folder;
    ScriptedPrompter prompter;
};

struct DialogCase {
    const char* name;
    bool (*choose)(Prompter&, PathValue&);
    const char* key;
    bool open;
    const char* filter;
};

const DialogCase kDialogs[] = {
    {"import", ChooseImportFile, "Import_Dialog", true, "Absolute image (*.NB0)|*.NB0||"},
    {"export", ChooseExportFile, "Export_Dialog", false, "Export image (*.exp)|*.EXP||"},
};

const FileDialogRequest& LastRequest(const ScriptedPrompter& p, bool open) {
    return open ? p.openRequests.back() : p.saveRequests.back();
}

void Answer(ScriptedPrompter& p, bool open, std::optional<std::string> path) {
    (open ? p.openPaths : p.savePaths).push_back(std::move(path));
}

TEST_F(FileDialogsTest, RemembersTheLastConfirmedFile) {
    for (const auto& d : kDialogs) {
        SCOPED_TRACE(d.name);
        // First use: nothing remembered.
        PathValue path;
        Answer(prompter, d.open, std::nullopt);
        EXPECT_FALSE(d.choose(prompter, path));
        const auto& first = LastRequest(prompter, d.open);
        EXPECT_EQ(first.filter, d.filter);
        EXPECT_EQ(first.initialFolder, "");
        EXPECT_EQ(first.initialName, "");
        EXPECT_TRUE(first.overwritePrompt);
        EXPECT_TRUE(first.defaultExtension.empty());
        EXPECT_EQ(first.mustExist, d.open);
        EXPECT_EQ(first.pathMustExist, !d.open);
        // Cancel stores nothing.
        EXPECT_EQ(GetProfileString("FILE_DIALOGS", d.key, "absent"), "absent");

        // A confirmed file is remembered and preselected while it exists.
        const std::string chosen = folder.File(std::string(d.name) + ".bin");
        testing::WriteBytes(chosen, {1});
        Answer(prompter, d.open, chosen);
        ASSERT_TRUE(d.choose(prompter, path));
        EXPECT_EQ(path.full, chosen);
        EXPECT_EQ(GetProfileString("FILE_DIALOGS", d.key, ""), chosen);

        Answer(prompter, d.open, std::nullopt);
        d.choose(prompter, path);
        EXPECT_EQ(LastRequest(prompter, d.open).initialFolder, folder.Path() + "/");
        EXPECT_EQ(LastRequest(prompter, d.open).initialName, std::string(d.name) + ".bin");
        EXPECT_EQ(GetProfileString("FILE_DIALOGS", d.key, ""), chosen);  // cancel kept it

        // Moved away (or never written): the folder stays, the name goes.
        std::filesystem::remove(chosen);
        Answer(prompter, d.open, std::nullopt);
        d.choose(prompter, path);
        EXPECT_EQ(LastRequest(prompter, d.open).initialFolder, folder.Path() + "/");
        EXPECT_EQ(LastRequest(prompter, d.open).initialName, "");
    }
    // Each dialog keeps its own key.
    EXPECT_NE(GetProfileString("FILE_DIALOGS", "Import_Dialog", ""),
              GetProfileString("FILE_DIALOGS", "Export_Dialog", ""));
}

}  // namespace
}  // namespace tarnwick
