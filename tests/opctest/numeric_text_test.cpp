#include "opctest/numeric_text.h"

#include <gtest/gtest.h>

namespace {

struct NumericCase {
  const char* text;
  bool numeric;
};

void PrintTo(const NumericCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class IsNumericTest : public ::testing::TestWithParam<NumericCase> {};

TEST_P(IsNumericTest, ReadsTextAsTheValueBoxesDo) {
  EXPECT_EQ(opcda::IsNumeric(GetParam().text), GetParam().numeric) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsNumericTest,
    ::testing::Values(
        NumericCase{"0", true}, NumericCase{"42", true}, NumericCase{"-7", true},
        NumericCase{"+7", true}, NumericCase{"1.5", true}, NumericCase{"1,5", true},
        NumericCase{".5", true}, NumericCase{"5.", true}, NumericCase{"-.5", true},
        NumericCase{"1e3", true}, NumericCase{"1E+3", true}, NumericCase{"2.5e-10", true},
        NumericCase{"1D2", true}, NumericCase{"  12  ", true}, NumericCase{"\t3\t", true},
        NumericCase{" -1.5E3 ", true},
        // Not numbers.
        NumericCase{"", false}, NumericCase{"   ", false}, NumericCase{"abc", false},
        NumericCase{"0a", false}, NumericCase{"a0", false}, NumericCase{"+", false},
        NumericCase{"-", false}, NumericCase{".", false}, NumericCase{"1e", false},
        NumericCase{"1e+", false}, NumericCase{"e5", false}, NumericCase{"1.2.3", false},
        NumericCase{"1 2", false}, NumericCase{"--1", false}, NumericCase{"1-", false},
        NumericCase{"0x10", false}, NumericCase{"1e5.5", false}));

}  // namespace
