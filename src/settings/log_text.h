#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rovalink::settings {

// Limits on what outside text may put into the error log and the bus events.
inline constexpr std::size_t kMaxLogLineBytes = 1024;    // one error-log line, with its line end
inline constexpr std::size_t kMaxEventDataBytes = 1024;  // the data of one event
inline constexpr std::size_t kMaxQuotedLineBytes = 80;   // a file line quoted in an event
inline constexpr int kMaxReportedBadLines = 10;          // per file; the rest are only counted

// The text with every control character (codes 0 to 31 and 127) written as "\xNN", cut to at
// most maxBytes bytes: a longer result ends in "..." and never splits an escape.
std::string LogText(std::string_view text, std::size_t maxBytes);

// A line of a path or settings file as an event quotes it.
inline std::string QuotedLine(std::string_view line) {
  return LogText(line, kMaxQuotedLineBytes);
}

}  // namespace rovalink::settings
