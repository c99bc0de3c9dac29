#include "web/server/date_text.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <system_error>

namespace rovalink::web {

std::string MediumDateText(const platform::LocalDateTime& when) {
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int month = when.month >= 1 && when.month <= 12 ? when.month : 1;
  char text[16];
  std::snprintf(text, sizeof text, "%02d-%s-%02d", when.day % 100, kMonths[month - 1],
                when.year % 100);
  return text;
}

std::string GeneralDateTimeText(const platform::LocalDateTime& when) {
  const int hour12 = when.hour % 12 == 0 ? 12 : when.hour % 12;
  char text[40];
  std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d %s", when.month, when.day, when.year,
                hour12, when.minute, when.second, when.hour < 12 ? "AM" : "PM");
  return text;
}

namespace {

std::optional<std::time_t> writeTime(const std::filesystem::path& file) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(file, error);
  if (error) return std::nullopt;
  return std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(
          std::chrono::file_clock::to_sys(written)));
}

}  // namespace

std::string fileHttpDateText(const std::filesystem::path& file) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const auto seconds = writeTime(file);
  std::tm utc{};
  if (!seconds || gmtime_r(&*seconds, &utc) == nullptr) return {};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday % 7],
                utc.tm_mday, kMonths[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                utc.tm_sec);
  return text;
}

std::string fileDateTimeText(const std::filesystem::path& file) {
  const auto time = writeTime(file);
  if (!time) return {};
  const std::time_t seconds = *time;
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return {};
  return GeneralDateTimeText(platform::LocalDateTime{local.tm_year + 1900, local.tm_mon + 1,
                                                     local.tm_mday, local.tm_hour, local.tm_min,
                                                     local.tm_sec});
}

}  // namespace rovalink::web
