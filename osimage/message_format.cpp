#include "osimage/message_format.h"

#include <vector>

namespace tarnwick {
namespace {

std::string Digits(std::uint64_t v, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), set[v % base]);
        v /= base;
    } while (v != 0);
    return out;
}

}  // namespace

std::string FormatText(const std::string& format, std::initializer_list<FormatArg> args) {
    const std::vector<FormatArg> list(args);
    std::size_t next = 0;
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        std::size_t j = i + 1;
        if (j < format.size() && format[j] == '%') {
            out += '%';
            i = j;
            continue;
        }
        bool left = false;
        bool zero = false;
        while (j < format.size() && (format[j] == '-' || format[j] == '0')) {
            if (format[j] == '-') left = true;
            else zero = true;
            ++j;
        }
        std::size_t width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9' && width < 1000) {
            width = width * 10 + static_cast<std::size_t>(format[j] - '0');
            ++j;
        }
        while (j < format.size() && (format[j] == 'l' || format[j] == 'h')) ++j;
        if (j >= format.size()) {
            out.append(format, i, std::string::npos);
            break;
        }
        const char conv = format[j];
        if (conv != 'd' && conv != 'i' && conv != 'u' && conv != 'x' && conv != 'X' &&
            conv != 's') {
            out.append(format, i, j - i + 1);  // not ours: shown as written
            i = j;
            continue;
        }
        i = j;
        if (next >= list.size()) continue;
        const FormatArg& arg = list[next++];
        std::string field;
        bool negative = false;
        if (const auto* text = std::get_if<std::string>(&arg)) {
            field = *text;
            zero = false;
        } else {
            const std::int64_t v = std::get<std::int64_t>(arg);
            switch (conv) {
            case 'd':
            case 'i':
            case 's':
                negative = v < 0;
                field = Digits(negative ? 0 - static_cast<std::uint64_t>(v)
                                        : static_cast<std::uint64_t>(v),
                               10, false);
                break;
            case 'u':
                field = Digits(static_cast<std::uint32_t>(v), 10, false);
                break;
            default:
                field = Digits(static_cast<std::uint32_t>(v), 16, conv == 'X');
                break;
            }
            if (conv == 's') zero = false;
        }
        const std::size_t length = field.size() + (negative ? 1 : 0);
        const std::size_t pad = width > length ? width - length : 0;
        if (left) {
            if (negative) out += '-';
            out += field;
            out.append(pad, ' ');
        } else if (zero) {
            if (negative) out += '-';
            out.append(pad, '0');
            out += field;
        } else {
            out.append(pad, ' ');
            if (negative) out += '-';
            out += field;
        }
    }
    return out;
}

}  // namespace tarnwick
