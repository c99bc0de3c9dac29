#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/qt/wake_estimate.h"

class QSocketNotifier;

namespace rovalink::platform {

// The timer wheel of the Qt platform. All timers of the loop share one timerfd (CLOCK_MONOTONIC,
// absolute deadlines) watched by a QSocketNotifier: a QTimer rounds waits up to whole
// milliseconds and inherits the poll slack, while a timerfd fires ~0.1 ms late, which the
// dispatcher's pacing needs. Also counts handled events for EventLoop::waitForEvent.
class QtEventCore {
 public:
  using Nanos = std::int64_t;
  struct Key {
    Nanos deadline = 0;
    std::uint64_t sequence = 0;
    auto operator<=>(const Key&) const = default;
  };
  class Client {
   public:
    virtual ~Client() = default;
    virtual void fire(const Key& key) = 0;
  };

  QtEventCore();
  ~QtEventCore();
  QtEventCore(const QtEventCore&) = delete;
  QtEventCore& operator=(const QtEventCore&) = delete;

  static Nanos now();

  Key schedule(Nanos deadline, Client* client);
  void cancel(const Key& key);
  bool hasTimers() const { return !m_timers.empty(); }

  // Runs the ticks of every timer whose deadline has passed, in deadline order.
  void fireDue();

  // A wait that must wake by this deadline (stacked for nested waits).
  void pushWaitDeadline(Nanos deadline);
  void popWaitDeadline();

  void noteHandled() { ++m_handled; }
  std::uint64_t handled() const { return m_handled; }
  std::uint64_t activations() const { return m_activations; }
  // The loop's wake-up cost, learnt from the precise timers' wakes.
  WakeEstimate& wake() { return m_wake; }

 private:
  void onReadable();
  void arm();

  int m_fd = -1;
  std::unique_ptr<QSocketNotifier> m_notifier;
  std::map<Key, Client*> m_timers;
  std::vector<Nanos> m_waitDeadlines;
  std::uint64_t m_nextSequence = 0;
  std::uint64_t m_handled = 0;
  std::uint64_t m_activations = 0;
  Nanos m_armedFor = -1;
  WakeEstimate m_wake;
};

}  // namespace rovalink::platform
