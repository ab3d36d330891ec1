#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "launcher/private_profile.h"

namespace vestibule {
namespace {

// ---------------------------------------------------------------- hex values

struct HexCase {
    const char* text;
    std::optional<std::uint16_t> value;
};

TEST(ReadHex16, ReadsLikeShortHexScan) {
    const HexCase cases[] = {
        {"7", 0x0007},        {"0407", 0x0407},     {"0x1F", 0x001F},    {"0X1f", 0x001F},
        {"ffff", 0xFFFF},     {"FFFF", 0xFFFF},     {"12345", 0x2345},   {"7z", 0x0007},
        {"9 ; German", 0x09}, {" \t0c", 0x000C},    {"0x", 0x0000},      {"0xg", 0x0000},
        {"", std::nullopt},   {"z7", std::nullopt}, {"x7", std::nullopt}, {"-1", std::nullopt},
        {"+7", std::nullopt}, {" ", std::nullopt},
    };
    for (const HexCase& c : cases) {
        EXPECT_EQ(ReadHex16(c.text), c.value) << "text \"" << c.text << "\"";
    }
}

// ------------------------------------------------------------- the profile

TEST(PrivateProfile, FindsSectionsAndKeysWithoutRegardToCase) {
    const PrivateProfile ini = PrivateProfile::Parse(
        "\xEF\xBB\xBF; comment\r\n"
        "Orphan=before any section\r\n"
        "[ startup ]\r\n"
        "  BEGIN =  ..\\disk1\\setup.exe /a=b  \r\n"
        "Empty=\r\n"
        "NoEquals\r\n"
        "[Languages]\r\n"
        "0407=7\r\n"
        "0407=8\r\n"
        "[StartUp]\r\n"
        "Begin=second\r\n");
    EXPECT_EQ(ini.Find("StartUp", "Begin"), "..\\disk1\\setup.exe /a=b");
    EXPECT_EQ(ini.Find("STARTUP", "begin"), "..\\disk1\\setup.exe /a=b");
    EXPECT_EQ(ini.Find("languages", "0407"), "7");
    EXPECT_EQ(ini.Find("StartUp", "Empty"), "");
    EXPECT_EQ(ini.Find("StartUp", "NoEquals"), std::nullopt);
    EXPECT_EQ(ini.Find("StartUp", "Orphan"), std::nullopt);
    EXPECT_EQ(ini.Find("Languages", "Default"), std::nullopt);
    EXPECT_EQ(ini.GetString("Languages", "Default", "none"), "none");
    // A key that is present but empty is not replaced by the default.
    EXPECT_EQ(ini.GetString("StartUp", "Empty", "none"), "");
}

TEST(PrivateProfile, MissingFileReadsAsEmpty) {
    const PrivateProfile ini = PrivateProfile::Load("/nonexistent/vestibule/setup.ini");
    EXPECT_EQ(ini.GetString("StartUp", "Begin", kDefaultBegin), "..\\system\\disk1\\setup.exe");
}

// ------------------------------------------------------- arguments and locale

struct SplitCase {
    const char* tail;
    std::vector<std::string> arguments;
};

TEST(SplitArguments, EverySpaceAndTabEndsAnArgument) {
    const SplitCase cases[] = {
        {"", {}},
        {"/s", {"/s"}},
        {"/a /b", {"/a", "/b"}},
        {"/a\t/b", {"/a", "/b"}},
        {"/a  /b", {"/a", "", "/b"}},
        {"/a \t/b", {"/a", "", "/b"}},
        {" /a", {"", "/a"}},
        {"/a ", {"/a"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitArguments(c.tail), c.arguments) << "tail \"" << c.tail << "\"";
    }
}

TEST(CommandTail, JoinsArgumentsWithOneSpace) {
    const char* none[] = {"vestibule"};
    EXPECT_EQ(CommandTail(1, none), "");
    const char* some[] = {"vestibule", "/s", "", "a b"};
    EXPECT_EQ(CommandTail(4, some), "/s  a b");
}

struct LocaleCase {
    const char* locale;
    std::optional<std::uint16_t> id;
};

TEST(LanguageIdFromLocale, MapsLocalesToWindowsLanguageIds) {
    const LocaleCase cases[] = {
        {"de_DE.UTF-8", 0x0407}, {"de_AT", 0x0C07},          {"de_CH.utf8", 0x0807},
        {"en_US.UTF-8", 0x0409}, {"en_GB", 0x0809},          {"fr_FR@euro", 0x040C},
        {"it_IT.UTF-8", 0x0410}, {"es_ES.UTF-8", 0x0C0A},    {"nl_NL", 0x0413},
        {"pt_BR", 0x0416},       {"ja_JP.eucJP", 0x0411},    {"de", 0x0407},
        {"de_BE.UTF-8", 0x0407}, {"es_MX", 0x080A},          {"DE_de", 0x0407},
        {"xx_YY", 0x0000},       {"C", std::nullopt},        {"POSIX", std::nullopt},
        {"C.UTF-8", std::nullopt},
    };
    for (const LocaleCase& c : cases) {
        EXPECT_EQ(LanguageIdFromLocale(c.locale), c.id) << "locale " << c.locale;
    }
}

struct EnvironmentCase {
    std::map<std::string, std::string> environment;
    std::optional<std::uint16_t> id;
};

TEST(UserUiLanguage, FirstSetLocaleVariableDecides) {
    const EnvironmentCase cases[] = {
        {{}, std::nullopt},
        {{{"LANG", "de_DE.UTF-8"}}, 0x0407},
        {{{"LC_MESSAGES", "fr_FR"}, {"LANG", "de_DE"}}, 0x040C},
        {{{"LC_ALL", "it_IT"}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "de_DE"}}, 0x0410},
        {{{"LC_ALL", ""}, {"LANG", "nl_NL"}}, 0x0413},
        {{{"LC_ALL", "C"}, {"LANG", "de_DE"}}, std::nullopt},
        {{{"LANG", "POSIX"}}, std::nullopt},
        {{{"LC_CTYPE", "de_DE"}}, std::nullopt},
    };
    for (const EnvironmentCase& c : cases) {
        const auto getEnv = [&](const char* name) -> const char* {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? nullptr : found->second.c_str();
        };
        EXPECT_EQ(UserUiLanguage(getEnv), c.id) << "case with " << c.environment.size() << " variables";
    }
}

// ------------------------------------------------------------ the command

struct CommandCase {
    const char* name;
    const char* ini;
    const char* tail;
    std::optional<std::uint16_t> ui;
    const char* command;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

constexpr const char* kLanguages = "[Languages]\nDefault=9\n0407=7\n040c=0x0C\n0c0a=a\n";

class BuildCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(BuildCommandTest, BuildsTheCommandExactly) {
    const CommandCase& c = GetParam();
    EXPECT_EQ(BuildCommand("setup", c.tail, PrivateProfile::Parse(c.ini), c.ui), c.command);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildCommandTest,
    ::testing::Values(
        CommandCase{"NoArgumentsLanguageEntry", kLanguages, "", 0x0407, "setup -L0007 "},
        CommandCase{"NoEntryNoDefault", "[Languages]\n040c=c\n", "", 0x0407, "setup -L0009 "},
        CommandCase{"NoLanguagesSection", "", "", 0x0409, "setup -L0009 "},
        CommandCase{"DefaultWhenNoEntry", "[Languages]\nDefault=0x13\n", "", 0x0809,
                    "setup -L0013 "},
        CommandCase{"UnreadableDefault", "[Languages]\nDefault=nine\n", "", 0x0809,
                    "setup -L0009 "},
        CommandCase{"EntryIsHexNotDecimal", "[Languages]\nDefault=3\n0407=de\n", "", 0x0407,
                    "setup -L00de "},
        CommandCase{"UnreadableEntryUsesDefault", "[Languages]\nDefault=3\n0407=g\n", "", 0x0407,
                    "setup -L0003 "},
        CommandCase{"KeyIsLowerCaseHex", kLanguages, "", 0x0C0A, "setup -L000a "},
        CommandCase{"CaseAndBlanksInProfile", "[LANGUAGES]\n 0407 = 0x7 \n", "", 0x0407,
                    "setup -L0007 "},
        CommandCase{"SilentNoLanguageCheck", kLanguages, "/s -NOLANGCHECK", 0x0407, "setup /s"},
        CommandCase{"NoLanguageCheckFirstLowerCase", kLanguages, "/nolangcheck /s", 0x0407,
                    "setup /s"},
        CommandCase{"NoLanguageCheckAfterText", kLanguages, "x/NOLANGCHECK", 0x0407, "setup"},
        CommandCase{"NoLanguageCheckMustMatchWholly", kLanguages, "-NOLANGCHECKS", 0x0407,
                    "setup -NOLANGCHECKS -L0007 "},
        CommandCase{"DoubleDashIsNotNoLanguageCheck", kLanguages, "--NOLANGCHECK", 0x0407,
                    "setup --NOLANGCHECK -L0007 "},
        CommandCase{"OwnSwitchPassedOn", kLanguages, "-L0409", 0x0407, "setup -L0409"},
        CommandCase{"OwnSwitchLowerCase", kLanguages, "/l0c0a", 0x0407, "setup /l0c0a"},
        CommandCase{"L1009IsNoSwitch", kLanguages, "-L1009", 0x0407, "setup -L1009 -L0007 "},
        CommandCase{"OnlyTextAfterFirstMarkCounts", kLanguages, "x-y/L0", 0x0407,
                    "setup x-y/L0 -L0007 "},
        CommandCase{"TabBecomesSpace", kLanguages, "/a\t/b", 0x040C, "setup /a /b -L000c "},
        CommandCase{"EmptyArgumentsKept", kLanguages, "/a  /b", 0x0407, "setup /a  /b -L0007 "},
        CommandCase{"NoUiLanguage", kLanguages, "/s", std::nullopt, "setup /s"},
        CommandCase{"NoUiLanguageNoArguments", kLanguages, "", std::nullopt, "setup"}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

TEST(BuildCommand, LongCommandIsNotCut) {
    const std::string begin(700, 'b');
    const std::string argument(300, 'a');
    const std::string command =
        BuildCommand(begin, "/x " + argument, PrivateProfile::Parse(kLanguages), 0x0407);
    EXPECT_EQ(command, begin + " /x " + argument + " -L0007 ");
}

// ------------------------------------------------------- what the shell runs

TEST(FirstWord, TakesTheProgramOfTheCommand) {
    EXPECT_EQ(FirstWord("../system/disk1/setup.exe -L0007 "), "../system/disk1/setup.exe");
    EXPECT_EQ(FirstWord("  prog\t/s"), "prog");
    EXPECT_EQ(FirstWord("\"my dir/setup\" /s"), "my dir/setup");
    EXPECT_EQ(FirstWord(" -L0007 "), "-L0007");
    EXPECT_EQ(FirstWord(""), "");
}

TEST(NamesExecutable, FindsPathsAndSearchesPath) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vestibule-exe-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "sub");
    const std::string runnable = (dir / "run.sh").string();
    const std::string plain = (dir / "plain.txt").string();
    std::ofstream(runnable) << "#!/bin/sh\n";
    std::ofstream(plain) << "text\n";
    chmod(runnable.c_str(), 0755);
    chmod(plain.c_str(), 0644);

    EXPECT_TRUE(NamesExecutable(runnable, nullptr));
    EXPECT_FALSE(NamesExecutable(plain, nullptr));
    EXPECT_FALSE(NamesExecutable((dir / "missing").string(), nullptr));
    EXPECT_FALSE(NamesExecutable((dir / "sub").string(), nullptr));
    EXPECT_FALSE(NamesExecutable("", nullptr));
    const std::string searchPath = "/nonexistent:" + dir.string();
    EXPECT_TRUE(NamesExecutable("run.sh", searchPath.c_str()));
    EXPECT_FALSE(NamesExecutable("plain.txt", searchPath.c_str()));
    EXPECT_TRUE(NamesExecutable("sh", nullptr));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vestibule
