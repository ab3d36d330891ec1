#include "app/ini_file.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tarnwick {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Truncate(std::string text, std::size_t bufferSize) {
    const std::size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
    if (text.size() > limit) text.resize(limit);
    return text;
}

std::string Unquote(const std::string& value) {
    if (value.size() >= 2) {
        const char first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first)
            return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

std::string TrimBlanks(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string ReadPrivateProfileString(const std::string& path, const std::string& section,
                                     const std::string& key, const std::string& defaultValue,
                                     std::size_t bufferSize) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Truncate(defaultValue, bufferSize);

    const std::string wantedSection = TrimBlanks(section);
    const std::string wantedKey = TrimBlanks(key);
    bool inSection = false;
    bool firstLine = true;
    std::string line;
    while (std::getline(in, line)) {
        if (firstLine && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // UTF-8 mark
        firstLine = false;
        const std::string text = TrimBlanks(line);
        if (text.empty() || text[0] == ';') continue;
        if (text[0] == '[') {
            const auto close = text.find(']');
            const std::string name =
                TrimBlanks(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            inSection = SameName(name, wantedSection);
            continue;
        }
        if (!inSection) continue;
        const auto eq = text.find('=');
        if (eq == std::string::npos) continue;
        if (!SameName(TrimBlanks(text.substr(0, eq)), wantedKey)) continue;
        return Truncate(Unquote(TrimBlanks(text.substr(eq + 1))), bufferSize);
    }
    return Truncate(defaultValue, bufferSize);
}

std::uint32_t ScanIniHex(const std::string& text, std::uint32_t defaultValue) {
    // The literal prefix is compared exactly: a capital X does not count.
    if (text.size() < 2 || text[0] != '0' || text[1] != 'x') return defaultValue;
    const char* digits = text.c_str() + 2;
    // strtoull would take a sign; a negative size or address is not a number here.
    const char* p = digits;
    while (IsBlank(*p) || *p == '\n') ++p;
    if (*p == '-' || *p == '+') return defaultValue;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(digits, &end, 16);
    if (end == digits) return defaultValue;
    if (errno == ERANGE || value > 0xFFFFFFFFull) return defaultValue;
    return static_cast<std::uint32_t>(value);
}

}  // namespace tarnwick
