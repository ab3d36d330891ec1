#include "app/string_table.h"

#include <algorithm>

#include "app/strings_de.h"

namespace tarnwick {

std::optional<std::string> BuiltinString(unsigned id) {
    const auto* begin = kGermanStrings;
    const auto* end = kGermanStrings + kGermanStringCount;
    const auto* it = std::lower_bound(begin, end, id,
                                      [](const StringEntry& e, unsigned v) { return e.id < v; });
    if (it == end || it->id != id) return std::nullopt;
    return std::string(it->text);
}

std::optional<std::string> LoadString(unsigned id) { return BuiltinString(id); }

std::string Text(unsigned id) { return LoadString(id).value_or(std::string{}); }

}  // namespace tarnwick
