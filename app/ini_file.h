#pragma once
// Reading the program's own INI file beside the executable. It is only ever
// read, with the rules the variant tables were written for: sections and keys
// compared without regard to case, values trimmed, the result limited to what
// fits a fixed buffer.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnwick {

// The value of key in section of the INI file at path, or defaultValue when the
// file, the section or the key is missing. At most bufferSize - 1 characters
// are returned, like a fixed buffer of bufferSize characters with its
// terminator. Matching single or double quotes around a value are removed.
std::string ReadPrivateProfileString(const std::string& path, const std::string& section,
                                     const std::string& key, const std::string& defaultValue,
                                     std::size_t bufferSize);

// Scans text as a lower-case "0x" followed by hexadecimal digits. Anything
// else ("0X10", "400000", empty) and values beyond 32 bits give defaultValue.
std::uint32_t ScanIniHex(const std::string& text, std::uint32_t defaultValue);

// Case-insensitive comparison of ASCII names (sections, keys).
bool SameName(const std::string& a, const std::string& b);

// Whitespace (blanks, tabs, CR) removed from both ends.
std::string TrimBlanks(const std::string& text);

}  // namespace tarnwick
