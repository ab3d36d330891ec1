// tarnwick-cli -INFO: what a script sees of a document.
#include <cstdio>
#include <sys/wait.h>

#include "doc_fixture.h"

namespace tarnwick::testing {
namespace {

struct CliRun {
    int status;
    std::string out;
};

class InfoCommandTest : public DocTest {
protected:
    CliRun Info(const std::string& file) {
        const std::string cli = std::string(TARNWICK_BIN_DIR) + "/tarnwick-cli";
        if (!std::filesystem::exists(cli)) return {-1, {}};
        // German texts, and lock and settings of our own.
        const std::string command = "LC_ALL=de_DE.UTF-8 XDG_RUNTIME_DIR='" + root_ +
                                    "' XDG_CONFIG_HOME='" + root_ + "/cfg' '" + cli +
                                    "' -INFO '" + file + "' 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        CliRun run{-1, {}};
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
        const int status = ::pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }
};

TEST_F(InfoCommandTest, PrintsVersionsAndParts) {
    DescriptionValues v;
    v.CeVersionMajor = 5;
    v.CeVersionMinor = 0;
    v.CeImageVersion = 0x01020304;
    v.AppVersion = 0x81000002;
    doc_.SetValues(v);
    AddPart(1, BytesOf("abc"), 0x00200000);
    AddPart(0x20000000, Bytes(64, 0));
    const auto path = PathIn("info.img");
    ASSERT_TRUE(doc_.OnSaveDocument(path));

    const CliRun run = Info(path);
    if (run.status == -1) GTEST_SKIP() << "tarnwick-cli is not built";
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Windows CE:\t5.0\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Ausgabestand Windows CE:\tV 1.2.3.4\n"), std::string::npos);
    EXPECT_NE(run.out.find("Ausgabestand Applikation:\tB 1.0.0.2\n"), std::string::npos);
    EXPECT_NE(run.out.find("0      0x00000001           3  0x00200000  0x61DA            11\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("1      0x20000000          64  0x00000000  0x"), std::string::npos);
}

TEST_F(InfoCommandTest, RefusesWhatIsNotADocument) {
    const auto path = PathIn("not.img");
    WriteBytes(path, Bytes(200, 0x20));
    const CliRun run = Info(path);
    if (run.status == -1) GTEST_SKIP() << "tarnwick-cli is not built";
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Daten entsprechen nicht dem Format von Tarnwick"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Unbekanntes Dateiformat"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::testing
