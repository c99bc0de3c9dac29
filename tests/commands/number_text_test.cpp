#include "commands/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace rovalink::commands {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Text as a path-file duration or a command parameter: the leading number read from it (blanks
// skipped, "." the only decimal point), whether the whole text is one finite number, and the
// number "Volume" and "Speed" take from it (half to even, clamped to 16 bits).
struct TextCase {
  const char* text;
  double leading;
  bool numeric;
  int int16;
};

class NumberText : public ::testing::TestWithParam<TextCase> {};

TEST_P(NumberText, ReadsTheLeadingNumberAndItsRoundedClamped16BitValue) {
  EXPECT_DOUBLE_EQ(ReadLeadingNumber(GetParam().text), GetParam().leading);
  EXPECT_EQ(IsNumericText(GetParam().text), GetParam().numeric);
  EXPECT_EQ(ParameterToInt16(GetParam().text), GetParam().int16);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumberText,
    ::testing::Values(
        TextCase{"40", 40, true, 40}, TextCase{" 40 ", 40, true, 40}, TextCase{"+2", 2, true, 2},
        TextCase{"1.25", 1.25, true, 1}, TextCase{"\t-3.5abc", -3.5, false, -4},
        TextCase{".5", 0.5, true, 0}, TextCase{"5.", 5, true, 5}, TextCase{"2.5", 2.5, true, 2},
        TextCase{"-2.5", -2.5, true, -2}, TextCase{"81.5", 81.5, true, 82},
        TextCase{"49.6", 49.6, true, 50}, TextCase{"0.0001", 0.0001, true, 0},
        TextCase{"2e3", 2000, true, 2000}, TextCase{"2D-1", 0.2, true, 0},
        TextCase{"3e", 3, false, 3}, TextCase{"3e+", 3, false, 3}, TextCase{"1 2", 12, false, 12},
        TextCase{"1,5", 1, false, 1}, TextCase{"12x3", 12, false, 12},
        TextCase{"1.2.3", 1.2, false, 1}, TextCase{" 50.5 percent", 50.5, false, 50},
        TextCase{"", 0, false, 0}, TextCase{"loud", 0, false, 0}, TextCase{"-", 0, false, 0},
        TextCase{".", 0, false, 0}, TextCase{"40000", 40000, true, 32767},
        TextCase{"-40000", -40000, true, -32768}, TextCase{"32767.4", 32767.4, true, 32767},
        TextCase{"99999", 99999, true, 32767}, TextCase{"1e999", kInf, false, 32767},
        TextCase{"-1e999", -kInf, false, -32768}, TextCase{"1e-999", 0, true, 0}));

TEST(NumberText, SecondsAreWrittenShortestWithAPointRoundedToThreeDecimals) {
  const std::pair<double, const char*> cases[] = {
      {1.25, "1.25"},          {0.5, "0.5"},      {0, "0"},
      {-0.0001, "0"},          {2, "2"},          {-2.125, "-2.125"},
      {0.1234, "0.123"},       {1.0006, "1.001"}, {86399.9996, "86400"},
      {12345.678, "12345.678"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatSeconds3(value), text) << value;
  EXPECT_EQ(ToInt16(std::nan("")), 0);
}

}  // namespace
}  // namespace rovalink::commands
