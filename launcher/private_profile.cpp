#include "launcher/private_profile.h"

#include <fstream>
#include <iterator>

namespace vestibule {
namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

PrivateProfile PrivateProfile::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return PrivateProfile{};
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return PrivateProfile{};
    return Parse(text);
}

PrivateProfile PrivateProfile::Parse(std::string_view text) {
    // Files saved by Windows editors often start with a byte-order mark.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    PrivateProfile profile;
    std::string section;
    bool inSection = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string_view::npos) continue;
            section = std::string(Trim(line.substr(1, close - 1)));
            inSection = true;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        profile.entries_.push_back({section, std::string(Trim(line.substr(0, equals))),
                                    std::string(Trim(line.substr(equals + 1)))});
    }
    return profile;
}

std::optional<std::string> PrivateProfile::Find(std::string_view section,
                                                std::string_view key) const {
    for (const Entry& entry : entries_) {
        if (EqualsNoCase(entry.section, section) && EqualsNoCase(entry.key, key)) {
            return entry.value;
        }
    }
    return std::nullopt;
}

std::string PrivateProfile::GetString(std::string_view section, std::string_view key,
                                      std::string_view fallback) const {
    if (auto value = Find(section, key)) return *value;
    return std::string(fallback);
}

}  // namespace vestibule
