#pragma once
// The user's language, taken from the locale environment, and the language
// file that goes with it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// Looks up an environment variable; nullptr when it is not set.
using EnvLookup = std::function<const char*(const char*)>;

// The process environment.
const char* SystemEnv(const char* name);

// The language id (primary language in the low 10 bits, sublanguage above)
// of a locale name such as "de_DE.UTF-8", "fr", "pt_BR@euro". "C" and "POSIX"
// count as US English; a language we do not know gives nothing.
std::optional<std::uint16_t> LanguageIdFromLocale(std::string_view locale);

// The user's interface language: from the first of LC_ALL, LC_MESSAGES and
// LANG that is set and not empty. Nothing when none of them is set, which
// callers treat as a system that cannot tell the language.
std::optional<std::uint16_t> UserDefaultUILanguage(const EnvLookup& env = SystemEnv);

// The number of the language file for a language id: 0x407 German, 0x40A
// Spanish, 0x40C French, 0x410 Italian, 0x409 for every other language and
// when the language is not known.
unsigned LanguageNumber(std::optional<std::uint16_t> languageId);

// "TarnwickRes" followed by the number in upper-case hexadecimal, at least
// three digits, and ".DLL".
std::string LanguageFileName(unsigned languageNumber);

}  // namespace tarnwick
