#include <gtest/gtest.h>

#include <sstream>

#include "cli/console_progress.h"

namespace tarnwick::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Drives a console dialog as a worker would, one second per mebibyte.
struct Drive {
    std::ostringstream out;
    Clock::time_point now{};
    std::unique_ptr<ConsoleStatusDialog> dialog;

    explicit Drive(bool terminal, bool quiet = false) {
        ConsoleProgressOptions o;
        o.out = &out;
        o.terminal = terminal;
        o.quiet = quiet;
        o.barWidth = 10;
        o.clock = [this] { return now; };
        dialog = std::make_unique<ConsoleStatusDialog>(o);
    }
    std::string Run() {
        dialog->SetText("Komprimiere das CE-Image ...");
        dialog->ShowProgress();
        dialog->SetTotal(4u << 20);
        dialog->Render(false);
        for (int i = 0; i < 4; ++i) {
            now += std::chrono::seconds(1);
            dialog->AddProgress(1u << 20);
            dialog->Render(false);
        }
        dialog->Render(true);
        return out.str();
    }
};

TEST(ConsoleProgress, PlainOutputIsAFewLinesWithoutRedraws) {
    Drive d(false);
    EXPECT_EQ(d.Run(),
              "Komprimiere das CE-Image ...\n"
              " 25 %  1.0 MiB / 4.0 MiB  1.0 MiB/s\n"
              " 50 %  2.0 MiB / 4.0 MiB  1.0 MiB/s\n"
              " 75 %  3.0 MiB / 4.0 MiB  1.0 MiB/s\n"
              "100 %  4.0 MiB / 4.0 MiB  1.0 MiB/s  (4.0 s)\n");
}

TEST(ConsoleProgress, ATerminalGetsABarRedrawnInPlace) {
    Drive d(true);
    const std::string out = d.Run();
    EXPECT_EQ(out.rfind("Komprimiere das CE-Image ...\n", 0), 0u);
    EXPECT_NE(out.find("\r\033[K[##--------]  25 %  1.0 MiB / 4.0 MiB  1.0 MiB/s"), std::string::npos);
    EXPECT_NE(out.find("\r\033[K[##########] 100 %  4.0 MiB / 4.0 MiB  1.0 MiB/s\n"),
              std::string::npos);
    EXPECT_EQ(out.back(), '\n');
}

TEST(ConsoleProgress, ATextClearsTheBarAndStandsOnItsOwnLine) {
    Drive d(true);
    d.dialog->ShowProgress();
    d.dialog->SetTotal(100);
    d.dialog->AddProgress(50);
    d.dialog->Render(false);
    d.dialog->SetText("\r\nDaten werden transferiert ...\r\n");
    d.dialog->Render(false);
    const std::string out = d.out.str();
    EXPECT_NE(out.find("\r\033[KDaten werden transferiert ...\n"), std::string::npos);
}

TEST(ConsoleProgress, QuietShowsNothing) {
    Drive d(true, true);
    EXPECT_EQ(d.Run(), "");
}

TEST(ConsoleProgress, BytesReadLikeAPersonWouldSayThem) {
    EXPECT_EQ(ConsoleStatusDialog::FormatBytes(17), "17 B");
    EXPECT_EQ(ConsoleStatusDialog::FormatBytes(512 * 1024), "512 KiB");
    EXPECT_EQ(ConsoleStatusDialog::FormatBytes(12900000), "12.3 MiB");
    EXPECT_EQ(ConsoleStatusDialog::FormatBytes(3ull << 30), "3.00 GiB");
}

}  // namespace
}  // namespace tarnwick::cli
