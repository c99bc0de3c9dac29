#include "platform/qt/qt_clock.h"

#include <time.h>

namespace rovalink::platform {
namespace {

struct LocalNow {
  tm fields{};
  long nanos = 0;
};

LocalNow readLocal() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  LocalNow result;
  ::localtime_r(&ts.tv_sec, &result.fields);
  result.nanos = ts.tv_nsec;
  return result;
}

}  // namespace

double QtClock::timeOfDay() const {
  const LocalNow now = readLocal();
  return now.fields.tm_hour * 3600.0 + now.fields.tm_min * 60.0 + now.fields.tm_sec +
         static_cast<double>(now.nanos) / 1e9;
}

LocalDateTime QtClock::localNow() const {
  const LocalNow now = readLocal();
  return LocalDateTime{now.fields.tm_year + 1900, now.fields.tm_mon + 1, now.fields.tm_mday,
                       now.fields.tm_hour,        now.fields.tm_min,     now.fields.tm_sec};
}

}  // namespace rovalink::platform
