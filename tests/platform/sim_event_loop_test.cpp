#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "platform/wait.h"

namespace rovalink::platform {
namespace {

using Strings = std::vector<std::string>;

class SimEventLoopTest : public ::testing::Test {
 protected:
  // Records "name@virtual-ms".
  void note(const std::string& name) {
    m_ticks.push_back(name + "@" + std::to_string(static_cast<int>(m_platform.nowMs())));
  }
  std::unique_ptr<Timer> timer(int intervalMs, std::function<void()> onTick) {
    auto t = m_loop.createTimer();
    t->setInterval(intervalMs);
    t->onTick(std::move(onTick));
    t->setEnabled(true);
    return t;
  }

  SimPlatform m_platform;
  EventLoop& m_loop = m_platform.loop();
  Strings m_ticks;
};

TEST_F(SimEventLoopTest, TimersTickInDeadlineOrderAtTheirVirtualTimes) {
  auto fast = timer(30, [&] { note("fast"); });
  auto slow = timer(50, [&] { note("slow"); });
  m_platform.advanceMs(100);
  EXPECT_EQ(m_ticks, (Strings{"fast@30", "slow@50", "fast@60", "fast@90", "slow@100"}));
}

TEST_F(SimEventLoopTest, IntervalZeroNeverTicksAndSettingAnIntervalRestartsThePeriod) {
  auto t = timer(0, [&] { note("t"); });
  m_platform.advanceMs(10'000);
  EXPECT_TRUE(m_ticks.empty());
  EXPECT_FALSE(m_loop.waitForEvent()) << "waited on a timer that can never tick";
  t->setInterval(100);  // starts from now: 10100
  m_platform.advanceMs(80);
  t->setInterval(100);  // restarts: 10180
  m_platform.advanceMs(100);
  t->setEnabled(true);  // already enabled: no restart
  m_platform.advanceMs(100);
  EXPECT_EQ(m_ticks, (Strings{"t@10180", "t@10280"}));
}

TEST_F(SimEventLoopTest, HandlerMayDisableRearmOrDestroyItsOwnTimer) {
  std::unique_ptr<Timer> once, rearmed, dying, other;
  once = timer(1000, [&] {
    note("once");
    once->setEnabled(false);
  });
  rearmed = timer(1000, [&] {
    note("rearmed");
    rearmed->setEnabled(false);
    rearmed->setInterval(30'000);
    rearmed->setEnabled(true);
  });
  dying = timer(10, [&] {
    note("dying");
    dying.reset();
    other.reset();  // due at the same time, after it
  });
  other = timer(10, [&] { note("other"); });
  m_platform.advanceMs(60'000);
  EXPECT_EQ(m_ticks, (Strings{"dying@10", "once@1000", "rearmed@1000", "rearmed@31000"}));
  EXPECT_EQ(m_platform.simLoop().pendingCount(), 1u) << "only the re-armed timer is left";
}

TEST_F(SimEventLoopTest, HandlerCanWaitReentrantlyWhileOtherTimersTick) {
  auto inner = timer(20, [&] { note("inner"); });
  inner->setEnabled(false);
  std::unique_ptr<Timer> outer;
  outer = timer(100, [&] {
    outer->setEnabled(false);
    note("outer-begin");
    inner->setEnabled(true);
    const bool reached = waitUntil(m_loop, 1000, [&] { return m_ticks.size() >= 4; });
    inner->setEnabled(false);
    note(reached ? "outer-end" : "outer-timeout");
  });
  m_platform.advanceMs(2000);
  EXPECT_EQ(m_ticks,
            (Strings{"outer-begin@100", "inner@120", "inner@140", "inner@160", "outer-end@160"}));
}

TEST_F(SimEventLoopTest, ThirtySecondBoundedWaitTakesNoRealTime) {
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(waitUntil(m_loop, 30'000, [] { return false; }));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));
  EXPECT_EQ(m_platform.nowMs(), 30'000.0);
}

TEST_F(SimEventLoopTest, WaitForEventJumpsToTheNextEntryOrStopsAtItsBoundAndRunEndsOnQuit) {
  auto t = timer(500, [&] { note("tick"); });
  const auto wait = [&](int maxMs) { note(m_loop.waitForEvent(maxMs) ? "woke" : "idle"); };
  wait(100);  // the bound comes first: time moves, nothing ran
  wait(-1);
  t->setEnabled(false);
  wait(-1);   // nothing scheduled: no time passes
  wait(250);  // a bounded one lets its bound pass
  EXPECT_EQ(m_ticks, (Strings{"woke@100", "tick@500", "woke@500", "idle@500", "idle@750"}));
  auto quit = timer(10, [&] { m_loop.quit(7); });
  EXPECT_EQ(m_loop.run(), 7);
  EXPECT_EQ(m_platform.nowMs(), 760.0);
}

TEST_F(SimEventLoopTest, PumpOnceRunsOnlyWhatIsDueAndABusyPumpLoopStillEnds) {
  SimEventLoop& loop = m_platform.simLoop();
  loop.post(0, [&] {
    note("first");
    loop.post(0, [&] { note("posted-while-pumping"); });
  });
  loop.post(5000, [&] { note("later"); });
  m_loop.pumpOnce();
  EXPECT_EQ(m_ticks, (Strings{"first@0"}));
  m_loop.pumpOnce();
  EXPECT_EQ(m_ticks, (Strings{"first@0", "posted-while-pumping@0"}));

  std::unique_ptr<Timer> t;
  t = timer(50, [&] { t->setEnabled(false); });
  while (t->enabled()) m_loop.pumpOnce();  // the DoEvents idiom, on virtual time
  EXPECT_EQ(m_platform.nowMs(), 50.0);
}

std::array<int, 6> fields(const LocalDateTime& t) {
  return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

TEST(SimClock, LocalTimeRunsOnVirtualTimeAcrossMidnightNewYearAndLeapDay) {
  struct Case {
    LocalDateTime start;
    int advanceMs;
    LocalDateTime expected;
    double timeOfDay;
  };
  for (const Case& c : {Case{{2026, 12, 6, 10, 0, 0}, 1250, {2026, 12, 6, 10, 0, 1}, 36001.25},
                        Case{{2026, 12, 6, 23, 59, 59}, 1500, {2026, 12, 7, 0, 0, 0}, 0.5},
                        Case{{2026, 12, 31, 23, 59, 58}, 3000, {2027, 1, 1, 0, 0, 1}, 1.0},
                        Case{{2028, 2, 28, 23, 0, 0}, 3'600'000, {2028, 2, 29, 0, 0, 0}, 0.0}}) {
    SimPlatform platform;
    platform.setLocalDateTime(c.start);
    platform.advanceMs(c.advanceMs);
    EXPECT_EQ(fields(platform.clock().localNow()), fields(c.expected)) << c.timeOfDay;
    EXPECT_DOUBLE_EQ(platform.clock().timeOfDay(), c.timeOfDay);
  }
}

}  // namespace
}  // namespace rovalink::platform
