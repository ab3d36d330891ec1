// Runs the built tarnwick-cli on import files and documents as a service
// script would, and presses Ctrl+C during an import.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "support/nb0_builder.h"
#include "support/spawn_arrays.h"

extern char** environ;

namespace tarnwick {
namespace {

using testing::Nb0Section;
using testing::RandomData;
using testing::TempFolder;

struct Outcome {
    int status = -1;   // exit status, or 128 + signal
    std::string out;
    std::string err;
};

class ImportCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder.File("tmp"));
        env = {
            {"PATH", "/usr/bin:/bin"},
            {"HOME", folder.File("home")},
            {"XDG_CONFIG_HOME", folder.File("config")},
            {"XDG_RUNTIME_DIR", folder.Path()},
            {"TMPDIR", folder.File("tmp")},
            {"LC_ALL", "de_DE.UTF-8"},
        };
    }

    // Runs the program with stdout in a file and stderr through a pipe;
    // onErr sees stderr as it grows and may act on the running program.
    Outcome Run(const std::vector<std::string>& args,
                const std::function<void(pid_t, const std::string&)>& onErr = {}) {
        const std::string program = TARNWICK_BIN_DIR "/tarnwick-cli";
        const std::string outFile = folder.File("stdout");
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            ADD_FAILURE() << "no pipe";
            return {};
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        testing::CStringArray argv(testing::CommandLine(program, args));
        testing::CStringArray envp(testing::EnvironmentEntries(env));

        pid_t pid = 0;
        const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        Outcome outcome;
        if (rc != 0) {
            ::close(pipeFds[0]);
            ADD_FAILURE() << "cannot start " << program;
            return outcome;
        }
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            outcome.err.append(buffer, static_cast<std::size_t>(n));
            if (onErr) onErr(pid, outcome.err);
        }
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        const auto out = testing::ReadBytes(outFile);
        outcome.out.assign(out.begin(), out.end());
        return outcome;
    }

    std::string Nb0(const std::string& name, const std::vector<Nb0Section>& sections) {
        const std::string path = folder.File(name);
        testing::WriteBytes(path, testing::BuildNb0(sections));
        return path;
    }

    bool TempFolderEmpty() const {
        return std::filesystem::is_empty(folder.File("tmp"));
    }

    TempFolder folder;
    std::map<std::string, std::string> env;
};

TEST_F(ImportCommandTest, ImportsSavesBesideTheFileAndExportsAgain) {
    Nb0Section main;
    main.Attributes(testing::kAttrCompressed).Data(testing::CodeLikeData(100000));
    const std::string nb0 = Nb0("panel.NB0", {main});
    const Outcome imported = Run({"-IMPEX", "-IMPORT", nb0});
    EXPECT_EQ(imported.status, 0) << imported.err;
    const std::string img = folder.File("panel.img");
    EXPECT_NE(imported.out.find("Importiere " + nb0 + "...Ok\n"), std::string::npos) << imported.out;
    EXPECT_NE(imported.out.find("Windows CE:\t4.20\n"), std::string::npos);
    EXPECT_NE(imported.out.find("Speichern von  " + img + "...\nOk\n"), std::string::npos);
    EXPECT_NE(imported.err.find("Komprimiere das CE-Image ..."), std::string::npos);
    EXPECT_EQ(imported.err.find('\r'), std::string::npos);  // no redraws into a pipe
    EXPECT_TRUE(std::filesystem::exists(img));
    EXPECT_TRUE(TempFolderEmpty());

    const std::string exported = folder.File("image.bin");
    const Outcome out = Run({"-IMPEX", "-EXPORTCE=" + exported, img});
    EXPECT_EQ(out.status, 0) << out.err;
    const auto bytes = testing::ReadBytes(exported);
    ASSERT_GE(bytes.size(), 64u);
    EXPECT_EQ(testing::GetLe32(bytes, 0), 0x19101998u);
    EXPECT_EQ(testing::GetLe32(bytes, 14), 100000u);                    // source size
    EXPECT_EQ(testing::GetLe32(bytes, 18), bytes.size() - 64);          // stored size
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(ImportCommandTest, ARefusedImportSavesNothingAndExitsOne) {
    const std::string img = folder.File("panel.img");
    testing::WriteBytes(img, {9, 9, 9});
    Nb0Section bad;
    bad.Type(0x40).Data(RandomData(10));
    const Outcome o = Run({"-IMPEX", "-IMPORT", Nb0("panel.NB0", {bad})});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("\nImage 0 hat falsche Typangabe\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("Ungültiger Import-Header\nImport abgebrochen \n"), std::string::npos);
    EXPECT_NE(o.err.find("Ungültiger Import-Header"), std::string::npos);
    EXPECT_EQ(testing::ReadBytes(img), (std::vector<std::uint8_t>{9, 9, 9}));
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(ImportCommandTest, QuietShowsNoProgress) {
    Nb0Section main;
    main.Attributes(testing::kAttrCompressed).Data(testing::CodeLikeData(20000));
    const Outcome o = Run({"--quiet", "-IMPEX", "-IMPORT", Nb0("q.NB0", {main})});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err.find("Komprimiere"), std::string::npos);
}

TEST_F(ImportCommandTest, ExportWithoutImpexIsBadUsage) {
    const Outcome o = Run({"-EXPORTCE=/tmp/x.bin", folder.File("a.img")});
    EXPECT_EQ(o.status, 2);
}

TEST_F(ImportCommandTest, CtrlCCancelsTheCompressionAndLeavesNothingBehind) {
    Nb0Section main;
    main.Attributes(testing::kAttrCompressed).Data(RandomData(24u << 20));
    const std::string nb0 = Nb0("big.NB0", {main});
    bool sent = false;
    const Outcome o = Run({"-IMPEX", "-IMPORT", nb0}, [&](pid_t pid, const std::string& err) {
        if (!sent && err.find("Komprimiere das CE-Image ...") != std::string::npos) {
            ::kill(pid, SIGINT);
            sent = true;
        }
    });
    ASSERT_TRUE(sent);
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.out.find("Der Vorgang wurde vom Anwender abgebrochen\nImport abgebrochen \n"),
              std::string::npos)
        << o.out;
    EXPECT_FALSE(std::filesystem::exists(folder.File("big.img")));
    EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(ImportCommandTest, ASecondCtrlCEndsAtOnceAndLeavesNoTemporaryFiles) {
    Nb0Section main;
    main.Attributes(testing::kAttrCompressed).Data(RandomData(24u << 20));
    const std::string nb0 = Nb0("big.NB0", {main});
    int sent = 0;
    const Outcome o = Run({"-IMPEX", "-IMPORT", nb0}, [&](pid_t pid, const std::string& err) {
        if (sent == 0 && err.find("Komprimiere das CE-Image ...") != std::string::npos) {
            ::kill(pid, SIGINT);
            sent = 1;
        } else if (sent == 1 && err.find("Abbruch angefordert") != std::string::npos) {
            ::kill(pid, SIGINT);
            sent = 2;
        }
    });
    // The second press may come after the cancelled import has ended.
    EXPECT_TRUE(o.status == 130 || o.status == 1) << o.status;
    EXPECT_FALSE(std::filesystem::exists(folder.File("big.img")));
    EXPECT_TRUE(TempFolderEmpty());
}

TEST(ExportKeyword, NeedsImpexAndKeepsTheNamesCase) {
    CTarnwickCommandLineInfo info;
    ParseCommandLine(info, {"-IMPEX", "/exportce=/Out/Image.BIN", "/home/u/Doc.img"});
    EXPECT_EQ(info.command, static_cast<std::int32_t>(kCommandExportCe));
    EXPECT_EQ(info.exportFile, "/Out/Image.BIN");
    EXPECT_EQ(info.fileName, "/home/u/Doc.img");

    CTarnwickCommandLineInfo without;
    ParseCommandLine(without, {"-EXPORTCE=x.bin", "Doc.img"});
    EXPECT_EQ(without.command, -1);
    EXPECT_TRUE(without.commandKeywordSeen);
}

}  // namespace
}  // namespace tarnwick
