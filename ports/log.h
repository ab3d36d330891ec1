#pragma once
// The log as the core sees it: lines appended in a colour and with effects.
// Implementations must be safe to call from a worker thread.
#include <cstdint>
#include <string>

namespace tarnwick {

enum LogEffects : unsigned {
    kLogNormal = 0,
    kLogBold = 1u << 0,
    kLogItalic = 1u << 1,
    kLogUnderline = 1u << 2,
};

// Colours are 0x00BBGGRR words as the log view stores them.
constexpr std::uint32_t kLogBlack = 0x000000;
constexpr std::uint32_t kLogRed = 0x0000FF;

class Log {
public:
    virtual ~Log() = default;
    // text ends with "\r\n" where it is a whole line, as the callers write it.
    virtual void AppendLog(const std::string& text, std::uint32_t colour = kLogBlack,
                           unsigned effects = kLogNormal) = 0;
    // Sets the style for text appended afterwards.
    virtual void SetLogFormat(std::uint32_t colour, unsigned effects) = 0;
    virtual void ClearLog() = 0;
};

// Shorthand for the red bold closing and error lines.
inline void AppendErrorLine(Log& log, const std::string& text) {
    log.AppendLog(text, kLogRed, kLogBold);
}

}  // namespace tarnwick
