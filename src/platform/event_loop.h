#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace rovalink::platform {

// A window-style timer: ticks every interval() ms while enabled. An interval of 0 never ticks.
// Setting the interval or enabling the timer restarts its period; a tick handler may disable
// or re-arm its own timer.
class Timer {
 public:
  using TickHandler = std::function<void()>;

  virtual ~Timer() = default;

  virtual void setInterval(int ms) = 0;
  virtual int interval() const = 0;
  virtual void setEnabled(bool enabled) = 0;
  virtual bool enabled() const = 0;

  // The period to the nanosecond, for waits that must end on time. Where the platform can, the
  // tick lands on the deadline itself (it wakes a little early and waits out the rest). The
  // simulation keeps microseconds. interval() reads it in whole ms, rounded up.
  virtual void setIntervalNanos(std::int64_t nanos) = 0;
  // Brings the next tick forward to as soon as the loop is free (after the running handler
  // returns), without changing the period; an enabled timer with interval 0 ticks once then.
  // Nothing happens on a disabled timer.
  virtual void tickSoon() = 0;

  void onTick(TickHandler handler) {
    m_onTick = handler ? std::make_shared<const TickHandler>(std::move(handler)) : nullptr;
  }

 protected:
  // The handler is kept alive for the call: it may destroy its own timer.
  void emitTick() {
    if (const auto handler = m_onTick) (*handler)();
  }

 private:
  std::shared_ptr<const TickHandler> m_onTick;
};

// The one event loop of the process. Handlers run on the calling thread; both pump calls may
// be made from inside a handler (the waits of the system run handlers re-entrantly).
class EventLoop {
 public:
  virtual ~EventLoop() = default;

  virtual std::unique_ptr<Timer> createTimer() = 0;

  // Runs the handlers of every event that is already due, then returns.
  virtual void pumpOnce() = 0;

  // Blocks until at least one event has been handled or maxMs have passed (-1: no bound).
  // Returns false when nothing can ever happen (no timer running and, in the simulation,
  // nothing in flight), so a caller's loop cannot spin forever.
  virtual bool waitForEvent(int maxMs = -1) = 0;

  // Runs until quit(); returns the code given to quit().
  virtual int run() = 0;
  // Ends run(). Also ends every wait: a waitForEvent() running when quit() is called (from a
  // handler inside it) returns false, and so does every later one until run() returns, so
  // nested waits unwind at once instead of waiting for their next event. A quit() before run()
  // makes run() return at once.
  virtual void quit(int exitCode) = 0;
};

}  // namespace rovalink::platform
