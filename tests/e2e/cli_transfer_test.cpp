// tarnwick-cli as a person or a service script runs it: the built program
// against the built panelsim on a pseudo-terminal, with its own settings and
// runtime folders, COM1 pointed at the panel with -COM1=PATH.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/panelsim_process.h"
#include "support/nb0_builder.h"

extern char** environ;

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const std::string kBin = TARNWICK_BIN_DIR;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* p : {"tarnwick-cli", "panelsim", "make_nb0"})
            if (!fs::exists(kBin + "/" + p)) GTEST_SKIP() << p << " not built";
        fs::create_directories(dir.File("config"));
        fs::create_directories(dir.File("runtime"));
    }

    // Runs tarnwick-cli with args. interruptWhen: a text of its stderr at
    // which Ctrl+C (SIGINT) is sent, once.
    CliRun Cli(std::vector<std::string> args, const std::string& interruptWhen = {}) {
        args.insert(args.begin(), kBin + "/tarnwick-cli");
        std::vector<std::string> env = {"XDG_CONFIG_HOME=" + dir.File("config"),
                                        "XDG_RUNTIME_DIR=" + dir.File("runtime"),
                                        "LC_ALL=de_DE.UTF-8", "TMPDIR=" + dir.Path(),
                                        "PATH=/usr/bin:/bin"};
        const std::string outPath = dir.File("out.txt"), errPath = dir.File("err.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid = 0;
        CliRun run;
        const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return run;
        bool interrupted = interruptWhen.empty();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        for (;;) {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) break;
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            if (!interrupted && ReadText(errPath).find(interruptWhen) != std::string::npos) {
                ::kill(pid, SIGINT);
                interrupted = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = ReadText(outPath);
        run.err = ReadText(errPath);
        return run;
    }

    // A document imported from a generated import file.
    std::string ImportedDocument(const std::string& name, std::vector<std::string> options) {
        const std::string nb0 = dir.File(name + ".NB0");
        std::vector<std::string> args = {kBin + "/make_nb0", nb0};
        args.insert(args.end(), options.begin(), options.end());
        std::string command;
        for (const auto& a : args) command += "'" + a + "' ";
        EXPECT_EQ(std::system(command.c_str()), 0);
        const CliRun imported = Cli({"-IMPEX", "-IMPORT", nb0});
        EXPECT_EQ(imported.status, 0) << imported.out << imported.err;
        return dir.File(name + ".img");
    }

    void StartPanel(std::vector<std::string> options) {
        options.insert(options.begin(), {"-c", std::string(PANELSIM_PANELS_DIR) + "/kv40.cfg"});
        ASSERT_TRUE(sim.Start(options, dir.Path()));
        ASSERT_FALSE(sim.Path().empty());
    }
    std::string Com1() const { return "-COM1=" + sim.Path(); }

    // The part lines of -INFO for a document.
    std::string Parts(const std::string& document) {
        const CliRun info = Cli({"-INFO", document});
        EXPECT_EQ(info.status, 0) << info.err;
        const auto at = info.out.find("Nr     Id");
        return at == std::string::npos ? std::string() : info.out.substr(at);
    }

    TempFolder dir;
    Panelsim sim;
};

TEST_F(CliTransferTest, ImportDownloadUploadRoundTrip) {
    const std::string document = ImportedDocument("sample", {"--size", "200000", "--compressed"});
    StartPanel({});
    const CliRun download = Cli({"-DOWNLOAD", Com1(), "-230400", document});
    EXPECT_EQ(download.status, 0) << download.out << download.err;
    EXPECT_NE(download.out.find("Transfer läuft...\n"), std::string::npos);
    EXPECT_NE(download.out.find("Operator Panel Typ:\tKV40\n"), std::string::npos);
    EXPECT_NE(download.out.find("Ok\n"), std::string::npos);
    EXPECT_NE(download.out.find("Bitte das Bediengerät booten ...\n"), std::string::npos);
    // The boot prompt with its warning, on the status side.
    EXPECT_NE(download.err.find("Bitte das Bediengerät booten ..."), std::string::npos);
    EXPECT_NE(download.err.find("Lizenzen unwiederruflich verloren !"), std::string::npos);

    const std::string uploaded = dir.File("uploaded.img");
    const CliRun upload = Cli({"-IMPEX", "-UPLOAD", "-CE", Com1(), "-230400", uploaded});
    EXPECT_EQ(upload.status, 0) << upload.out << upload.err;
    EXPECT_NE(upload.out.find("Rücktransfer läuft ...\n"), std::string::npos);
    EXPECT_NE(upload.out.find("Speichern von  " + uploaded), std::string::npos);

    // The image data came back byte for byte: same size and checksum.
    const auto dataPart = [](const std::string& table) {
        std::istringstream in(table);
        std::string nr, id, size, address, checksum, packed;
        while (in >> nr >> id >> size >> address >> checksum >> packed)
            if (id == "0x00000001") return size + " " + checksum;
        return std::string();
    };
    const std::string before = Parts(document), after = Parts(uploaded);
    EXPECT_FALSE(dataPart(before).empty()) << before;
    EXPECT_EQ(dataPart(after), dataPart(before)) << before << after;
    sim.Stop();
    EXPECT_EQ(sim.ReportNumber("violations"), 0);
}

// An image too large for a type-0x400 panel's image region is split by the
// import; the download places the overflow at the start of the flash, below
// the bootloader, and the upload brings all four parts back.
TEST_F(CliTransferTest, SplitImageOnType400RoundTrip) {
    const std::string document = ImportedDocument(
        "split", {"--size", "3800000", "--data", "random", "--hardware", "0x400", "--area", "0x3F0000"});
    sim.Stop();
    ASSERT_TRUE(sim.Start({"-c", std::string(PANELSIM_PANELS_DIR) + "/kv70.cfg"}, dir.Path()));
    const CliRun download = Cli({"-DOWNLOAD", "-COM1=" + sim.Path(), "-230400", document});
    EXPECT_EQ(download.status, 0) << download.out << download.err;
    const std::string uploaded = dir.File("split-up.img");
    const CliRun upload = Cli({"-UPLOAD", "-CE", "-COM1", "-230400", uploaded});
    EXPECT_EQ(upload.status, 0) << upload.out << upload.err;

    // Id, size and checksum of the data parts, addresses of the uploaded ones.
    const auto parts = [](const std::string& table) {
        std::istringstream in(table);
        std::map<std::string, std::string> out;
        std::string nr, id, size, address, checksum, packed;
        std::getline(in, nr);
        while (in >> nr >> id >> size >> address >> checksum >> packed)
            out[id] = size + " " + (id == "0x00000001" || id == "0x00000200" ? checksum : address);
        return out;
    };
    const auto before = parts(Parts(document)), after = parts(Parts(uploaded));
    ASSERT_EQ(before.size(), 4u) << Parts(document);
    EXPECT_EQ(after.at("0x00000001"), before.at("0x00000001"));
    EXPECT_EQ(after.at("0x00000200"), before.at("0x00000200"));
    EXPECT_EQ(after.at("0x20000000"), "64 0xBFC80000");
    EXPECT_EQ(after.at("0x00000400"), "64 0xBF800000");
    sim.Stop();
    EXPECT_EQ(sim.ReportNumber("violations"), 0);
    EXPECT_EQ(sim.ReportNumber("loader_violations"), 0);
}

TEST_F(CliTransferTest, NoEraseErasesOnlyTheSectorsWritten) {
    const std::string document = ImportedDocument("small", {"--size", "20000"});
    StartPanel({});
    const CliRun download = Cli({"-DOWNLOAD", "-NOERASE", Com1(), "-230400", document});
    EXPECT_EQ(download.status, 0) << download.out << download.err;
    sim.Stop();
    EXPECT_EQ(sim.ReportNumber("erases"), 1);
    EXPECT_EQ(sim.ReportNumber("violations"), 0);
}

struct FaultCase {
    const char* name;
    const char* fault;
    const char* shown;
};
class CliFaultTest : public CliTransferTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CliFaultTest, EndsWithTheMessageAndTheClosingLine) {
    const std::string document = ImportedDocument("small", {"--size", "20000"});
    StartPanel({"--fault", GetParam().fault});
    const CliRun download = Cli({"-DOWNLOAD", Com1(), "-230400", document});
    EXPECT_EQ(download.status, 1) << download.out << download.err;
    EXPECT_NE(download.out.find(std::string(GetParam().shown) + "\n"), std::string::npos)
        << download.out;
    EXPECT_NE(download.out.find("Transfer abgebrochen \n"), std::string::npos);
    EXPECT_EQ(download.out.find("Bitte das Bediengerät booten ...\n"), std::string::npos);
    EXPECT_NE(download.err.find(GetParam().shown), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CliFaultTest,
    ::testing::Values(FaultCase{"ErrorReply", "error@write:1", "Zugriff auf eine im Gerät ungültige Adresse"},
                      FaultCase{"WrongChecksum", "sum@checksum:1", "Die Checksumme der Daten im Gerät ist falsch"},
                      FaultCase{"BadPacket", "crc@erase:3", "Protokollfehler"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTransferTest, CtrlCWhileWaitingForTheBootloaderCancels) {
    const std::string document = ImportedDocument("small", {"--size", "20000"});
    StartPanel({"--boot-delay", "never"});
    const CliRun download =
        Cli({"-DOWNLOAD", Com1(), "-230400", "--quiet", document}, "Bitte das Bediengerät booten");
    EXPECT_EQ(download.status, 1) << download.out << download.err;
    EXPECT_NE(download.out.find("Der Vorgang wurde vom Anwender abgebrochen\n"), std::string::npos)
        << download.out;
    EXPECT_NE(download.out.find("Transfer abgebrochen \n"), std::string::npos);
}

TEST_F(CliTransferTest, CtrlCDuringTheTransferCancelsAndKeepsNoUpload) {
    const std::string document = ImportedDocument("big", {"--size", "300000", "--data", "random"});
    StartPanel({"--throttle"});
    const CliRun download = Cli({"-DOWNLOAD", Com1(), "-115200", document}, "Daten werden transferiert");
    EXPECT_EQ(download.status, 1) << download.out << download.err;
    EXPECT_NE(download.out.find("Der Vorgang wurde vom Anwender abgebrochen\n"), std::string::npos)
        << download.out;
    EXPECT_NE(download.out.find("Transfer abgebrochen \n"), std::string::npos);
}

TEST_F(CliTransferTest, FailedUploadWritesNoDocument) {
    StartPanel({"--fault", "error@read:4"});
    const std::string target = dir.File("never.img");
    const CliRun upload = Cli({"-UPLOAD", Com1(), "-115200", target});
    EXPECT_EQ(upload.status, 1) << upload.out << upload.err;
    EXPECT_NE(upload.out.find("Rücktransfer abgebrochen\n"), std::string::npos) << upload.out;
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(CliTransferTest, TransferIntoAFileNeedsAVariantWhenThereAreSeveral) {
    const std::string document = ImportedDocument("tofile", {"--size", "20000"});
    // The shipped INI offers two KV40 variants.
    const CliRun ambiguous = Cli({"-IMPEX", "-TOFILE", document});
    EXPECT_EQ(ambiguous.status, 2) << ambiguous.out << ambiguous.err;
    EXPECT_NE(ambiguous.err.find("KV40-1"), std::string::npos) << ambiguous.err;
    EXPECT_NE(ambiguous.err.find("KV40-2"), std::string::npos);
    EXPECT_NE(ambiguous.err.find("-VARIANT=KEY"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.File("tofile.exp")));
    // Refused before anything runs: no transfer in the log.
    EXPECT_EQ(ambiguous.out.find("Transfer"), std::string::npos) << ambiguous.out;

    const CliRun unknown = Cli({"-IMPEX", "-TOFILE", "-VARIANT=KV99-1", document});
    EXPECT_EQ(unknown.status, 2);

    const CliRun chosen = Cli({"-IMPEX", "-TOFILE", "-variant=kv40-2", document});
    EXPECT_EQ(chosen.status, 0) << chosen.out << chosen.err;
    const std::string exp = dir.File("tofile.exp");
    ASSERT_TRUE(fs::exists(exp));
    // Header block, the header at the image area start, the data behind it.
    const Bytes bytes = ReadBytes(exp);
    ASSERT_GT(bytes.size(), 192u);
    EXPECT_EQ(bytes[0], 0xA5);
    EXPECT_EQ(bytes[0x7F], 0x5A);
    EXPECT_EQ(GetLe32(bytes, 128), 0x19101998u);
    EXPECT_EQ(GetLe32(bytes, 128 + 0x0A), 0xBFC10040u);
    EXPECT_NE(chosen.out.find("Operator Panel Typ:\tKV40\n"), std::string::npos);
}

TEST_F(CliTransferTest, ToFileWithoutImpexIsBadUsage) {
    const CliRun run = Cli({"-TOFILE", dir.File("x.img")});
    EXPECT_EQ(run.status, 2);
}

TEST_F(CliTransferTest, ListPortsShowsTheMapping) {
    EXPECT_EQ(Cli({"-COM2=/dev/tarnwick-test-none"}).status, 0);
    const CliRun list = Cli({"--list-ports"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("Serial devices:"), std::string::npos);
    EXPECT_NE(list.out.find("COM1 = /dev/ttyS0"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("COM2 = /dev/tarnwick-test-none  (not present)"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::testing
