#include "cli/console_log.h"

#include <string>
#include <unistd.h>

namespace tarnwick {
namespace {

// Log lines end with "\r\n" in the program's texts; a terminal wants "\n".
std::string ToTerminalLines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

std::string Attributes(std::uint32_t colour, unsigned effects) {
    std::string codes;
    auto add = [&codes](const std::string& code) {
        if (!codes.empty()) codes += ';';
        codes += code;
    };
    if (effects & kLogBold) add("1");
    if (effects & kLogItalic) add("3");
    if (effects & kLogUnderline) add("4");
    if (colour == kLogRed) {
        add("31");
    } else if (colour != kLogBlack) {
        // Colours are 0x00BBGGRR words.
        add("38;2;" + std::to_string(colour & 0xFF) + ";" + std::to_string((colour >> 8) & 0xFF) +
            ";" + std::to_string((colour >> 16) & 0xFF));
    }
    return codes;
}

}  // namespace

ConsoleLog::ConsoleLog(std::FILE* out) : ConsoleLog(out, ::isatty(::fileno(out)) == 1) {}

ConsoleLog::ConsoleLog(std::FILE* out, bool styled) : out_(out), styled_(styled) {}

std::string ConsoleLog::Render(const std::string& text, std::uint32_t colour, unsigned effects,
                               bool styled) {
    std::string lines = ToTerminalLines(text);
    const std::string codes = styled ? Attributes(colour, effects) : std::string{};
    if (codes.empty()) return lines;
    // The attributes end before the line break, so a prompt or the next
    // program's output never inherits them.
    std::string tail;
    while (!lines.empty() && lines.back() == '\n') {
        tail += '\n';
        lines.pop_back();
    }
    return "\x1b[" + codes + "m" + lines + "\x1b[0m" + tail;
}

void ConsoleLog::AppendLog(const std::string& text, std::uint32_t colour, unsigned effects) {
    std::lock_guard lock(mutex_);
    colour_ = colour;
    effects_ = effects;
    const std::string bytes = Render(text, colour, effects, styled_);
    std::fwrite(bytes.data(), 1, bytes.size(), out_);
    std::fflush(out_);
}

void ConsoleLog::SetLogFormat(std::uint32_t colour, unsigned effects) {
    std::lock_guard lock(mutex_);
    colour_ = colour;
    effects_ = effects;
}

}  // namespace tarnwick
