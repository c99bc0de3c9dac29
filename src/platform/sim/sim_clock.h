#pragma once

#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "platform/sim/sim_event_loop.h"

namespace rovalink::platform {

// Local wall-clock time on the loop's virtual time: a settable date and time plus the virtual
// time that has passed since it was set. No time zones or daylight saving: it is local time.
class SimClock : public Clock {
 public:
  explicit SimClock(std::shared_ptr<SimEventLoop> loop);

  double timeOfDay() const override;
  LocalDateTime localNow() const override;

  // Makes the clock read `when` now; it runs on with virtual time from there.
  void setLocalDateTime(const LocalDateTime& when);

 private:
  std::int64_t localMicros() const;

  std::shared_ptr<SimEventLoop> m_loop;
  std::int64_t m_offsetMicros = 0;  // local time since 1970-01-01 at virtual time 0
};

}  // namespace rovalink::platform
