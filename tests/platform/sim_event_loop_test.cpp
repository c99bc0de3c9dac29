#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>

#include "platform/sim/sim_platform.h"
#include "platform/test_util.h"
#include "platform/wait.h"

namespace rovalink::platform {
namespace {

class SimEventLoopTest : public ::testing::Test {
 protected:
  // Records "name@virtual-ms".
  void note(const std::string& name) {
    m_ticks.push_back(name + "@" + std::to_string(static_cast<int>(m_platform.nowMs())));
  }
  auto noter(const std::string& name) {
    return [this, name] { note(name); };
  }

  SimPlatform m_platform;
  EventLoop& m_loop = m_platform.loop();
  Strings m_ticks;
};

TEST_F(SimEventLoopTest, TimersTickInDeadlineOrderAndIntervalZeroNeverTicks) {
  auto zero = startTimer(m_loop, 0, noter("zero"));
  auto fast = startTimer(m_loop, 30, noter("fast"));
  auto slow = startTimer(m_loop, 50, noter("slow"));
  m_platform.advanceMs(100);
  EXPECT_EQ(m_ticks, (Strings{"fast@30", "slow@50", "fast@60", "fast@90", "slow@100"}));
  fast.reset();
  slow.reset();
  m_ticks.clear();
  EXPECT_FALSE(m_loop.waitForEvent()) << "waited on a timer that can never tick";
  zero->setInterval(100);  // starts from now: 200
  m_platform.advanceMs(80);
  zero->setInterval(100);  // restarts: 280
  m_platform.advanceMs(100);
  zero->setEnabled(true);  // already enabled: no restart
  m_platform.advanceMs(100);
  EXPECT_EQ(m_ticks, (Strings{"zero@280", "zero@380"}));
}

TEST_F(SimEventLoopTest, HandlerMayDisableRearmOrDestroyItsOwnTimer) {
  std::unique_ptr<Timer> once, rearmed, dying, other;
  once = startTimer(m_loop, 1000, [&] {
    note("once");
    once->setEnabled(false);
  });
  rearmed = startTimer(m_loop, 1000, [&] {
    note("rearmed");
    rearmed->setEnabled(false);
    rearmed->setInterval(30'000);
    rearmed->setEnabled(true);
  });
  dying = startTimer(m_loop, 10, [&] {
    note("dying");
    dying.reset();
    other.reset();  // due at the same time, after it
  });
  other = startTimer(m_loop, 10, noter("other"));
  m_platform.advanceMs(60'000);
  EXPECT_EQ(m_ticks, (Strings{"dying@10", "once@1000", "rearmed@1000", "rearmed@31000"}));
  EXPECT_EQ(m_platform.simLoop().pendingCount(), 1u) << "only the re-armed timer is left";
}

TEST_F(SimEventLoopTest, WaitsAndPumpsRunOnlyWhatIsDueAndAThirtySecondWaitTakesNoRealTime) {
  auto t = startTimer(m_loop, 500, noter("tick"));
  const auto wait = [&](int maxMs) { note(m_loop.waitForEvent(maxMs) ? "woke" : "idle"); };
  wait(100);  // the bound comes first: time moves, nothing ran
  wait(-1);
  t->setEnabled(false);
  wait(-1);   // nothing scheduled: no time passes
  wait(250);  // a bounded one lets its bound pass
  m_platform.simLoop().post(0, [&] { m_platform.simLoop().post(0, noter("posted")); });
  m_loop.pumpOnce();  // what a handler posts waits for the next pump
  EXPECT_EQ(m_ticks, (Strings{"woke@100", "tick@500", "woke@500", "idle@500", "idle@750"}));

  std::unique_ptr<Timer> busy;
  busy = startTimer(m_loop, 50, [&] { busy->setEnabled(false); });
  while (busy->enabled()) m_loop.pumpOnce();  // the DoEvents idiom, on virtual time
  EXPECT_EQ(m_platform.nowMs(), 800.0);
  std::unique_ptr<Timer> quit;
  quit = startTimer(m_loop, 10, [&] {
    quit->setEnabled(false);
    m_loop.quit(7);
  });
  EXPECT_EQ(m_loop.run(), 7);
  EXPECT_EQ(m_ticks.back(), "posted@750");

  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(waitUntil(m_loop, 30'000, [] { return false; }));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));
  EXPECT_EQ(m_platform.nowMs(), 30'810.0);
  // A quit from a handler (Exit) ends the wait it runs in, and every wait after it.
  quit->setEnabled(true);
  EXPECT_FALSE(waitUntil(m_loop, 30'000, [] { return false; }));
  EXPECT_EQ(m_platform.nowMs(), 30'820.0);
  EXPECT_FALSE(m_loop.waitForEvent(1000));
}

TEST(SimClock, LocalTimeRunsOnVirtualTimeAcrossALeapDayMidnight) {
  SimPlatform platform;
  platform.setLocalDateTime({2028, 2, 28, 23, 59, 59});
  platform.advanceMs(1250);
  const LocalDateTime t = platform.clock().localNow();
  EXPECT_EQ((std::array{t.year, t.month, t.day, t.hour, t.minute, t.second}),
            (std::array{2028, 2, 29, 0, 0, 0}));
  EXPECT_DOUBLE_EQ(platform.clock().timeOfDay(), 0.25);
}

}  // namespace
}  // namespace rovalink::platform
