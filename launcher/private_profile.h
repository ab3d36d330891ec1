#pragma once

// A small reader for setup.ini with the private-profile rules the launcher
// relies on: "[Section]" headers, "Key=value" lines, section and key names
// compared without regard to ASCII case, names and values trimmed of blanks,
// the first matching entry wins. A missing or unreadable file reads as empty,
// so every lookup falls back to its default.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vestibule {

class PrivateProfile {
public:
    static PrivateProfile Load(const std::string& path);
    static PrivateProfile Parse(std::string_view text);

    // The value of section/key, or nothing when the file has no such entry.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // The value of section/key, or fallback when the entry is missing.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view fallback) const;

private:
    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };
    std::vector<Entry> entries_;
};

bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace vestibule
