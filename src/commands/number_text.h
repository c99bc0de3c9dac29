#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Number text as commands and path files carry it: "." is the only decimal separator, whatever
// the user's locale, both when reading and when writing.
namespace rovalink::commands {

// The longest leading decimal number of text ([sign] digits [. digits] [e|d [sign] digits]);
// blanks (space, tab, CR, LF) are skipped wherever they occur; no number gives 0. Overflow gives
// +-infinity.
double ReadLeadingNumber(std::string_view text);

// True when the whole text, blanks around it aside, is one finite decimal number.
bool IsNumericText(std::string_view text);

// Rounds half to even and clamps to the 16-bit signed range: the number "Volume" and "Speed"
// read from their parameter. A clamped value still fails a later 0..255 byte check.
std::int16_t ToInt16(double value);
inline std::int16_t ParameterToInt16(std::string_view parameter) {
  return ToInt16(ReadLeadingNumber(parameter));
}

// Rounds half to even and clamps to the 32-bit signed range.
std::int32_t ToInt32(double value);

// value rounded to 3 decimals (half to even), written in its shortest form with "." and no
// exponent: 1.25, 0.5, 0, -2.125.
std::string FormatSeconds3(double value);

}  // namespace rovalink::commands
