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

// A timer that tells the loop which intervals it was started with.
class RecordingTimer : public platform::Timer {
 public:
  RecordingTimer(std::unique_ptr<platform::Timer> inner, int id,
                 std::vector<std::pair<int, int>>* starts)
      : m_inner(std::move(inner)), m_id(id), m_starts(starts) {
    m_inner->onTick([this] { emitTick(); });
  }
  void setInterval(int ms) override { m_inner->setInterval(ms); }
  int interval() const override { return m_inner->interval(); }
  void setEnabled(bool enabled) override {
    if (enabled && !m_inner->enabled()) m_starts->emplace_back(m_id, m_inner->interval());
    m_inner->setEnabled(enabled);
  }
  bool enabled() const override { return m_inner->enabled(); }

 private:
  std::unique_ptr<platform::Timer> m_inner;
  int m_id;
  std::vector<std::pair<int, int>>* m_starts;
};

// The sim loop, with every timer start recorded as (timer number in creation order, interval).
class RecordingLoop : public platform::SimEventLoop {
 public:
  std::unique_ptr<platform::Timer> createTimer() override {
    return std::make_unique<RecordingTimer>(SimEventLoop::createTimer(), m_timers++, &timerStarts);
  }
  std::vector<std::pair<int, int>> timerStarts;

 private:
  int m_timers = 0;
};

struct Ran {
  std::string procedure;
  std::string parameter;
  Micros at;
};

// The robot's procedure table, faked: records what ran and when; an action may take virtual
// time or do something extra.
class RecordingRunner : public ProcedureRunner {
 public:
  explicit RecordingRunner(platform::SimEventLoop& loop) : m_loop(loop) {}

  bool runProcedure(const Command& command) override {
    ++m_depth;
    maxDepth = std::max(maxDepth, m_depth);
    ran.push_back({command.Procedure, command.Parameter, m_loop.now()});
    if (onRun) onRun(command);
    if (actionMicros > 0) m_loop.advance(actionMicros);
    --m_depth;
    return true;
  }

  std::vector<std::string> procedures() const {
    std::vector<std::string> names;
    for (const Ran& r : ran) names.push_back(r.procedure);
    return names;
  }

  std::vector<Ran> ran;
  std::function<void(const Command&)> onRun;
  Micros actionMicros = 0;
  int maxDepth = 0;

 private:
  platform::SimEventLoop& m_loop;
  int m_depth = 0;
};

// A dispatcher on virtual time. The clock starts at 10:00:00 and the dispatcher is made then.
class DispatcherTest : public ::testing::Test {
 protected:
  static constexpr double kStartOfDay = 10 * 3600.0;

  explicit DispatcherTest(platform::LocalDateTime start = {2024, 5, 1, 10, 0, 0})
      : loop(std::make_shared<RecordingLoop>()), clock(loop) {
    clock.setLocalDateTime(start);
    dispatcher = std::make_unique<CommandDispatcher>(*loop, clock);
    dispatcher->setProcedureRunner(&runner);
  }

  // Runs the loop until the dispatcher has gone idle with an empty queue (bounded).
  void runUntilIdle(Micros bound = 600'000'000) {
    loop->advance(1000);  // the first CommandTimer tick
    ASSERT_TRUE(loop->runUntil(
        [&] { return !dispatcher->CommandBusy() && dispatcher->queue().empty(); }, bound));
  }

  std::shared_ptr<RecordingLoop> loop;
  platform::SimClock clock;
  RecordingRunner runner{*loop};
  std::unique_ptr<CommandDispatcher> dispatcher;
};

}  // namespace rovalink::commands::testing_support
