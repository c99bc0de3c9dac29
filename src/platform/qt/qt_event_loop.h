#pragma once

#include <memory>

#include "platform/event_loop.h"
#include "platform/qt/qt_event_core.h"

namespace rovalink::platform {

// The QCoreApplication event loop with timerfd-backed timers (see QtEventCore). Needs a
// QCoreApplication on this thread.
class QtEventLoop : public EventLoop {
 public:
  QtEventLoop();

  std::unique_ptr<Timer> createTimer() override;
  void pumpOnce() override;
  // Blocks in the Qt event dispatcher until one of our events (a timer tick, a socket event)
  // has been handled or maxMs have passed; other Qt events (window input) run meanwhile but do
  // not end the wait. An unbounded wait while no timer is running does not block (nothing
  // bounds it): it handles what is pending. Returns false when nothing was handled and no
  // timer is running.
  bool waitForEvent(int maxMs = -1) override;
  int run() override;
  void quit(int exitCode) override;

  const std::shared_ptr<QtEventCore>& core() const { return m_core; }

 private:
  std::shared_ptr<QtEventCore> m_core;
  bool m_running = false;
  bool m_quitPending = false;
  bool m_quitRequested = false;
  int m_exitCode = 0;
};

}  // namespace rovalink::platform
