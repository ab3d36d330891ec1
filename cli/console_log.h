#pragma once
// The log on a terminal: every line goes to stdout as it comes. Red and bold
// are shown with ANSI attributes only when stdout is a terminal, so a log
// piped into a file stays plain text.
#include <cstdio>
#include <mutex>

#include "ports/log.h"

namespace tarnwick {

class ConsoleLog : public Log {
public:
    // out: where the lines go; styled: whether to use ANSI attributes
    // (by default: when out is a terminal).
    explicit ConsoleLog(std::FILE* out = stdout);
    ConsoleLog(std::FILE* out, bool styled);

    void AppendLog(const std::string& text, std::uint32_t colour = kLogBlack,
                   unsigned effects = kLogNormal) override;
    void SetLogFormat(std::uint32_t colour, unsigned effects) override;
    // A terminal cannot take back what it printed; nothing to do.
    void ClearLog() override {}

    // The bytes AppendLog writes for text in this style.
    static std::string Render(const std::string& text, std::uint32_t colour, unsigned effects,
                              bool styled);

private:
    std::FILE* out_;
    bool styled_;
    std::mutex mutex_;  // a worker thread logs too
    std::uint32_t colour_ = kLogBlack;
    unsigned effects_ = kLogNormal;
};

}  // namespace tarnwick
