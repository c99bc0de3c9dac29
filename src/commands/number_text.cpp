#include "commands/number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace rovalink::commands {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

struct Scan {
  std::string cleaned;  // the number without blanks, exponent marker as 'e', no leading '+'
  std::size_t end = 0;  // index in the source just after the last character of the number
  bool found = false;
};

// Reads [sign] digits [. digits] [e|d [sign] digits] from the start, skipping blanks.
Scan scanNumber(std::string_view text) {
  Scan scan;
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && isBlank(text[i])) ++i;
  };
  skipBlanks();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') scan.cleaned.push_back('-');
    ++i;
  }
  bool digits = false;
  for (skipBlanks(); i < text.size() && isDigit(text[i]); skipBlanks()) {
    scan.cleaned.push_back(text[i++]);
    digits = true;
    scan.end = i;
  }
  if (i < text.size() && text[i] == '.') {
    scan.cleaned.push_back('.');
    ++i;
    if (digits) scan.end = i;
    for (skipBlanks(); i < text.size() && isDigit(text[i]); skipBlanks()) {
      scan.cleaned.push_back(text[i++]);
      digits = true;
      scan.end = i;
    }
  }
  if (!digits) return Scan{};
  scan.found = true;
  // Keep only what is certainly part of the number before trying an exponent.
  if (!scan.cleaned.empty() && scan.cleaned.back() == '.') scan.cleaned.pop_back();
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    while (j < text.size() && isBlank(text[j])) ++j;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
      if (text[j] == '-') exponent.push_back('-');
      ++j;
    }
    bool expDigits = false;
    while (j < text.size() && (isDigit(text[j]) || isBlank(text[j]))) {
      if (isDigit(text[j])) {
        exponent.push_back(text[j]);
        expDigits = true;
        scan.end = j + 1;
      }
      ++j;
    }
    if (expDigits) scan.cleaned += exponent;
  }
  return scan;
}

double convert(const std::string& cleaned) {
  double value = 0.0;
  const char* first = cleaned.data();
  const char* last = first + cleaned.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone: decide between overflow and underflow ourselves.
    const bool negative = cleaned.front() == '-';
    const auto e = cleaned.find('e');
    const bool tiny = e != std::string::npos && e + 1 < cleaned.size() && cleaned[e + 1] == '-';
    if (tiny) return negative ? -0.0 : 0.0;
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (ec != std::errc{}) return 0.0;
  (void)ptr;
  return value;
}

}  // namespace

double ReadLeadingNumber(std::string_view text) {
  const Scan scan = scanNumber(text);
  return scan.found ? convert(scan.cleaned) : 0.0;
}

bool IsNumericText(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  for (char c : text) {
    if (isBlank(c)) return false;  // "1 2" is two numbers, not one
  }
  const Scan scan = scanNumber(text);
  return scan.found && scan.end == text.size() && std::isfinite(convert(scan.cleaned));
}

std::int16_t ToInt16(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::nearbyint(value);
  if (rounded <= std::numeric_limits<std::int16_t>::min()) {
    return std::numeric_limits<std::int16_t>::min();
  }
  if (rounded >= std::numeric_limits<std::int16_t>::max()) {
    return std::numeric_limits<std::int16_t>::max();
  }
  return static_cast<std::int16_t>(rounded);
}

std::int32_t ToInt32(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::nearbyint(value);
  if (rounded <= std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  if (rounded >= std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(rounded);
}

std::string FormatSeconds3(double value) {
  if (!std::isfinite(value)) return "0";
  // Beyond 2^53 / 1000 a double has no thousandths left to round.
  const double rounded =
      std::fabs(value) < 9.0e12 ? std::nearbyint(value * 1000.0) / 1000.0 : std::nearbyint(value);
  if (rounded == 0.0) return "0";  // also turns -0 into "0"
  std::array<char, 400> buffer{};
  auto [ptr, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), rounded,
                                 std::chars_format::fixed);
  if (ec != std::errc{}) return "0";
  return std::string(buffer.data(), ptr);
}

}  // namespace rovalink::commands
