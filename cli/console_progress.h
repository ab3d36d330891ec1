#pragma once
// The status dialog of the console: the worker's texts as lines on stderr,
// and while data moves a progress bar with percentage, bytes and rate when
// stderr is a terminal, or a few plain lines when it is a file or a pipe
// (never carriage-return redraws into a log). Quiet shows nothing at all.
// Ctrl+C while the dialog runs is its Cancel button (see console_interrupt.h).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "transfer/status_dialog.h"

namespace tarnwick::cli {

using ConsoleClock = std::function<std::chrono::steady_clock::time_point()>;

struct ConsoleProgressOptions {
    bool quiet = false;
    // Where to draw; nullptr means stderr.
    std::ostream* out = nullptr;
    // Draw a bar with redraws; by default: whether stderr is a terminal.
    bool terminal = false;
    // Columns of the bar itself.
    int barWidth = 30;
    // How often the terminal bar is redrawn while nothing else happens.
    std::chrono::milliseconds redrawInterval{100};
    // Start on a fresh line: the log on the same terminal may have left its
    // line open ("Importiere …" waits for its "Ok").
    bool freshLine = false;
    // Time source for the rate; the real clock by default.
    ConsoleClock clock;
};

// The options for this process: stderr, terminal when stderr is one.
ConsoleProgressOptions DefaultConsoleProgressOptions(bool quiet);

class ConsoleStatusDialog : public StatusDialog {
public:
    explicit ConsoleStatusDialog(ConsoleProgressOptions options);
    ~ConsoleStatusDialog() override;

    bool RunModal() override;

    // Draws what changed since the last call; RunModal calls it on its
    // thread. Public so that a test can draw step by step.
    void Render(bool final);

    // "12.3 MiB", "512 KiB", "17 B".
    static std::string FormatBytes(std::uint64_t bytes);

protected:
    void OnText(const std::string& text) override;
    void OnCaption(const std::string& caption) override;
    void OnBarVisible(bool visible) override;
    void OnPercent(std::uint32_t percent, std::uint64_t done, std::uint32_t total) override;
    void OnClosePosted() override;

private:
    std::string BarLine(std::uint64_t done, std::uint32_t total, double seconds,
                        bool withBar) const;
    double SecondsSinceStart() const;
    std::chrono::steady_clock::time_point Now() const;

    ConsoleProgressOptions options_;
    std::ostream& out_;

    std::mutex mutex_;            // guards the fields below
    std::condition_variable wake_;  // a text to show, or the close
    std::vector<std::string> pendingTexts_;
    bool barVisible_ = false;
    bool progressSeen_ = false;
    std::uint64_t done_ = 0;
    std::uint32_t total_ = 0xFFFFFFFFu;
    std::chrono::steady_clock::time_point start_{};
    bool started_ = false;

    // Drawing state, touched only by Render.
    bool barOnScreen_ = false;
    bool anythingDrawn_ = false;
    int lastQuarter_ = -1;        // plain mode: the last 25 % step printed
};

class ConsoleStatusHost : public StatusDialogHost {
public:
    explicit ConsoleStatusHost(ConsoleProgressOptions options) : options_(std::move(options)) {}
    std::unique_ptr<StatusDialog> CreateStatusDialog() override;

private:
    ConsoleProgressOptions options_;
};

}  // namespace tarnwick::cli
