#include "platform/qt/qt_event_loop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <utility>

namespace rovalink::platform {
namespace {

constexpr QtEventCore::Nanos kNanosPerMs = 1'000'000;

// A precise timer wakes early by the loop's learnt wake-up cost and waits out the rest in a
// spin of at most this long; a wake earlier than that sleeps again instead.
constexpr QtEventCore::Nanos kMaxSpin = 200'000;

class QtTimer : public Timer, private QtEventCore::Client {
 public:
  explicit QtTimer(std::shared_ptr<QtEventCore> core) : m_core(std::move(core)) {}
  ~QtTimer() override { unschedule(); }

  void setInterval(int ms) override { setPeriod(std::max(ms, 0) * kNanosPerMs, false); }
  void setIntervalNanos(std::int64_t nanos) override {
    setPeriod(std::max<std::int64_t>(nanos, 0), true);
  }
  int interval() const override {
    return static_cast<int>((m_period + kNanosPerMs - 1) / kNanosPerMs);
  }
  void setEnabled(bool on) override {
    if (on == m_enabled) return;
    m_enabled = on;
    if (on) {
      scheduleAt(QtEventCore::now() + m_period);
    } else {
      unschedule();
    }
  }
  bool enabled() const override { return m_enabled; }
  void tickSoon() override {
    if (!m_enabled) return;
    unschedule();
    m_due = QtEventCore::now();
    wakeAt(m_due);
  }

 private:
  void setPeriod(QtEventCore::Nanos period, bool precise) {
    m_period = period;
    m_precise = precise;
    if (m_enabled) scheduleAt(QtEventCore::now() + m_period);
  }
  void scheduleAt(QtEventCore::Nanos deadline) {
    unschedule();
    if (!m_enabled || m_period <= 0) return;
    m_due = deadline;
    wakeAt(m_precise ? deadline - m_core->wake().lead() : deadline);
  }
  void wakeAt(QtEventCore::Nanos at) {
    // Only a wake that really slept tells the wake-up cost.
    m_sleeps = at > QtEventCore::now();
    m_key = m_core->schedule(at, this);
  }
  void unschedule() {
    if (m_key) m_core->cancel(*m_key);
    m_key.reset();
  }
  void fire(const QtEventCore::Key& key) override {
    m_key.reset();  // the core has already taken the entry
    QtEventCore::Nanos now = QtEventCore::now();
    if (m_precise) {
      if (m_sleeps) m_core->wake().observe(now - key.deadline);
      if (m_due - now > kMaxSpin) {
        wakeAt(m_due - kMaxSpin / 2);
        return;
      }
      // The short final wait of an early wake.
      while (now < m_due) now = QtEventCore::now();
    }
    // Re-arm before the handler so it may disable or re-arm the timer. Periods keep their
    // phase; a tick that is more than a period late does not cause a burst of catch-up ticks.
    QtEventCore::Nanos next = m_due + m_period;
    if (next <= now) next = now + m_period;
    scheduleAt(next);
    emitTick();  // may destroy this timer: nothing after this line
  }

  std::shared_ptr<QtEventCore> m_core;
  QtEventCore::Nanos m_period = 0;
  QtEventCore::Nanos m_due = 0;
  bool m_precise = false;
  bool m_sleeps = false;
  bool m_enabled = false;
  std::optional<QtEventCore::Key> m_key;
};

bool processQtEvents(QEventLoop::ProcessEventsFlags flags) {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  return dispatcher != nullptr && dispatcher->processEvents(flags);
}

std::shared_ptr<QtEventCore> makeCore() {
  // Socket notifiers and sockets only work on a thread with a Qt event dispatcher.
  if (QCoreApplication::instance() == nullptr) {
    throw std::logic_error("the Qt platform needs a QCoreApplication");
  }
  return std::make_shared<QtEventCore>();
}

}  // namespace

QtEventLoop::QtEventLoop() : m_core(makeCore()) {}

std::unique_ptr<Timer> QtEventLoop::createTimer() {
  return std::make_unique<QtTimer>(m_core);
}

void QtEventLoop::pumpOnce() {
  processQtEvents(QEventLoop::AllEvents);
  m_core->fireDue();
}

bool QtEventLoop::waitForEvent(int maxMs) {
  // Only our own events count (timer ticks, socket events): Qt's internal events (posted
  // calls, deferred deletes) would otherwise end a bounded wait early.
  if (m_quitRequested) return false;
  const std::uint64_t handledBefore = m_core->handled();
  if (maxMs < 0 && !m_core->hasTimers()) {
    processQtEvents(QEventLoop::AllEvents);
    m_core->fireDue();
    return m_core->handled() != handledBefore;
  }
  std::optional<QtEventCore::Nanos> deadline;
  if (maxMs >= 0) {
    deadline = QtEventCore::now() + maxMs * kNanosPerMs;
    m_core->pushWaitDeadline(*deadline);
  }
  // A window or signal handler that called quit() (Exit) is not one of our events, but it
  // must end the wait too.
  while (m_core->handled() == handledBefore && !m_quitRequested) {
    if (deadline && QtEventCore::now() >= *deadline) break;
    processQtEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
  }
  if (deadline) m_core->popWaitDeadline();
  if (m_quitRequested) return false;
  return m_core->handled() != handledBefore || m_core->hasTimers();
}

int QtEventLoop::run() {
  if (m_quitPending) {
    m_quitPending = false;
    m_quitRequested = false;
    return m_exitCode;
  }
  m_running = true;
  const int code = QCoreApplication::exec();
  m_running = false;
  m_quitRequested = false;
  return code;
}

void QtEventLoop::quit(int exitCode) {
  m_exitCode = exitCode;
  m_quitRequested = true;
  if (m_running) {
    QCoreApplication::exit(exitCode);
  } else {
    m_quitPending = true;
  }
}

}  // namespace rovalink::platform
