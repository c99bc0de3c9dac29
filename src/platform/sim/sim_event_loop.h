#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "platform/event_loop.h"

namespace rovalink::platform {

// Deterministic event loop on virtual time (microseconds since the loop was made). Every timer
// tick and network delivery is an entry ordered by (time, sequence); a wait jumps virtual time
// straight to the next entry, so a 30 s time-out costs no real time.
class SimEventLoop : public EventLoop, public std::enable_shared_from_this<SimEventLoop> {
 public:
  using Micros = std::int64_t;
  struct Key {
    Micros time = 0;
    std::uint64_t sequence = 0;
    auto operator<=>(const Key&) const = default;
  };
  using Action = std::function<void()>;

  SimEventLoop() = default;
  SimEventLoop(const SimEventLoop&) = delete;
  SimEventLoop& operator=(const SimEventLoop&) = delete;

  std::unique_ptr<Timer> createTimer() override;

  // Runs every entry that was due when the call began (entries posted meanwhile wait for the
  // next call). Does not move virtual time.
  void pumpOnce() override;

  // Jumps to the next entry and runs everything due then. With nothing scheduled it returns
  // false at once (a bounded wait still lets maxMs of virtual time pass). When the next entry
  // lies beyond maxMs, virtual time moves by maxMs and the result is true.
  bool waitForEvent(int maxMs = -1) override;

  // Runs until quit() or until nothing is scheduled any more.
  int run() override;
  void quit(int exitCode) override;

  Micros now() const { return m_now; }
  // Schedules an action at now + delay (delay >= 0). Entries at the same time run in posting
  // order.
  Key post(Micros delay, Action action);
  Key postAt(Micros time, Action action);
  void cancel(const Key& key);

  // Test drivers: run every entry up to now + duration (including ones posted meanwhile) and
  // leave virtual time there.
  void advance(Micros duration);
  // Runs entries until done() or until virtual time would pass now + maxDuration; returns done().
  bool runUntil(const std::function<bool()>& done, Micros maxDuration);

  std::size_t pendingCount() const { return m_queue.size(); }
  // Number of entries run so far (timer ticks and deliveries).
  std::uint64_t handledCount() const { return m_handled; }

 private:
  bool runFirstIfDue(Micros limitTime, std::uint64_t sequenceLimit);
  void breakBusyLoop();

  std::map<Key, Action> m_queue;
  Micros m_now = 0;
  std::uint64_t m_nextSequence = 0;
  std::uint64_t m_handled = 0;
  std::uint64_t m_idlePumps = 0;
  bool m_quit = false;
  int m_exitCode = 0;
};

}  // namespace rovalink::platform
