// Runs the built vestibule as a user would: a setup.ini in a fresh folder, a
// recording script as the setup program, and the locale in the environment.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "launcher/launcher.h"

namespace vestibule {
namespace {

namespace fs = std::filesystem;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class VestibuleRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vestibule-run-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    void WriteFile(const fs::path& relative, const std::string& text, mode_t mode = 0644) {
        const fs::path path = dir_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        chmod(path.c_str(), mode);
    }

    // A setup program that writes each argument it got on a line of its own.
    // The file appears at once by rename, so a reader never sees half of it.
    void WriteRecorder(const fs::path& relative) {
        const std::string record = (dir_ / "args.txt").string();
        WriteFile(relative,
                  "#!/bin/sh\n"
                  "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record + ".part'\n"
                  "mv '" + record + ".part' '" + record + "'\n",
                  0755);
    }

    RunResult Run(const std::vector<std::string>& arguments,
                  const std::vector<std::string>& locale, const fs::path& cwd = {}) {
        std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
        environment.insert(environment.end(), locale.begin(), locale.end());
        const std::string program = std::string(TARNWICK_BIN_DIR) + "/vestibule";
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const fs::path workdir = dir_ / cwd;
        const fs::path outPath = dir_ / "vestibule.out";
        const fs::path errPath = dir_ / "vestibule.err";

        const pid_t child = fork();
        if (child == 0) {
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0 || chdir(workdir.c_str()) != 0) _exit(126);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        RunResult result;
        int status = 0;
        if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
            result.status = WEXITSTATUS(status);
        }
        result.out = ReadAll(outPath);
        result.err = ReadAll(errPath);
        return result;
    }

    // The launcher does not wait for the setup, so its record is polled for
    // a bounded number of short retries.
    std::optional<std::vector<std::string>> Recorded() {
        const fs::path record = dir_ / "args.txt";
        for (int attempt = 0; attempt < 1000 && !fs::exists(record); ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!fs::exists(record)) return std::nullopt;
        std::vector<std::string> lines;
        std::istringstream text(ReadAll(record));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }

    bool RecordExists() const { return fs::exists(dir_ / "args.txt"); }

    fs::path dir_;
};

// ------------------------------------------------------ the table of runs

struct RunCase {
    const char* name;
    const char* ini;
    std::vector<std::string> arguments;
    std::vector<std::string> locale;
    std::vector<std::string> received;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

// "Begin" names the recorder the Windows way; it must still be found here.
constexpr const char* kIni =
    "[StartUp]\r\nBegin=.\\record.sh\r\n"
    "[Languages]\r\nDefault=9\r\n0407=7\r\n040c=0x0C\r\n0c07=3\r\n";

class VestibuleCases : public VestibuleRun, public ::testing::WithParamInterface<RunCase> {};

TEST_P(VestibuleCases, SetupReceivesTheArguments) {
    const RunCase& c = GetParam();
    WriteFile("setup.ini", c.ini);
    WriteRecorder("record.sh");
    const RunResult result = Run(c.arguments, c.locale);
    EXPECT_EQ(result.status, kStarted);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Recorded(), std::optional(c.received));
}

INSTANTIATE_TEST_SUITE_P(
    Table, VestibuleCases,
    ::testing::Values(
        RunCase{"NoArgumentsGermanUser", kIni, {}, {"LANG=de_DE.UTF-8"}, {"-L0007"}},
        RunCase{"NoEntryNoDefault", "[StartUp]\nBegin=.\\record.sh\n[Languages]\n040c=c\n", {},
                {"LANG=de_DE.UTF-8"}, {"-L0009"}},
        RunCase{"SilentNoLanguageCheck", kIni, {"/s", "-NOLANGCHECK"}, {"LANG=de_DE.UTF-8"},
                {"/s"}},
        RunCase{"OwnLanguageSwitch", kIni, {"-L0409"}, {"LANG=de_DE.UTF-8"}, {"-L0409"}},
        RunCase{"L1009IsNoLanguageSwitch", kIni, {"-L1009"}, {"LANG=de_DE.UTF-8"},
                {"-L1009", "-L0007"}},
        RunCase{"TabSeparatedArguments", kIni, {"/a\t/b"}, {"LANG=de_DE.UTF-8"},
                {"/a", "/b", "-L0007"}},
        RunCase{"NoLocale", kIni, {"/s"}, {}, {"/s"}},
        RunCase{"CLocale", kIni, {}, {"LANG=C.UTF-8"}, {}},
        RunCase{"LcAllFirst", kIni, {}, {"LC_ALL=fr_FR.UTF-8", "LANG=de_DE.UTF-8"}, {"-L000c"}},
        RunCase{"LcMessagesBeforeLang", kIni, {}, {"LC_MESSAGES=de_AT.UTF-8", "LANG=fr_FR"},
                {"-L0003"}},
        RunCase{"UnknownLanguageTakesDefault", kIni, {}, {"LANG=en_US.UTF-8"}, {"-L0009"}},
        RunCase{"BeginWithArguments", "[startup]\nbegin = .\\record.sh /x \n", {"/y"},
                {"LANG=de_DE"}, {"/x", "/y", "-L0009"}}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return info.param.name; });

// ------------------------------------------------ defaults and refusals

TEST_F(VestibuleRun, MissingSetupIniStartsTheDefaultSetup) {
    fs::create_directories(dir_ / "cd");
    WriteRecorder("system/disk1/setup.exe");
    const RunResult result = Run({}, {"LANG=de_DE.UTF-8"}, "cd");
    EXPECT_EQ(result.status, kStarted);
    EXPECT_EQ(Recorded(), std::optional(std::vector<std::string>{"-L0009"}));
}

TEST_F(VestibuleRun, MissingSetupIniAndNoSetupFailsSilently) {
    fs::create_directories(dir_ / "cd");
    const RunResult result = Run({"/s"}, {"LANG=de_DE.UTF-8"}, "cd");
    EXPECT_EQ(result.status, kNotExecutable);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
}

TEST_F(VestibuleRun, BeginThatIsNoExecutableFailsSilently) {
    for (const char* ini : {"[StartUp]\nBegin=.\\missing.sh\n", "[StartUp]\nBegin=.\\plain.txt\n",
                            "[StartUp]\nBegin=\n"}) {
        WriteFile("setup.ini", ini);
        WriteFile("plain.txt", "#!/bin/sh\ntouch args.txt\n", 0644);
        const RunResult result = Run({"/s"}, {"LANG=de_DE.UTF-8"});
        EXPECT_EQ(result.status, kNotExecutable) << ini;
        EXPECT_EQ(result.out, "") << ini;
        EXPECT_EQ(result.err, "") << ini;
    }
}

TEST_F(VestibuleRun, LongCommandIsPassedWhole) {
    // Longer than the launcher's command ever was allowed to be on its old platform.
    WriteFile("setup.ini", kIni);
    WriteRecorder("record.sh");
    const std::string longArgument = "/path=" + std::string(5000, 'p');
    const RunResult result = Run({longArgument, "/s"}, {"LANG=de_DE.UTF-8"});
    EXPECT_EQ(result.status, kStarted);
    EXPECT_EQ(Recorded(),
              std::optional(std::vector<std::string>{longArgument, "/s", "-L0007"}));
}

TEST_F(VestibuleRun, OverLongCommandIsRefusedNotCut) {
    WriteFile("setup.ini", kIni);
    WriteRecorder("record.sh");
    // Each argument alone reaches the launcher, but together they are more
    // than the shell can be given as its command.
    const std::string piece(60000, 'x');
    const RunResult result = Run({piece, piece, piece}, {"LANG=de_DE.UTF-8"});
    EXPECT_EQ(result.status, kCommandTooLong);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(RecordExists());
}

}  // namespace
}  // namespace vestibule
