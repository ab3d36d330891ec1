#include "cli/console_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/console_interrupt.h"

namespace tarnwick::cli {
namespace {

constexpr std::uint32_t kUnknownTotal = 0xFFFFFFFFu;

// A worker's text as one or more plain lines: no carriage returns, no empty
// lines at its ends.
std::vector<std::string> TextLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    lines.push_back(line);
    while (!lines.empty() && lines.front().empty()) lines.erase(lines.begin());
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

std::string FormatRate(double bytesPerSecond) {
    if (bytesPerSecond <= 0) return "";
    return ConsoleStatusDialog::FormatBytes(static_cast<std::uint64_t>(bytesPerSecond)) + "/s";
}

}  // namespace

ConsoleProgressOptions DefaultConsoleProgressOptions(bool quiet) {
    ConsoleProgressOptions options;
    options.quiet = quiet;
    options.terminal = ::isatty(STDERR_FILENO) == 1;
    options.freshLine = options.terminal && ::isatty(STDOUT_FILENO) == 1;
    return options;
}

ConsoleStatusDialog::ConsoleStatusDialog(ConsoleProgressOptions options)
    : options_(std::move(options)), out_(options_.out ? *options_.out : std::cerr) {}

ConsoleStatusDialog::~ConsoleStatusDialog() { ConsoleInterrupt::ClearCancelTarget(this); }

std::chrono::steady_clock::time_point ConsoleStatusDialog::Now() const {
    return options_.clock ? options_.clock() : std::chrono::steady_clock::now();
}

double ConsoleStatusDialog::SecondsSinceStart() const {
    if (!started_) return 0;
    return std::chrono::duration<double>(Now() - start_).count();
}

std::string ConsoleStatusDialog::FormatBytes(std::uint64_t bytes) {
    char buffer[32];
    if (bytes < 1024) {
        std::snprintf(buffer, sizeof buffer, "%llu B", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024 * 1024) {
        std::snprintf(buffer, sizeof buffer, "%.0f KiB", static_cast<double>(bytes) / 1024.0);
    } else if (bytes < 1024ull * 1024 * 1024) {
        std::snprintf(buffer, sizeof buffer, "%.1f MiB",
                      static_cast<double>(bytes) / (1024.0 * 1024.0));
    } else {
        std::snprintf(buffer, sizeof buffer, "%.2f GiB",
                      static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
    }
    return buffer;
}

void ConsoleStatusDialog::OnText(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        pendingTexts_.push_back(text);
    }
    wake_.notify_all();
}

void ConsoleStatusDialog::OnClosePosted() {
    { std::lock_guard lock(mutex_); }
    wake_.notify_all();
}

void ConsoleStatusDialog::OnCaption(const std::string&) {
    // The console has no caption bar; the texts say what runs.
}

void ConsoleStatusDialog::OnBarVisible(bool visible) {
    std::lock_guard lock(mutex_);
    barVisible_ = visible;
    if (visible && !started_) {
        start_ = Now();
        started_ = true;
    }
}

void ConsoleStatusDialog::OnPercent(std::uint32_t, std::uint64_t done, std::uint32_t total) {
    std::lock_guard lock(mutex_);
    if (!started_) {
        start_ = Now();
        started_ = true;
    }
    progressSeen_ = true;
    done_ = done;
    total_ = total;
}

std::string ConsoleStatusDialog::BarLine(std::uint64_t done, std::uint32_t total,
                                         double seconds, bool withBar) const {
    std::string line;
    const bool known = total != kUnknownTotal;
    if (known) {
        const std::uint32_t percent =
            std::min<std::uint32_t>(100, ProgressPercent(static_cast<std::uint32_t>(done), total));
        if (withBar) {
            const int width = std::max(1, options_.barWidth);
            const int filled = static_cast<int>(percent) * width / 100;
            line += '[';
            line.append(static_cast<std::size_t>(filled), '#');
            line.append(static_cast<std::size_t>(width - filled), '-');
            line += "] ";
        }
        char pct[16];
        std::snprintf(pct, sizeof pct, "%3u %%", percent);
        line += pct;
        line += "  " + FormatBytes(done) + " / " + FormatBytes(total);
    } else {
        line += FormatBytes(done);
    }
    if (seconds > 0.05) {
        const std::string rate = FormatRate(static_cast<double>(done) / seconds);
        if (!rate.empty()) line += "  " + rate;
    }
    return line;
}

void ConsoleStatusDialog::Render(bool final) {
    std::vector<std::string> texts;
    bool barVisible;
    bool progressSeen;
    std::uint64_t done;
    std::uint32_t total;
    double seconds;
    {
        std::lock_guard lock(mutex_);
        texts.swap(pendingTexts_);
        barVisible = barVisible_;
        progressSeen = progressSeen_;
        done = done_;
        total = total_;
        seconds = SecondsSinceStart();
    }
    if (options_.quiet) return;
    if (!anythingDrawn_ && options_.freshLine &&
        (!texts.empty() || (options_.terminal && barVisible && progressSeen))) {
        out_ << '\n';
    }
    if (!texts.empty() || progressSeen) anythingDrawn_ = true;

    for (const auto& text : texts) {
        for (const auto& line : TextLines(text)) {
            if (barOnScreen_) {
                out_ << "\r\033[K";
                barOnScreen_ = false;
            }
            out_ << line << '\n';
        }
    }

    if (options_.terminal) {
        if (barVisible && progressSeen) {
            // Redrawn each time, so the rate stays current while data moves.
            out_ << "\r\033[K" << BarLine(done, total, seconds, true);
            barOnScreen_ = true;
        }
        if (final && barOnScreen_) {
            out_ << '\n';
            barOnScreen_ = false;
        }
    } else if (progressSeen) {
        // A log file gets a line at each quarter and one at the end.
        const bool known = total != kUnknownTotal && total != 0;
        if (known && !final) {
            const std::uint32_t percent = std::min<std::uint32_t>(
                100, ProgressPercent(static_cast<std::uint32_t>(done), total));
            const int quarter = static_cast<int>(percent / 25);
            if (quarter >= 1 && quarter <= 3 && quarter > lastQuarter_) {
                out_ << BarLine(done, total, seconds, false) << '\n';
                lastQuarter_ = quarter;
            }
        }
        if (final) {
            const std::string line = BarLine(done, total, seconds, false);
            char secs[32];
            std::snprintf(secs, sizeof secs, "  (%.1f s)", seconds);
            out_ << line << secs << '\n';
        }
    }
    out_.flush();
}

bool ConsoleStatusDialog::RunModal() {
    MarkReady();
    ConsoleInterrupt::SetCancelTarget(this);
    // Texts show at once; the bar is redrawn at the interval.
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, options_.redrawInterval,
                           [this] { return CloseRequested() || !pendingTexts_.empty(); });
        }
        if (CloseRequested()) break;
        Render(false);
    }
    Render(true);
    ConsoleInterrupt::ClearCancelTarget(this);
    return true;
}

std::unique_ptr<StatusDialog> ConsoleStatusHost::CreateStatusDialog() {
    return std::make_unique<ConsoleStatusDialog>(options_);
}

}  // namespace tarnwick::cli
