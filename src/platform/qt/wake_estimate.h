#pragma once

#include <algorithm>
#include <cstdint>

namespace rovalink::platform {

// How long a timer wake-up takes from its deadline to its handler (timerfd, poll, notifier),
// as a running median: a precise timer is armed this much (and a margin) before its due time
// and waits out the rest. The cost is the machine's: ~0.05 ms on a busy core, ~0.2 ms when a
// virtual CPU must leave its idle state, so a fixed lead is late on one and spins on the other.
// A sign step follows the median and a rare very late wake (another task held the CPU) moves
// it no more than any other.
class WakeEstimate {
 public:
  using Nanos = std::int64_t;
  static constexpr Nanos kStart = 150'000;
  static constexpr Nanos kStep = 4'000;
  static constexpr Nanos kMargin = 25'000;
  static constexpr Nanos kMaxLead = 400'000;

  void observe(Nanos latency) {
    m_median += latency > m_median ? kStep : latency < m_median ? -kStep : 0;
    m_median = std::clamp<Nanos>(m_median, 0, kMaxLead - kMargin);
  }
  Nanos median() const { return m_median; }
  // How long before its due time a precise timer is armed.
  Nanos lead() const { return m_median + kMargin; }

 private:
  Nanos m_median = kStart;
};

}  // namespace rovalink::platform
