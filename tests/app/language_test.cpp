#include "app/language.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/string_table.h"
#include "app/strings_de.h"
#include "app/tarnwick_app.h"
#include "app/temp_folder.h"

namespace tarnwick {
namespace {

EnvLookup FakeEnv(std::map<std::string, std::string> vars) {
    return [vars = std::move(vars)](const char* name) -> const char* {
        const auto it = vars.find(name);
        return it == vars.end() ? nullptr : it->second.c_str();
    };
}

struct LocaleCase {
    std::map<std::string, std::string> env;
    unsigned number;
};

TEST(Language, NumberFromTheLocaleVariables) {
    const LocaleCase cases[] = {
        {{{"LANG", "de_DE.UTF-8"}}, 0x407},
        {{{"LANG", "de_AT.UTF-8"}}, 0x407},
        {{{"LANG", "es_ES.UTF-8"}}, 0x40A},
        {{{"LANG", "fr_FR.UTF-8"}}, 0x40C},
        {{{"LANG", "fr_CA"}}, 0x40C},
        {{{"LANG", "it_IT@euro"}}, 0x410},
        {{{"LANG", "nl_NL.UTF-8"}}, 0x409},  // Dutch has no file of its own
        {{{"LANG", "en_US.UTF-8"}}, 0x409},
        {{{"LANG", "C"}}, 0x409},
        {{{"LANG", "xx_YY"}}, 0x409},
        {{}, 0x409},  // nothing set: the language cannot be told
        // The first variable that is set wins, an empty one counts as unset.
        {{{"LC_ALL", "fr_FR"}, {"LC_MESSAGES", "de_DE"}, {"LANG", "it_IT"}}, 0x40C},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", "de_DE"}, {"LANG", "it_IT"}}, 0x407},
        {{{"LC_MESSAGES", ""}, {"LANG", "es_MX"}}, 0x40A},
        // Languages whose primary id is above 0x3F keep their own number:
        // Gujarati 0x47, Telugu 0x4A, Malayalam 0x4C, Mongolian 0x50.
        {{{"LANG", "gu_IN"}}, 0x409},
        {{{"LANG", "te_IN"}}, 0x409},
        {{{"LANG", "ml_IN"}}, 0x409},
        {{{"LANG", "mn_MN"}}, 0x409},
    };
    for (const auto& c : cases) {
        const auto id = UserDefaultUILanguage(FakeEnv(c.env));
        EXPECT_EQ(LanguageNumber(id), c.number)
            << (c.env.empty() ? std::string("(none)") : c.env.rbegin()->second);
    }
}

TEST(Language, IdsOfLocales) {
    EXPECT_EQ(LanguageIdFromLocale("de_DE.UTF-8"), 0x0407);
    EXPECT_EQ(LanguageIdFromLocale("de_CH"), 0x0807);
    EXPECT_EQ(LanguageIdFromLocale("nl"), 0x0413);
    EXPECT_EQ(LanguageIdFromLocale("en_GB.ISO-8859-1"), 0x0809);
    EXPECT_EQ(LanguageIdFromLocale("POSIX"), 0x0409);
    EXPECT_EQ(LanguageIdFromLocale("klingon"), std::nullopt);
    EXPECT_EQ(UserDefaultUILanguage(FakeEnv({})), std::nullopt);
    EXPECT_EQ(UserDefaultUILanguage(FakeEnv({{"LANG", "xx"}})), 0);
}

TEST(Language, FileNames) {
    EXPECT_EQ(LanguageFileName(0x407), "TarnwickRes407.DLL");
    EXPECT_EQ(LanguageFileName(0x40A), "TarnwickRes40A.DLL");
    EXPECT_EQ(LanguageFileName(0x410), "TarnwickRes410.DLL");
}

TEST(LanguageFileFormat, EscapesAndMalformedLines) {
    const auto table = ParseLanguageText(
        "\xEF\xBB\xBF# comment\n"
        "11012\tOk\\r\\n\r\n"
        "\n"
        "20000\tTab\\there, back\\\\slash\n"
        "20001\tbad escape \\q\n"
        "20002 no tab\n"
        "x20003\tnot a number\n"
        "20004\t\n"
        "11012\tsecond entry of a number\n");
    EXPECT_EQ(table.size(), 3u);
    EXPECT_EQ(table.at(11012), "Ok\r\n");
    EXPECT_EQ(table.at(20000), "Tab\there, back\\slash");
    EXPECT_EQ(table.at(20004), "");
    EXPECT_EQ(ParseLanguageText(EscapeLanguageText("a\r\n\tb\\c"))
                  .size(), 0u) << "an escaped text alone has no number";
    EXPECT_EQ(ParseLanguageText("1\t" + EscapeLanguageText("a\r\n\tb\\c")).at(1), "a\r\n\tb\\c");
}

TEST(BuiltinTable, IsSortedWithoutDuplicates) {
    for (std::size_t i = 1; i < kGermanStringCount; ++i)
        EXPECT_LT(kGermanStrings[i - 1].id, kGermanStrings[i].id) << kGermanStrings[i].id;
}

TEST(BuiltinTable, HoldsTheTextsTheProgramLoadsFirst) {
    EXPECT_EQ(BuiltinString(57344), "Tarnwick");
    EXPECT_EQ(BuiltinString(100),
              "Fehler bei der OLE-Initialisierung. Überprüfen Sie, ob die OLE-Bibliotheken in der "
              "richtigen Version vorliegen.");
    EXPECT_EQ(BuiltinString(11000),
              "Daten entsprechen nicht dem Format von Tarnwick\r\nDatei öffnen abgebrochen\r\n\n");
    EXPECT_EQ(BuiltinString(61699), "Änderungen in %1 speichern?");
    EXPECT_EQ(BuiltinString(99999), std::nullopt);
}

// What a text's formatting needs: printf conversions and %1/%2 in order.
std::vector<std::string> Placeholders(const std::string& text) {
    static const std::regex kPattern("%(%|[-0-9.]*[dsxXu]|[0-9])");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kPattern);
         it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

TEST(EnglishFile, HasEveryTextWithTheSamePlaceholdersAndLineEnds) {
    const std::string content = testing::ReadWholeFile(TARNWICK_SOURCE_DIR "/app/lang/TarnwickRes409.txt");
    const auto english = ParseLanguageText(content);
    ASSERT_FALSE(english.empty());
    for (std::size_t i = 0; i < kGermanStringCount; ++i) {
        const unsigned id = kGermanStrings[i].id;
        const std::string german(kGermanStrings[i].text);
        const auto it = english.find(id);
        ASSERT_NE(it, english.end()) << "no English text " << id;
        EXPECT_EQ(Placeholders(it->second), Placeholders(german)) << id;
        // Log lines keep their line structure; menus keep the tool tip part.
        EXPECT_EQ(std::count(it->second.begin(), it->second.end(), '\n'),
                  std::count(german.begin(), german.end(), '\n')) << id;
        EXPECT_EQ(std::count(it->second.begin(), it->second.end(), '\r'),
                  std::count(german.begin(), german.end(), '\r')) << id;
    }
    EXPECT_EQ(english.size(), kGermanStringCount) << "the English file has texts the program lacks";
}

TEST(EnglishFile, IsInstalledBesideThePrograms) {
    EXPECT_EQ(testing::ReadWholeFile(TARNWICK_BIN_DIR "/TarnwickRes409.DLL"),
              testing::ReadWholeFile(TARNWICK_SOURCE_DIR "/app/lang/TarnwickRes409.txt"));
}

// Loading through the application object, with a program folder of the test's own.
class LanguageLoading : public ::testing::Test {
protected:
    void SetUp() override { app.LocateProgram(temp / "tarnwick"); }
    void TearDown() override { UnloadLanguageFile(); }

    testing::TempFolder temp;
    CTarnwickApp app;
};

TEST_F(LanguageLoading, FileOfTheUserLanguageReplacesTheTextsItHolds) {
    temp.Write("TarnwickRes40C.DLL", "10015\tFichier introuvable\n");
    EXPECT_EQ(app.LanguageLibraryPath(FakeEnv({{"LANG", "fr_FR.UTF-8"}})),
              temp / "TarnwickRes40C.DLL");
    EXPECT_TRUE(app.LoadUserLanguage(FakeEnv({{"LANG", "fr_FR.UTF-8"}})));
    EXPECT_TRUE(app.languageLibrary);
    EXPECT_EQ(Text(10015), "Fichier introuvable");
    EXPECT_EQ(Text(10016), "Ungültiger Import-Header") << "missing ids stay German";
    EXPECT_EQ(BuiltinString(10015), "Datei nicht gefunden");
}

TEST_F(LanguageLoading, MissingFileIsSilentlyGerman) {
    EXPECT_FALSE(app.LoadUserLanguage(FakeEnv({{"LANG", "fr_FR.UTF-8"}})));
    EXPECT_FALSE(app.languageLibrary);
    EXPECT_FALSE(LanguageFileLoaded());
    EXPECT_EQ(Text(10015), "Datei nicht gefunden");
}

TEST_F(LanguageLoading, FolderInPlaceOfTheFileIsNotLoaded) {
    std::filesystem::create_directory(temp / "TarnwickRes409.DLL");
    EXPECT_FALSE(app.LoadUserLanguage(FakeEnv({{"LANG", "en_US"}})));
    EXPECT_EQ(Text(10015), "Datei nicht gefunden");
}

TEST_F(LanguageLoading, TextsCanBeLoadedFromManyThreadsWhileAFileArrives) {
    const std::string file = temp.Write("TarnwickRes409.DLL", "10015\tFile not found\n");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] {
            while (!stop) {
                const std::string text = Text(10015);
                if (text != "File not found" && text != "Datei nicht gefunden") ++bad;
            }
        });
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(LoadLanguageFile(file));
        UnloadLanguageFile();
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace tarnwick
