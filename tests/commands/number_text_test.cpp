#include "commands/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace rovalink::commands {
namespace {

struct LeadingCase {
  std::string text;
  double value;
};

class LeadingNumber : public testing::TestWithParam<LeadingCase> {};

TEST_P(LeadingNumber, ReadsTheLongestLeadingDecimalNumber) {
  EXPECT_DOUBLE_EQ(ReadLeadingNumber(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LeadingNumber,
    testing::Values(LeadingCase{"40", 40}, LeadingCase{"1.25", 1.25}, LeadingCase{"  7", 7},
                    LeadingCase{"\t-3.5abc", -3.5}, LeadingCase{"+2", 2}, LeadingCase{"", 0},
                    LeadingCase{"abc", 0}, LeadingCase{"1,5", 1}, LeadingCase{".5", 0.5},
                    LeadingCase{"5.", 5}, LeadingCase{"1 2", 12}, LeadingCase{"2e3", 2000},
                    LeadingCase{"2D-1", 0.2}, LeadingCase{"3e", 3}, LeadingCase{"3e+", 3},
                    LeadingCase{"-", 0}, LeadingCase{".", 0}, LeadingCase{"12x3", 12},
                    LeadingCase{"1.2.3", 1.2}, LeadingCase{"0.0001", 0.0001}));

TEST(LeadingNumberLimits, HugeExponentsSaturateInsteadOfFailing) {
  EXPECT_EQ(ReadLeadingNumber("1e999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(ReadLeadingNumber("-1e999"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(ReadLeadingNumber("1e-999"), 0.0);
}

struct NumericCase {
  std::string text;
  bool numeric;
};

class NumericText : public testing::TestWithParam<NumericCase> {};

TEST_P(NumericText, AcceptsOnlyOneWholeFiniteNumber) {
  EXPECT_EQ(IsNumericText(GetParam().text), GetParam().numeric) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, NumericText,
                         testing::Values(NumericCase{"3", true}, NumericCase{" 40 ", true},
                                         NumericCase{"-1.5", true}, NumericCase{"1e3", true},
                                         NumericCase{".5", true}, NumericCase{"5.", true},
                                         NumericCase{"", false}, NumericCase{"abc", false},
                                         NumericCase{"1x", false}, NumericCase{"1 2", false},
                                         NumericCase{"1,5", false}, NumericCase{"Unknown", false},
                                         NumericCase{"1e999", false}, NumericCase{"-", false},
                                         NumericCase{"1e", false}));

struct RoundCase {
  double value;
  int expected;
};

class Int16Rounding : public testing::TestWithParam<RoundCase> {};

TEST_P(Int16Rounding, RoundsHalfToEvenAndClampsToTheRange) {
  EXPECT_EQ(ToInt16(GetParam().value), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, Int16Rounding,
                         testing::Values(RoundCase{0.5, 0}, RoundCase{1.5, 2}, RoundCase{2.5, 2},
                                         RoundCase{-2.5, -2}, RoundCase{49.6, 50},
                                         RoundCase{40000, 32767}, RoundCase{-40000, -32768},
                                         RoundCase{32767.4, 32767},
                                         RoundCase{std::numeric_limits<double>::infinity(), 32767},
                                         RoundCase{std::nan(""), 0}));

TEST(ParameterNumber, VolumeTextBecomesItsRoundedNumber) {
  EXPECT_EQ(ParameterToInt16("40"), 40);
  EXPECT_EQ(ParameterToInt16(" 50.5 percent"), 50);
  EXPECT_EQ(ParameterToInt16("loud"), 0);
  EXPECT_EQ(ParameterToInt16("99999"), 32767);
}

struct FormatCase {
  double value;
  std::string text;
};

class SecondsText : public testing::TestWithParam<FormatCase> {};

TEST_P(SecondsText, IsShortestFormRoundedToThreeDecimalsWithAPoint) {
  EXPECT_EQ(FormatSeconds3(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, SecondsText,
                         testing::Values(FormatCase{1.25, "1.25"}, FormatCase{0.5, "0.5"},
                                         FormatCase{0, "0"}, FormatCase{-0.0001, "0"},
                                         FormatCase{2, "2"}, FormatCase{-2.125, "-2.125"},
                                         FormatCase{0.1234, "0.123"}, FormatCase{1.0006, "1.001"},
                                         FormatCase{86399.9996, "86400"},
                                         FormatCase{12345.678, "12345.678"}));

}  // namespace
}  // namespace rovalink::commands
