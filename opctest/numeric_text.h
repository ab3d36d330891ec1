// The numeric test the value boxes of var1 to var4 apply to their text.
#pragma once

#include <string_view>

namespace opcda {

// True when the text reads as a number: blanks (spaces, tabs) around it, an
// optional sign, digits with at most one decimal separator ('.' or ',', as
// either is read as one depending on the user's locale) and at least one
// digit, and an optional exponent (E or D, optional sign, digits). Empty text
// and blanks alone are not numeric.
bool IsNumeric(std::string_view text);

}  // namespace opcda
