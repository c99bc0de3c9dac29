#pragma once

#include "platform/clock.h"

namespace rovalink::platform {

// The system's local wall-clock time.
class QtClock : public Clock {
 public:
  double timeOfDay() const override;
  LocalDateTime localNow() const override;
};

}  // namespace rovalink::platform
