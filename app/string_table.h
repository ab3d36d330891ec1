#pragma once
// The program's texts, loaded by number. The German table is built in; a
// language file, once loaded, takes its place for every number it holds.
#include <map>
#include <optional>
#include <string>

namespace tarnwick {

// The text of string id from the active table, or nothing when no table has it.
// Safe to call from any thread.
std::optional<std::string> LoadString(unsigned id);

// The same, empty when the text is missing.
std::string Text(unsigned id);

// The built-in German text of id, ignoring any language file.
std::optional<std::string> BuiltinString(unsigned id);

// Loads the language file at path and makes it the source of every text it
// holds from now on. Returns false, and changes nothing, when the file cannot
// be read. The file is UTF-8 text, one entry per line: the decimal number, a
// tab, and the text with \r \n \t and \\ written as escapes. Empty lines and
// lines that begin with "#" are comments; lines in any other form are skipped.
bool LoadLanguageFile(const std::string& path);

// Returns to the built-in table (tests).
void UnloadLanguageFile();

// Whether a language file is in use.
bool LanguageFileLoaded();

// The entries of a language file's text; malformed lines are skipped.
std::map<unsigned, std::string> ParseLanguageText(const std::string& text);

// Writes text in the escaped form of the language file.
std::string EscapeLanguageText(const std::string& text);

}  // namespace tarnwick
