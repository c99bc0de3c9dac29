#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_event_loop.h"

namespace rovalink::commands::testing_support {

using Micros = platform::SimEventLoop::Micros;
constexpr Micros kMs = 1000;

// A timer that notes the interval of each start ("32000 8000 ").
class RecordingTimer : public platform::Timer {
 public:
  RecordingTimer(std::unique_ptr<platform::Timer> inner, std::string& starts)
      : m_inner(std::move(inner)), m_starts(starts) {
    m_inner->onTick([this] { emitTick(); });
  }
  void setInterval(int ms) override { m_inner->setInterval(ms); }
  void setIntervalNanos(std::int64_t nanos) override { m_inner->setIntervalNanos(nanos); }
  void tickSoon() override { m_inner->tickSoon(); }
  int interval() const override { return m_inner->interval(); }
  void setEnabled(bool on) override {
    if (on && !m_inner->enabled()) m_starts += std::to_string(m_inner->interval()) + " ";
    m_inner->setEnabled(on);
  }
  bool enabled() const override { return m_inner->enabled(); }

 private:
  std::unique_ptr<platform::Timer> m_inner;
  std::string& m_starts;
};

// The sim loop with recording timers (the dispatcher's CommandTimer always starts with 1 ms).
class RecordingLoop : public platform::SimEventLoop {
 public:
  std::unique_ptr<platform::Timer> createTimer() override {
    return std::make_unique<RecordingTimer>(SimEventLoop::createTimer(), timerStarts);
  }
  std::string timerStarts;
};

// The robot's procedure table, faked: records what ran ("Name" or "Name=parameter") and when
// (virtual µs); an action may take virtual time or do something more.
class RecordingRunner : public ProcedureRunner {
 public:
  explicit RecordingRunner(platform::SimEventLoop& loop) : m_loop(loop) {}
  bool runProcedure(const Command& c) override {
    ran.emplace_back(c.Procedure + (c.Parameter.empty() ? "" : "=" + c.Parameter), m_loop.now());
    if (onRun) onRun(c);
    if (actionMicros > 0) m_loop.advance(actionMicros);
    return true;
  }
  // What ran, with the virtual ms from one start to the next between: "MoveForward +600 MoveStop".
  std::string timeline() const {
    std::string text;
    for (std::size_t i = 0; i < ran.size(); ++i) {
      if (i > 0) text += " +" + std::to_string((ran[i].second - ran[i - 1].second) / kMs) + " ";
      text += ran[i].first;
    }
    return text;
  }

  std::vector<std::pair<std::string, Micros>> ran;
  std::function<void(const Command&)> onRun;
  Micros actionMicros = 0;

 private:
  platform::SimEventLoop& m_loop;
};

// A dispatcher on virtual time, made at start-up with the clock at 00:00:00, and run from 2 s
// on: clear of the start-up rule (a command taken within 1 s of start-up waits for it).
class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() {
    dispatcher.setProcedureRunner(&runner);
    loop->advance(2000 * kMs);
  }

  // Runs the loop until the dispatcher has gone idle with an empty queue (bounded).
  void runUntilIdle() {
    loop->advance(0);  // what is due now: a queued command goes out without a tick
    ASSERT_TRUE(loop->runUntil(
        [&] { return !dispatcher.CommandBusy() && dispatcher.queue().empty(); }, 3600'000 * kMs));
  }
  double now() const { return clock.timeOfDay(); }
  // Queues two keyboard commands stamped seconds apart.
  void queueTwoStamped(double seconds) {
    dispatcher.QueueCommand(Command{"MoveForward", "", now()});
    dispatcher.QueueCommand(Command{"MoveStop", "", now() + seconds});
  }

  std::shared_ptr<RecordingLoop> loop = std::make_shared<RecordingLoop>();
  platform::SimClock clock{loop};
  RecordingRunner runner{*loop};
  CommandDispatcher dispatcher{*loop, clock};
};

}  // namespace rovalink::commands::testing_support
