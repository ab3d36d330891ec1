#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/tarnwick_app.h"
#include "app/temp_folder.h"

namespace tarnwick {
namespace {

struct KeywordCase {
    const char* name;
    std::vector<std::string> args;
    std::int32_t command;
    std::int32_t components;
    std::int32_t port;
    std::int32_t baudRate;
    std::int32_t impex;
    std::int32_t erase;
    std::string fileName;
};

class KeywordTable : public ::testing::TestWithParam<KeywordCase> {};

TEST_P(KeywordTable, ParsesAsTheKeywordTableSays) {
    const KeywordCase& c = GetParam();
    CTarnwickCommandLineInfo info;
    ParseCommandLine(info, c.args);
    EXPECT_EQ(info.command, c.command);
    EXPECT_EQ(info.components, c.components);
    EXPECT_EQ(info.port, c.port);
    EXPECT_EQ(info.baudRate, c.baudRate);
    EXPECT_EQ(info.impex, c.impex);
    EXPECT_EQ(info.erase, c.erase);
    EXPECT_EQ(info.fileName, c.fileName);
}

constexpr std::int32_t kDl = 32771, kUp = 32772, kImp = 32775;
constexpr std::int32_t kCe = 0x20000001, kAll = 0x20000101, kHwt = 0xC0;

INSTANTIATE_TEST_SUITE_P(
    CommandLine, KeywordTable,
    ::testing::Values(
        KeywordCase{"Nothing", {}, -1, -1, -1, -1, 0, 1, ""},
        KeywordCase{"DashLowerCase", {"-download", "x.img"}, kDl, -1, -1, -1, 0, 1, "x.img"},
        KeywordCase{"SlashKeyword", {"/DOWNLOAD", "x.img"}, kDl, -1, -1, -1, 0, 1, "x.img"},
        KeywordCase{"AbsolutePathIsAFile", {"-DOWNLOAD", "/home/u/x.img"}, kDl, -1, -1, -1, 0, 1,
                    "/home/u/x.img"},
        KeywordCase{"SlashPathNamedLikeNoKeyword", {"/UPLOAD", "/tmp/ce"}, kUp, -1, -1, -1, 0, 1,
                    "/tmp/ce"},
        KeywordCase{"FileBeforeCommandIgnored", {"x.img", "-DOWNLOAD"}, kDl, -1, -1, -1, 0, 1, ""},
        KeywordCase{"ImportWithoutImpexIgnored", {"-IMPORT", "-IMPEX", "a.NB0"}, -1, -1, -1, -1, 1, 1,
                    ""},
        KeywordCase{"ImpexThenImport", {"-IMPEX", "-IMPORT", "/data/a.NB0"}, kImp, -1, -1, -1, 1, 1,
                    "/data/a.NB0"},
        KeywordCase{"ComponentsLastWins", {"-DOWNLOAD", "-CE", "-ALL", "x.img"}, kDl, kAll, -1, -1, 0,
                    1, "x.img"},
        KeywordCase{"Ce", {"-ce"}, -1, kCe, -1, -1, 0, 1, ""},
        KeywordCase{"Hwt", {"-Hwt"}, -1, kHwt, -1, -1, 0, 1, ""},
        KeywordCase{"PortAndBaud", {"-COM3", "-230400"}, -1, -1, 2, 230400, 0, 1, ""},
        KeywordCase{"PortLastWins", {"-COM4", "/com1"}, -1, -1, 0, -1, 0, 1, ""},
        KeywordCase{"EveryBaudRate", {"-19200", "-38400", "-57600"}, -1, -1, -1, 57600, 0, 1, ""},
        KeywordCase{"UnknownBaudIgnored", {"-9600", "-115200", "-4800"}, -1, -1, -1, 115200, 0, 1, ""},
        KeywordCase{"NoErase", {"-noerase"}, -1, -1, -1, -1, 0, 0, ""},
        KeywordCase{"UnknownKeywordsIgnored", {"-FOO", "/BAR", "-", "-COM5"}, -1, -1, -1, -1, 0, 1, ""},
        KeywordCase{"OnlyFirstFileTaken", {"-UPLOAD", "a.img", "b.img"}, kUp, -1, -1, -1, 0, 1, "a.img"},
        KeywordCase{"CommandChangesKeepFile", {"-UPLOAD", "a.img", "-DOWNLOAD"}, kDl, -1, -1, -1, 0, 1,
                    "a.img"},
        KeywordCase{"PortMappingSelectsPort", {"-COM3=/dev/ttyUSB0"}, -1, -1, 2, -1, 0, 1, ""},
        KeywordCase{"PortMappingBySlash", {"/com2=/dev/ttyACM0"}, -1, -1, 1, -1, 0, 1, ""},
        KeywordCase{"EmptyPortMappingIgnored", {"-COM2="}, -1, -1, -1, -1, 0, 1, ""}),
    [](const ::testing::TestParamInfo<KeywordCase>& info) { return std::string(info.param.name); });

TEST(CommandLine, PortMappingKeepsTheCaseOfThePath) {
    CTarnwickCommandLineInfo info;
    ParseCommandLine(info, {"-com3=/dev/serial/by-id/USB-Adapter", "-COM1=/dev/ttyS7"});
    ASSERT_TRUE(info.portPaths[2].has_value());
    EXPECT_EQ(*info.portPaths[2], "/dev/serial/by-id/USB-Adapter");
    EXPECT_EQ(*info.portPaths[0], "/dev/ttyS7");
    EXPECT_FALSE(info.portPaths[1].has_value());
    EXPECT_EQ(info.port, 0);  // the last port keyword wins
}

TEST(CommandLine, SlashArgumentIsAKeywordOnlyWhenOneFollows) {
    EXPECT_TRUE(IsCommandLineKeyword("download"));
    EXPECT_TRUE(IsCommandLineKeyword("COM4=/dev/x"));
    EXPECT_FALSE(IsCommandLineKeyword("home/u/x.img"));
    EXPECT_FALSE(IsCommandLineKeyword("COM5"));
}

// ApplyCommandLine and the start-up steps around it, against a settings file
// of the test's own.
class ApplyCommandLineTest : public ::testing::Test {
protected:
    void SetUp() override { SetSettingsFile(temp / "Tarnwick.ini"); }
    void TearDown() override { SetSettingsFile({}); }

    // The start-up order: settings taken up, command line applied, limited
    // outside IMPEX mode.
    CTarnwickApp& Start(const std::vector<std::string>& args) {
        CTarnwickCommandLineInfo info;
        ParseCommandLine(info, args);
        app.TakeUpSettings();
        EXPECT_EQ(app.ApplyCommandLine(info), 1);
        if (!app.impexMode) app.LimitToNormalInterface();
        return app;
    }

    testing::TempFolder temp;
    CTarnwickApp app;
};

TEST_F(ApplyCommandLineTest, FirstStartUsesCom1At115200AndErasesAll) {
    Start({});
    EXPECT_EQ(app.port, 0);
    EXPECT_EQ(app.baudRate, 115200u);
    EXPECT_EQ(app.eraseFlash, 1);
    EXPECT_FALSE(app.IsBatchMode());
    EXPECT_EQ(app.batchCommand, 0xFFFFFFFFu);
}

TEST_F(ApplyCommandLineTest, PortAndBaudAreStoredButLimitedOutsideImpex) {
    Start({"-COM3", "-230400"});
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", -1), 2);
    EXPECT_EQ(GetProfileInt("SETTINGS", "BAUDRATE", -1), 230400);
    EXPECT_EQ(app.port, 0);
    EXPECT_EQ(app.baudRate, 115200u);
}

TEST_F(ApplyCommandLineTest, ImpexKeepsTheFullRangeAndReadsTheEraseChoice) {
    WriteProfileInt("SETTINGS", "ERASE_FLASH", 0);
    Start({"-IMPEX", "-COM4", "-230400"});
    EXPECT_EQ(app.port, 3);
    EXPECT_EQ(app.baudRate, 230400u);
    EXPECT_EQ(app.eraseFlash, 0);
    EXPECT_EQ(app.impexMode, 1);
}

TEST_F(ApplyCommandLineTest, StoredEraseChoiceCountsOnlyInImpexMode) {
    WriteProfileInt("SETTINGS", "ERASE_FLASH", 0);
    Start({});
    EXPECT_EQ(app.eraseFlash, 1);
}

TEST_F(ApplyCommandLineTest, NoEraseActsOnThisRunOnly) {
    Start({"-NOERASE"});
    EXPECT_EQ(app.eraseFlash, 0);
    EXPECT_EQ(GetProfileInt("SETTINGS", "ERASE_FLASH", 7), 7);
}

TEST_F(ApplyCommandLineTest, StoredSettingsAreTakenUp) {
    WriteProfileInt("SETTINGS", "DEVICE", 1);
    WriteProfileInt("SETTINGS", "BAUDRATE", 38400);
    Start({});
    EXPECT_EQ(app.port, 1);
    EXPECT_EQ(app.baudRate, 38400u);
}

TEST_F(ApplyCommandLineTest, BatchDownloadTakesFileAndDefaultComponents) {
    Start({"-DOWNLOAD", "/srv/images/x.img"});
    EXPECT_TRUE(app.IsBatchMode());
    EXPECT_EQ(app.batchCommand, 32771u);
    EXPECT_EQ(app.batchComponents, 0x20000101u);
    EXPECT_EQ(app.batchFile, "/srv/images/x.img");
}

TEST_F(ApplyCommandLineTest, BatchComponentsFromKeyword) {
    Start({"-UPLOAD", "-HWT", "y.img"});
    EXPECT_EQ(app.batchCommand, 32772u);
    EXPECT_EQ(app.batchComponents, 0xC0u);
}

TEST_F(ApplyCommandLineTest, CommandWithoutFileStaysInteractive) {
    Start({"x.img", "-DOWNLOAD"});
    EXPECT_FALSE(app.IsBatchMode());
    EXPECT_TRUE(app.batchFile.empty());
}

TEST_F(ApplyCommandLineTest, PortMappingIsStoredUnderPorts) {
    Start({"-IMPEX", "-COM3=/dev/ttyUSB0"});
    EXPECT_EQ(GetProfileString("PORTS", "COM3", ""), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(2), "/dev/ttyUSB0");
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyS1");
    EXPECT_EQ(GetProfileInt("SETTINGS", "DEVICE", -1), 2);
    EXPECT_EQ(app.port, 2);
}

TEST(Version, ReadsAsTheAboutBox) { EXPECT_EQ(VersionText(), "V 6.0   Build 0.8"); }

}  // namespace
}  // namespace tarnwick
