#pragma once
// The built-in German string table.
#include <string_view>

namespace tarnwick {

struct StringEntry {
    unsigned id;
    std::string_view text;
};

// Sorted by id.
extern const StringEntry kGermanStrings[];
extern const std::size_t kGermanStringCount;

}  // namespace tarnwick
