#include "app/settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/temp_folder.h"

namespace tarnwick {
namespace {

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        file = temp / "cfg/Valdore/Tarnwick.ini";
        SetSettingsFile(file);
    }
    void TearDown() override { SetSettingsFile({}); }

    std::string Content() const { return testing::ReadWholeFile(file); }
    std::size_t FilesInFolder() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e :
             std::filesystem::directory_iterator(std::filesystem::path(file).parent_path()))
            ++n;
        return n;
    }

    testing::TempFolder temp;
    std::string file;
};

TEST_F(SettingsStore, MissingValuesGiveTheirDefaults) {
    EXPECT_EQ(GetProfileInt("SETTINGS", "BAUDRATE", 115200), 115200);
    EXPECT_EQ(GetProfileString("FILE_DIALOGS", "Import_Dialog", ""), "");
    EXPECT_EQ(PortDevicePath(0), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath(3), "/dev/ttyS3");
    EXPECT_FALSE(std::filesystem::exists(file)) << "reading creates nothing";
}

TEST_F(SettingsStore, WritesSectionsAndDecimalIntegers) {
    WriteProfileInt("SETTINGS", "DEVICE", 2);
    WriteProfileInt("SETTINGS", "BAUDRATE", 230400);
    WriteProfileInt("POSITION", "Rect_Norm_Left", -8);
    EXPECT_EQ(Content(),
              "[SETTINGS]\nDEVICE=2\nBAUDRATE=230400\n\n[POSITION]\nRect_Norm_Left=-8\n");
    WriteProfileInt("SETTINGS", "DEVICE", 1);
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", 0), 1);
    EXPECT_EQ(GetProfileInt("POSITION", "Rect_Norm_Left", 50), -8);
    EXPECT_EQ(FilesInFolder(), 1u) << "no temporary file is left behind";
}

TEST_F(SettingsStore, SectionsAndKeysIgnoreCase) {
    WriteProfileInt("SETTINGS", "PreviewPages", 1);
    WriteProfileInt("Settings", "previewpages", 2);
    EXPECT_EQ(GetProfileInt("settings", "PREVIEWPAGES", 0), 2);
    EXPECT_EQ(Content(), "[SETTINGS]\nPreviewPages=2\n");
}

TEST_F(SettingsStore, StringsSurviveTheRoundTrip) {
    const std::string values[] = {
        "/home/u/images/x.NB0", "  leading and trailing  ", "\"quoted\"", "line\nbreak\ttab\\",
        "a=b;c", "", "Größe",
    };
    for (const auto& v : values) {
        WriteProfileString("FILE_DIALOGS", "Export_Dialog", v);
        EXPECT_EQ(GetProfileString("FILE_DIALOGS", "Export_Dialog", "x"), v);
    }
}

TEST_F(SettingsStore, IntegersReadAsThirtyTwoBitWords) {
    temp.Write("cfg/Valdore/Tarnwick.ini",
               "[SETTINGS]\nDEVICE = 3 \nBAUDRATE=fast\nERASE_FLASH=4294967295\nBIG=99999999999\n");
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", 0), 3);
    EXPECT_EQ(GetProfileInt("SETTINGS", "BAUDRATE", 115200), 115200);
    EXPECT_EQ(GetProfileInt("SETTINGS", "ERASE_FLASH", 1), -1);
    EXPECT_EQ(GetProfileInt("SETTINGS", "BIG", 5), 5);
}

TEST_F(SettingsStore, MalformedLinesGiveDefaultsAndAreKeptOnWrite) {
    const std::string original =
        "garbage without equals\n"
        "[SETTINGS\n"
        "=no key\n"
        "[SETTINGS]\n"
        "; a comment\n"
        "DEVICE=1\n"
        "BAUDRATE=\n";
    temp.Write("cfg/Valdore/Tarnwick.ini", original);
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", 0), 1);
    EXPECT_EQ(GetProfileInt("SETTINGS", "BAUDRATE", 115200), 115200);
    WriteProfileInt("POSITION", "Show_Cmd", 3);
    EXPECT_EQ(Content(), original + "\n[POSITION]\nShow_Cmd=3\n");
}

TEST_F(SettingsStore, BinaryJunkIsNeverTakenForAValueAndIsKept) {
    using namespace std::string_literals;
    temp.Write("cfg/Valdore/Tarnwick.ini", "[SETTINGS]\nDEVICE=1\nX\0Y=3\n"s);
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", 0), 1);
    EXPECT_EQ(GetProfileInt("SETTINGS", "X", 9), 9);
    WriteProfileInt("SETTINGS", "BAUDRATE", 57600);
    EXPECT_EQ(Content(), "[SETTINGS]\nDEVICE=1\nX\0Y=3\nBAUDRATE=57600\n"s);
}

TEST_F(SettingsStore, FileThatCannotBeReadIsNeverReplaced) {
    // A folder where the file should be: reads give defaults, writes leave it.
    std::filesystem::create_directories(file);
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", 7), 7);
    WriteProfileInt("SETTINGS", "DEVICE", 2);
    EXPECT_TRUE(std::filesystem::is_directory(file));
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", 7), 7);
}

TEST_F(SettingsStore, WriteReplacesTheFileAtomically) {
    WriteProfileInt("SETTINGS", "DEVICE", 1);
    const auto before = std::filesystem::status(file).permissions();
    // Another name for the old file keeps its content: the write makes a new
    // file and renames it over the old one instead of rewriting it in place.
    const std::string link = temp / "old.ini";
    std::filesystem::create_hard_link(file, link);
    WriteProfileInt("SETTINGS", "DEVICE", 2);
    EXPECT_EQ(testing::ReadWholeFile(link), "[SETTINGS]\nDEVICE=1\n");
    EXPECT_EQ(Content(), "[SETTINGS]\nDEVICE=2\n");
    EXPECT_EQ(std::filesystem::status(file).permissions(), before);
    EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(SettingsStore, FolderThatCannotBeCreatedIsReported) {
    temp.Write("blocker", "a file where a folder should be");
    SetSettingsFile(temp / "blocker/Valdore/Tarnwick.ini");
    std::string error;
    EXPECT_FALSE(EnsureSettingsFolder(&error));
    EXPECT_NE(error.find("blocker"), std::string::npos) << error;
    WriteProfileInt("SETTINGS", "DEVICE", 2);  // fails quietly
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", 0), 0);
}

TEST_F(SettingsStore, PortDevicesFromThePortsSection) {
    WriteProfileString("PORTS", "COM2", "/dev/ttyUSB1");
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyUSB1");
    EXPECT_EQ(PortDevicePath(0), "/dev/ttyS0");
}

// The default place, with XDG_CONFIG_HOME set and unset.
class SettingsPlace : public ::testing::Test {
protected:
    void SetUp() override {
        SetSettingsFile({});
        Save("XDG_CONFIG_HOME", savedXdg_, hadXdg_);
        Save("HOME", savedHome_, hadHome_);
    }
    void TearDown() override {
        Restore("XDG_CONFIG_HOME", savedXdg_, hadXdg_);
        Restore("HOME", savedHome_, hadHome_);
    }
    static void Save(const char* name, std::string& value, bool& had) {
        const char* v = std::getenv(name);
        had = v != nullptr;
        if (v) value = v;
    }
    static void Restore(const char* name, const std::string& value, bool had) {
        if (had)
            ::setenv(name, value.c_str(), 1);
        else
            ::unsetenv(name);
    }

private:
    std::string savedXdg_, savedHome_;
    bool hadXdg_ = false, hadHome_ = false;
};

TEST_F(SettingsPlace, HonoursXdgConfigHome) {
    ::setenv("XDG_CONFIG_HOME", "/srv/cfg/", 1);
    EXPECT_EQ(SettingsFilePath(), "/srv/cfg/Valdore/Tarnwick.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);  // invalid: ignored
    ::setenv("HOME", "/home/service", 1);
    EXPECT_EQ(SettingsFilePath(), "/home/service/.config/Valdore/Tarnwick.ini");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsFilePath(), "/home/service/.config/Valdore/Tarnwick.ini");
}

}  // namespace
}  // namespace tarnwick
