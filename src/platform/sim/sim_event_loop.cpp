#include "platform/sim/sim_event_loop.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/diag.h"

namespace rovalink::platform {
namespace {

constexpr SimEventLoop::Micros kMicrosPerMs = 1000;
// A pumpOnce() loop never ends on virtual time (nothing moves the clock). After this many idle
// pumps in a row the loop jumps to the next entry so such a test finishes instead of hanging.
constexpr std::uint64_t kBusyLoopLimit = 1'000'000;

class SimTimer : public Timer {
 public:
  explicit SimTimer(std::shared_ptr<SimEventLoop> loop) : m_loop(std::move(loop)) {}
  ~SimTimer() override { unschedule(); }

  void setInterval(int ms) override { setPeriod(std::max(ms, 0) * kMicrosPerMs); }
  void setIntervalNanos(std::int64_t nanos) override {
    // Never shorter than asked: a wait that ends early is the fault being guarded against.
    setPeriod((std::max<std::int64_t>(nanos, 0) + 999) / 1000);
  }
  int interval() const override {
    return static_cast<int>((m_period + kMicrosPerMs - 1) / kMicrosPerMs);
  }

  void setEnabled(bool on) override {
    if (on == m_enabled) return;
    m_enabled = on;
    if (on) {
      scheduleAt(m_loop->now() + m_period);
    } else {
      unschedule();
    }
  }
  bool enabled() const override { return m_enabled; }

  void tickSoon() override {
    if (!m_enabled) return;
    unschedule();
    m_key = m_loop->postAt(m_loop->now(), [this] { tick(); });
  }

 private:
  void setPeriod(SimEventLoop::Micros period) {
    m_period = period;
    if (m_enabled) scheduleAt(m_loop->now() + m_period);
  }
  void scheduleAt(SimEventLoop::Micros time) {
    unschedule();
    if (!m_enabled || m_period <= 0) return;
    m_key = m_loop->postAt(time, [this] { tick(); });
  }
  void unschedule() {
    if (m_key) m_loop->cancel(*m_key);
    m_key.reset();
  }
  void tick() {
    const SimEventLoop::Micros due = m_key ? m_key->time : m_loop->now();
    m_key.reset();  // the loop has already taken the entry
    // Re-arm before the handler so it can disable or re-arm the timer; periods do not drift.
    SimEventLoop::Micros next = due + m_period;
    if (next <= m_loop->now()) next = m_loop->now() + m_period;
    scheduleAt(next);
    emitTick();  // may destroy this timer: nothing after this line
  }

  std::shared_ptr<SimEventLoop> m_loop;
  SimEventLoop::Micros m_period = 0;
  bool m_enabled = false;
  std::optional<SimEventLoop::Key> m_key;
};

}  // namespace

std::unique_ptr<Timer> SimEventLoop::createTimer() {
  return std::make_unique<SimTimer>(shared_from_this());
}

SimEventLoop::Key SimEventLoop::post(Micros delay, Action action) {
  return postAt(m_now + std::max<Micros>(delay, 0), std::move(action));
}

SimEventLoop::Key SimEventLoop::postAt(Micros time, Action action) {
  const Key key{std::max(time, m_now), m_nextSequence++};
  m_queue.emplace(key, std::move(action));
  return key;
}

void SimEventLoop::cancel(const Key& key) {
  m_queue.erase(key);
}

bool SimEventLoop::runFirstIfDue(Micros limitTime, std::uint64_t sequenceLimit) {
  if (m_queue.empty()) return false;
  const auto first = m_queue.begin();
  if (first->first.time > limitTime || first->first.sequence >= sequenceLimit) return false;
  auto node = m_queue.extract(first);
  m_now = std::max(m_now, node.key().time);
  ++m_handled;
  m_idlePumps = 0;
  node.mapped()();
  return true;
}

void SimEventLoop::pumpOnce() {
  const std::uint64_t before = m_handled;
  const std::uint64_t sequenceLimit = m_nextSequence;
  while (runFirstIfDue(m_now, sequenceLimit)) {
  }
  if (m_handled == before && ++m_idlePumps >= kBusyLoopLimit) breakBusyLoop();
}

void SimEventLoop::breakBusyLoop() {
  m_idlePumps = 0;
  if (m_queue.empty()) return;
  diag::warning(
      "sim: pumpOnce() called in a loop with nothing due; jumping to the next event "
      "(wait with waitForEvent() instead)");
  m_now = std::max(m_now, m_queue.begin()->first.time);
}

bool SimEventLoop::waitForEvent(int maxMs) {
  if (m_quit) return false;
  if (m_queue.empty()) {
    if (maxMs > 0) m_now += maxMs * kMicrosPerMs;
    return false;
  }
  const Micros next = m_queue.begin()->first.time;
  if (maxMs >= 0 && next > m_now + maxMs * kMicrosPerMs) {
    m_now += maxMs * kMicrosPerMs;
    return true;
  }
  m_now = std::max(m_now, next);
  const std::uint64_t sequenceLimit = m_nextSequence;
  while (!m_quit && runFirstIfDue(m_now, sequenceLimit)) {
  }
  return !m_quit;
}

int SimEventLoop::run() {
  m_quit = false;
  while (waitForEvent(-1)) {
  }
  m_quit = false;
  return m_exitCode;
}

void SimEventLoop::quit(int exitCode) {
  m_exitCode = exitCode;
  m_quit = true;
}

void SimEventLoop::advance(Micros duration) {
  const Micros target = m_now + std::max<Micros>(duration, 0);
  while (runFirstIfDue(target, UINT64_MAX)) {
  }
  m_now = std::max(m_now, target);
}

bool SimEventLoop::runUntil(const std::function<bool()>& done, Micros maxDuration) {
  const Micros deadline = m_now + std::max<Micros>(maxDuration, 0);
  while (!done()) {
    if (!runFirstIfDue(deadline, UINT64_MAX)) {
      m_now = std::max(m_now, deadline);
      return done();
    }
  }
  return true;
}

}  // namespace rovalink::platform
