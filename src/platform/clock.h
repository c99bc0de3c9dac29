#pragma once

namespace rovalink::platform {

struct LocalDateTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;

  // Seconds since local midnight, with fractions; wraps to 0 at midnight.
  virtual double timeOfDay() const = 0;

  // Local calendar date and time, for log stamps.
  virtual LocalDateTime localNow() const = 0;
};

}  // namespace rovalink::platform
