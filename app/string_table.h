#pragma once
// The program's texts, loaded by number. The German table is built in; a
// language file, once loaded, takes its place for every number it holds.
#include <optional>
#include <string>

namespace tarnwick {

// The text of string id from the active table, or nothing when no table has it.
std::optional<std::string> LoadString(unsigned id);

// The same, empty when the text is missing.
std::string Text(unsigned id);

// The built-in German text of id, ignoring any language file.
std::optional<std::string> BuiltinString(unsigned id);

}  // namespace tarnwick
