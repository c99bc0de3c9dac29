#include "platform/sim/sim_clock.h"

#include <utility>

namespace rovalink::platform {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::int64_t kMicrosPerDay = kSecondsPerDay * kMicrosPerSecond;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil calendar algorithms).
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

}  // namespace

SimClock::SimClock(std::shared_ptr<SimEventLoop> loop) : m_loop(std::move(loop)) {
  setLocalDateTime(LocalDateTime{2026, 12, 6, 10, 0, 0});
}

void SimClock::setLocalDateTime(const LocalDateTime& when) {
  const std::int64_t seconds = daysFromCivil(when.year, when.month, when.day) * kSecondsPerDay +
                               when.hour * 3600 + when.minute * 60 + when.second;
  m_offsetMicros = seconds * kMicrosPerSecond - m_loop->now();
}

std::int64_t SimClock::localMicros() const {
  return m_offsetMicros + m_loop->now();
}

double SimClock::timeOfDay() const {
  const std::int64_t local = localMicros();
  const std::int64_t inDay = local - floorDiv(local, kMicrosPerDay) * kMicrosPerDay;
  return static_cast<double>(inDay) / static_cast<double>(kMicrosPerSecond);
}

LocalDateTime SimClock::localNow() const {
  const std::int64_t seconds = floorDiv(localMicros(), kMicrosPerSecond);
  const std::int64_t days = floorDiv(seconds, kSecondsPerDay);
  const std::int64_t inDay = seconds - days * kSecondsPerDay;
  LocalDateTime result;
  civilFromDays(days, result.year, result.month, result.day);
  result.hour = static_cast<int>(inDay / 3600);
  result.minute = static_cast<int>(inDay / 60 % 60);
  result.second = static_cast<int>(inDay % 60);
  return result;
}

}  // namespace rovalink::platform
