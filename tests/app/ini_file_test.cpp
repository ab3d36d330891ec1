#include "app/ini_file.h"

#include <gtest/gtest.h>

#include <string>

#include "app/tarnwick_app.h"
#include "app/temp_folder.h"

namespace tarnwick {
namespace {

// The program INI beside a (pretend) program in a folder of the test's own.
class ProgramIni : public ::testing::Test {
protected:
    void SetUp() override {
        app.LocateProgram(temp / "tarnwick-cli");
        temp.Write("tarnwick.INI",
                   "; target variants\r\n"
                   "[KV10-VARIANTS]\r\n"
                   "V1 = Standard 16 MB \r\n"
                   "  [ kv10-v1 ]  \r\n"
                   "SIZE_FLASH=0x00400000\r\n"
                   "SIZE_DRAM = 0X10\r\n"
                   "SIZE_LOADER=400000\r\n"
                   "START_FLASH=\r\n"
                   "UPPER=0xFFFFFFFF\r\n"
                   "TOO_BIG=0x100000000\r\n"
                   "NEGATIVE=0x-1\r\n"
                   "TRAILING=0x20 bytes\r\n"
                   "LONG=" + std::string(120, 'L') + "\r\n"
                   "QUOTED=\"  padded  \"\r\n"
                   "[OTHER]\r\n"
                   "SIZE_FLASH=0x1\r\n");
    }

    testing::TempFolder temp;
    CTarnwickApp app;
};

TEST_F(ProgramIni, LiesBesideTheProgramsWithTheProductName) {
    EXPECT_EQ(app.iniPath, temp / "tarnwick.INI");
    EXPECT_EQ(app.ProgramFolder(), temp.Path() + "/");
}

struct HexCase {
    const char* key;
    std::uint32_t expected;
};

TEST_F(ProgramIni, ReadIniHexTakesOnlyLowerCase0xFollowedByHexDigits) {
    constexpr std::uint32_t kDefault = 0x1234;
    const HexCase cases[] = {
        {"SIZE_FLASH", 4194304},     // 0x00400000
        {"SIZE_DRAM", kDefault},     // 0X10: capital X
        {"SIZE_LOADER", kDefault},   // no prefix
        {"START_FLASH", kDefault},   // empty value
        {"MISSING", kDefault},       // no such key
        {"UPPER", 0xFFFFFFFFu},
        {"TOO_BIG", kDefault},       // does not fit 32 bits
        {"NEGATIVE", kDefault},
        {"TRAILING", 0x20},          // the scan stops at the first non-digit
    };
    for (const auto& c : cases)
        EXPECT_EQ(app.ReadIniHex("KV10-V1", c.key, kDefault), c.expected) << c.key;
}

TEST_F(ProgramIni, MissingFileGivesDefaults) {
    CTarnwickApp other;
    other.LocateProgram(temp / "sub/tarnwick");
    EXPECT_EQ(other.ReadIniHex("KV10-V1", "SIZE_FLASH", 7), 7u);
    EXPECT_EQ(other.ReadIniString("KV10-V1", "SIZE_FLASH"), "");
    EXPECT_EQ(other.ReadIniString("KV10-V1", "SIZE_FLASH", "dflt"), "dflt");
}

TEST_F(ProgramIni, SectionsAndKeysIgnoreCaseAndValuesAreTrimmed) {
    EXPECT_EQ(app.ReadIniString("kv10-variants", "v1"), "Standard 16 MB");
    EXPECT_EQ(app.ReadIniString("KV10-V1", "size_flash"), "0x00400000");
    EXPECT_EQ(app.ReadIniString("OTHER", "SIZE_FLASH"), "0x1");  // the right section
    EXPECT_EQ(app.ReadIniString("KV10-V1", "QUOTED"), "  padded  ");
}

TEST_F(ProgramIni, LongValueIsCutToNinetyNineCharacters) {
    EXPECT_EQ(app.ReadIniString("KV10-V1", "LONG"), std::string(99, 'L'));
}

TEST(IniHexScan, Examples) {
    EXPECT_EQ(ScanIniHex("0x00400000", 1), 4194304u);
    EXPECT_EQ(ScanIniHex("0X10", 1), 1u);
    EXPECT_EQ(ScanIniHex("400000", 1), 1u);
    EXPECT_EQ(ScanIniHex("0x", 1), 1u);
    EXPECT_EQ(ScanIniHex("0xabcDEF", 1), 0xABCDEFu);
}

}  // namespace
}  // namespace tarnwick
