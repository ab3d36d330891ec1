#include "opctest/numeric_text.h"

namespace opcda {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsNumeric(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  if (i < n && (text[i] == '.' || text[i] == ',')) {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == n;
}

}  // namespace opcda
