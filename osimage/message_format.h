#pragma once
// printf-style formatting of the program's texts without handing a text from
// a language file to printf itself: a file with a stray "%s" where "%d" was
// meant gives a wrong-looking line, never a crash.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>

namespace tarnwick {

using FormatArg = std::variant<std::int64_t, std::string>;

// Understands %%, and %d %i %u %x %X %s with the flags "-" and "0", a width
// and the length letters l, ll, h (ignored). Arguments are taken in order; a
// directive without an argument produces nothing; a number given where %s
// stands prints in decimal, a text given where a number stands prints as is.
std::string FormatText(const std::string& format, std::initializer_list<FormatArg> args);

}  // namespace tarnwick
