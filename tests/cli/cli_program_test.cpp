// Runs the built tarnwick-cli as a user would, with a settings folder, a
// runtime folder and a locale of the test's own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/instance_lock.h"
#include "app/temp_folder.h"
#include "support/spawn_arrays.h"

extern char** environ;

namespace tarnwick {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class CliProgram : public ::testing::Test {
protected:
    void SetUp() override {
        env = {
            {"PATH", "/usr/bin:/bin"},
            {"HOME", temp / "home"},
            {"XDG_CONFIG_HOME", temp / "config"},
            {"XDG_RUNTIME_DIR", temp.Path()},
            {"LANG", "de_DE.UTF-8"},
        };
    }

    std::string SettingsFile() const { return temp / "config/Valdore/Tarnwick.ini"; }

    Outcome Run(const std::vector<std::string>& args) {
        const std::string program = TARNWICK_BIN_DIR "/tarnwick-cli";
        const std::string outFile = temp / "stdout", errFile = temp / "stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        testing::CStringArray argv(testing::CommandLine(program, args));
        testing::CStringArray envp(testing::EnvironmentEntries(env));

        Outcome outcome;
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            ADD_FAILURE() << "cannot start " << program;
            return outcome;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.out = testing::ReadWholeFile(outFile);
        outcome.err = testing::ReadWholeFile(errFile);
        return outcome;
    }

    static std::size_t Lines(const std::string& text) {
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }

    testing::TempFolder temp;
    std::map<std::string, std::string> env;
};

TEST_F(CliProgram, StoresPortAndBaudRateWithoutABatchCommand) {
    const Outcome r = Run({"-COM3", "-230400"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(testing::ReadWholeFile(SettingsFile()), "[SETTINGS]\nDEVICE=2\nBAUDRATE=230400\n");
    EXPECT_NE(r.err.find("no batch command"), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err), 1u);
    EXPECT_EQ(r.out, "");
}

TEST_F(CliProgram, PortMappingIsStored) {
    const Outcome r = Run({"-COM2=/dev/ttyUSB0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(testing::ReadWholeFile(SettingsFile()),
              "[PORTS]\nCOM2=/dev/ttyUSB0\n\n[SETTINGS]\nDEVICE=1\n");
}

TEST_F(CliProgram, BatchCommandTakesAnAbsolutePathAsItsFile) {
    const Outcome r = Run({"-DOWNLOAD", "/abs/path/x.img", "-COM2"});
    // The command runs (here: cannot open the document) instead of falling
    // back to "no batch command", so the path was taken as the file.
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Datei nicht gefunden"), std::string::npos) << r.err;
    EXPECT_EQ(testing::ReadWholeFile(SettingsFile()), "[SETTINGS]\nDEVICE=1\n");
}

TEST_F(CliProgram, CommandWithoutItsFileIsBadUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"x.img", "-DOWNLOAD", "-COM2"}, {"-IMPORT", "-IMPEX", "a.NB0"}}) {
        const Outcome r = Run(args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(SettingsFile())) << "nothing stored on bad usage";
    }
}

TEST_F(CliProgram, SecondCopyEndsWithStatusThreeAndTouchesNothing) {
    InstanceLock running;
    ASSERT_EQ(running.Acquire(temp / "Tarnwick.lock"), InstanceLock::Result::Acquired);
    const Outcome r = Run({"-COM3", "-230400"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(Lines(r.err), 1u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
    running.Release();
    EXPECT_EQ(Run({"-COM3"}).status, 0);
}

TEST_F(CliProgram, SettingsFolderThatCannotBeCreatedIsOneLineAndTheCommandRuns) {
    temp.Write("config", "a file, not a folder");
    const Outcome r = Run({"-COM2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.err), 2u) << r.err;
    EXPECT_NE(r.err.find("settings folder"), std::string::npos) << r.err;
    EXPECT_EQ(testing::ReadWholeFile(temp / "config"), "a file, not a folder");
}

TEST_F(CliProgram, MalformedSettingsAreKept) {
    temp.Write("config/Valdore/Tarnwick.ini", "junk line\n[SETTINGS]\nBAUDRATE=oops\n");
    EXPECT_EQ(Run({"-COM2"}).status, 0);
    EXPECT_EQ(testing::ReadWholeFile(SettingsFile()),
              "junk line\n[SETTINGS]\nBAUDRATE=oops\nDEVICE=1\n");
}

TEST_F(CliProgram, TextsFollowTheLocale) {
    struct Case {
        std::map<std::string, std::string> locale;
        const char* text;
    };
    const Case cases[] = {
        {{{"LANG", "en_US.UTF-8"}}, "File not found\n"},
        {{{"LANG", "fr_FR.UTF-8"}}, "Datei nicht gefunden\n"},  // no 40C file: German
        {{{"LANG", "de_DE.UTF-8"}}, "Datei nicht gefunden\n"},
        {{{"LANG", "de_DE.UTF-8"}, {"LC_ALL", "en_GB.UTF-8"}}, "File not found\n"},
    };
    for (const auto& c : cases) {
        env.erase("LC_ALL");
        for (const auto& [k, v] : c.locale) env[k] = v;
        const Outcome r = Run({"--text", "10015"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.text) << c.locale.begin()->second;
    }
}

TEST_F(CliProgram, HelpAndVersion) {
    const Outcome version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tarnwick-cli V 6.0   Build 0.8\n");
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("-DOWNLOAD FILE"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
    EXPECT_EQ(Run({"--bogus"}).status, 2);
    EXPECT_EQ(Run({"--quiet", "-COM1"}).status, 0);
}

}  // namespace
}  // namespace tarnwick
