#pragma once

// Vestibule builds the command that starts the product's setup program from
// setup.ini and its own arguments, adds a language switch for the user's
// interface language, and starts the command without waiting for it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/private_profile.h"

namespace vestibule {

inline constexpr const char* kSetupIni = "./setup.ini";
inline constexpr const char* kDefaultBegin = "..\\system\\disk1\\setup.exe";
inline constexpr std::uint16_t kFallbackLanguageCode = 0x0009;

// Exit status of the program; the setup's caller learns from it whether the
// setup really started.
enum ExitStatus : int {
    kStarted = 0,
    kNotExecutable = 1,  // the command's first word names no executable file
    kCommandTooLong = 2, // the command is longer than the system accepts
    kStartFailed = 3,    // the shell could not be started
};

// Reads a 16-bit hexadecimal value the way "%hx" does: blanks, an optional
// 0x or 0X, then hexadecimal digits up to the first other character; only the
// low 16 bits are kept. Anything that does not begin like that does not read.
std::optional<std::uint16_t> ReadHex16(std::string_view text);

// The command-line tail as the setup expects it: the arguments joined by one
// space each; empty when the launcher got no arguments.
std::string CommandTail(int argc, const char* const* argv);

// Splits the tail at every space and every tab. Each separator ends one
// argument, so two separators in a row give an empty argument; text after the
// last separator is an argument only when it is not empty.
std::vector<std::string> SplitArguments(std::string_view tail);

// The Windows language id (primary language and sublanguage) of a locale
// name such as "de_AT.UTF-8@euro". "C" and "POSIX" (with any codeset) name no
// language: nothing. A known language in an unknown territory gives the
// language's main id; an unknown language gives 0 (neutral).
std::optional<std::uint16_t> LanguageIdFromLocale(std::string_view locale);

// The user's interface language from LC_ALL, LC_MESSAGES and LANG, the first
// that is set and not empty; nothing when none is or it names the C locale.
using GetEnv = std::function<const char*(const char*)>;
std::optional<std::uint16_t> UserUiLanguage(const GetEnv& getEnv);

// The language code to pass for the interface language ui: "Languages"/<ui as
// four lower-case hex digits>, else "Languages"/"Default", else 9.
std::uint16_t LanguageCode(const PrivateProfile& ini, std::uint16_t ui);

// The whole command: begin, the passed-on arguments each after one space and,
// unless an argument switched the check off or no interface language is known,
// " -L%.4x " with the language code.
std::string BuildCommand(std::string_view begin, std::string_view tail,
                         const PrivateProfile& ini, std::optional<std::uint16_t> ui);

// Backslashes turned into slashes, so that a Windows-style path names a path here.
std::string ToPosixPath(std::string_view path);

// The program the shell will run: the first word of the command, with one
// pair of enclosing quotes removed.
std::string FirstWord(std::string_view command);

// Whether the shell would find an executable regular file for word: a path
// when it contains a slash, otherwise searched along pathVariable.
bool NamesExecutable(const std::string& word, const char* pathVariable);

// The longest command the system accepts as the shell's argument, given the
// environment the shell inherits.
std::size_t CommandLengthLimit(const char* const* environment);

// Checks and starts the command with /bin/sh -c, not waited for.
ExitStatus StartCommand(const std::string& command);

// The whole launcher: reads ./setup.ini, builds and starts the command.
ExitStatus RunVestibule(int argc, const char* const* argv, const GetEnv& getEnv);

}  // namespace vestibule
