#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "platform/wait.h"

namespace rovalink::platform {
namespace {

class SimEventLoopTest : public ::testing::Test {
 protected:
  std::string at(const std::string& name) {
    return name + "@" + std::to_string(static_cast<int>(m_platform.nowMs()));
  }

  SimPlatform m_platform;
  EventLoop& m_loop = m_platform.loop();
  std::vector<std::string> m_ticks;
};

TEST_F(SimEventLoopTest, TimersTickInDeadlineOrderAtTheirVirtualTimes) {
  auto fast = m_loop.createTimer();
  auto slow = m_loop.createTimer();
  fast->setInterval(30);
  slow->setInterval(50);
  fast->onTick([&] { m_ticks.push_back(at("fast")); });
  slow->onTick([&] { m_ticks.push_back(at("slow")); });
  fast->setEnabled(true);
  slow->setEnabled(true);
  m_platform.advanceMs(100);
  EXPECT_EQ(m_ticks,
            (std::vector<std::string>{"fast@30", "slow@50", "fast@60", "fast@90", "slow@100"}));
}

TEST_F(SimEventLoopTest, IntervalZeroNeverTicksEvenWhenEnabled) {
  auto timer = m_loop.createTimer();
  timer->onTick([&] { m_ticks.push_back(at("t")); });
  timer->setEnabled(true);
  m_platform.advanceMs(10'000);
  EXPECT_TRUE(timer->enabled());
  EXPECT_TRUE(m_ticks.empty());
  // Nothing is scheduled, so a wait cannot block on it.
  EXPECT_FALSE(m_loop.waitForEvent());
  // Giving it an interval afterwards starts it from that moment.
  timer->setInterval(5);
  m_platform.advanceMs(5);
  EXPECT_EQ(m_ticks, (std::vector<std::string>{"t@10005"}));
}

TEST_F(SimEventLoopTest, HandlerThatDisablesItsTimerTicksOnce) {
  auto timer = m_loop.createTimer();
  timer->setInterval(1000);
  timer->onTick([&] {
    m_ticks.push_back(at("once"));
    timer->setEnabled(false);
  });
  timer->setEnabled(true);
  m_platform.advanceMs(5000);
  EXPECT_EQ(m_ticks, (std::vector<std::string>{"once@1000"}));
  EXPECT_FALSE(timer->enabled());
}

TEST_F(SimEventLoopTest, HandlerThatRearmsItsTimerGetsTheNewPeriodFromThatTick) {
  auto timer = m_loop.createTimer();
  timer->setInterval(1000);
  timer->onTick([&] {
    m_ticks.push_back(at("t"));
    timer->setEnabled(false);
    timer->setInterval(30'000);
    timer->setEnabled(true);
  });
  timer->setEnabled(true);
  m_platform.advanceMs(60'000);
  EXPECT_EQ(m_ticks, (std::vector<std::string>{"t@1000", "t@31000"}));
}

TEST_F(SimEventLoopTest, SettingTheIntervalRestartsThePeriod) {
  auto timer = m_loop.createTimer();
  timer->setInterval(100);
  timer->onTick([&] { m_ticks.push_back(at("t")); });
  timer->setEnabled(true);
  m_platform.advanceMs(80);
  timer->setInterval(100);
  m_platform.advanceMs(100);
  timer->setEnabled(true);  // already enabled: no restart
  m_platform.advanceMs(100);
  EXPECT_EQ(m_ticks, (std::vector<std::string>{"t@180", "t@280"}));
}

TEST_F(SimEventLoopTest, TimerDestroyedInItsOwnHandlerStopsCleanly) {
  auto timer = m_loop.createTimer();
  auto other = m_loop.createTimer();
  timer->setInterval(10);
  other->setInterval(10);  // due at the same time, after it
  timer->onTick([&] {
    m_ticks.push_back(at("dying"));
    timer.reset();
    other.reset();
  });
  other->onTick([&] { m_ticks.push_back(at("other")); });
  timer->setEnabled(true);
  other->setEnabled(true);
  m_platform.advanceMs(100);
  EXPECT_EQ(m_ticks, (std::vector<std::string>{"dying@10"}));
  EXPECT_EQ(m_platform.simLoop().pendingCount(), 0u);
}

TEST_F(SimEventLoopTest, HandlerCanWaitReentrantlyWhileOtherTimersTick) {
  auto outer = m_loop.createTimer();
  auto inner = m_loop.createTimer();
  inner->setInterval(20);
  inner->onTick([&] { m_ticks.push_back(at("inner")); });
  outer->setInterval(100);
  outer->onTick([&] {
    outer->setEnabled(false);
    m_ticks.push_back(at("outer-begin"));
    inner->setEnabled(true);
    // A wait inside a handler, like the system's discovery or pacing waits.
    const bool reached = waitUntil(m_loop, 1000, [&] { return m_ticks.size() >= 4; });
    inner->setEnabled(false);
    m_ticks.push_back(at(reached ? "outer-end" : "outer-timeout"));
  });
  outer->setEnabled(true);
  m_platform.advanceMs(2000);
  EXPECT_EQ(m_ticks, (std::vector<std::string>{"outer-begin@100", "inner@120", "inner@140",
                                               "inner@160", "outer-end@160"}));
}

TEST_F(SimEventLoopTest, ThirtySecondBoundedWaitTakesNoRealTime) {
  bool never = false;
  const auto started = std::chrono::steady_clock::now();
  const bool reached = waitUntil(m_loop, 30'000, [&] { return never; });
  const auto spent = std::chrono::steady_clock::now() - started;
  EXPECT_FALSE(reached);
  EXPECT_EQ(m_platform.nowMs(), 30'000.0);
  EXPECT_LT(spent, std::chrono::milliseconds(50));
}

TEST_F(SimEventLoopTest, WaitForEventJumpsToTheNextEntryOrStopsAtItsBound) {
  auto timer = m_loop.createTimer();
  int ticks = 0;
  timer->setInterval(500);
  timer->onTick([&] { ++ticks; });
  timer->setEnabled(true);

  EXPECT_TRUE(m_loop.waitForEvent(100));  // bound first: time moves, nothing ran
  EXPECT_EQ(m_platform.nowMs(), 100.0);
  EXPECT_EQ(ticks, 0);
  EXPECT_TRUE(m_loop.waitForEvent());
  EXPECT_EQ(m_platform.nowMs(), 500.0);
  EXPECT_EQ(ticks, 1);

  timer->setEnabled(false);
  EXPECT_FALSE(m_loop.waitForEvent());  // nothing scheduled: no time passes
  EXPECT_EQ(m_platform.nowMs(), 500.0);
  EXPECT_FALSE(m_loop.waitForEvent(250));  // a bounded one lets its bound pass
  EXPECT_EQ(m_platform.nowMs(), 750.0);
}

TEST_F(SimEventLoopTest, PumpOnceRunsOnlyWhatIsAlreadyDue) {
  SimEventLoop& loop = m_platform.simLoop();
  std::vector<std::string> order;
  loop.post(0, [&] {
    order.push_back("first");
    loop.post(0, [&] { order.push_back("posted-while-pumping"); });
  });
  loop.post(5000, [&] { order.push_back("later"); });
  m_loop.pumpOnce();
  EXPECT_EQ(order, (std::vector<std::string>{"first"}));
  m_loop.pumpOnce();
  EXPECT_EQ(order, (std::vector<std::string>{"first", "posted-while-pumping"}));
  EXPECT_EQ(m_platform.nowMs(), 0.0);
}

TEST_F(SimEventLoopTest, RunEndsOnQuitWithItsCode) {
  auto timer = m_loop.createTimer();
  int ticks = 0;
  timer->setInterval(10);
  timer->onTick([&] {
    if (++ticks == 3) m_loop.quit(7);
  });
  timer->setEnabled(true);
  EXPECT_EQ(m_loop.run(), 7);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(m_platform.nowMs(), 30.0);
}

TEST_F(SimEventLoopTest, BusyPumpLoopIsBrokenInsteadOfHanging) {
  auto timer = m_loop.createTimer();
  timer->setInterval(50);
  timer->onTick([&] { timer->setEnabled(false); });
  timer->setEnabled(true);
  while (timer->enabled()) m_loop.pumpOnce();  // the DoEvents idiom, on virtual time
  EXPECT_EQ(m_platform.nowMs(), 50.0);
}

struct ClockCase {
  const char* name;
  LocalDateTime start;
  int advanceMs;
  LocalDateTime expected;
  double expectedTimeOfDay;
};

class SimClockTest : public ::testing::TestWithParam<ClockCase> {};

TEST_P(SimClockTest, LocalTimeRunsOnVirtualTime) {
  const ClockCase& c = GetParam();
  SimPlatform platform;
  platform.setLocalDateTime(c.start);
  platform.advanceMs(c.advanceMs);
  const LocalDateTime now = platform.clock().localNow();
  EXPECT_EQ(now.year, c.expected.year);
  EXPECT_EQ(now.month, c.expected.month);
  EXPECT_EQ(now.day, c.expected.day);
  EXPECT_EQ(now.hour, c.expected.hour);
  EXPECT_EQ(now.minute, c.expected.minute);
  EXPECT_EQ(now.second, c.expected.second);
  EXPECT_DOUBLE_EQ(platform.clock().timeOfDay(), c.expectedTimeOfDay);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, SimClockTest,
    ::testing::Values(
        ClockCase{"Start", {2026, 12, 6, 10, 0, 0}, 0, {2026, 12, 6, 10, 0, 0}, 36000.0},
        ClockCase{"Fraction", {2026, 12, 6, 10, 0, 0}, 1250, {2026, 12, 6, 10, 0, 1}, 36001.25},
        ClockCase{"MidnightWraps", {2026, 12, 6, 23, 59, 59}, 1500, {2026, 12, 7, 0, 0, 0}, 0.5},
        ClockCase{"NewYear", {2026, 12, 31, 23, 59, 58}, 3000, {2027, 1, 1, 0, 0, 1}, 1.0},
        ClockCase{"LeapDay", {2028, 2, 28, 23, 0, 0}, 3'600'000, {2028, 2, 29, 0, 0, 0}, 0.0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(SimClock, DefaultStartIsTheSixthOfDecember2026AtTen) {
  SimPlatform platform;
  const LocalDateTime now = platform.clock().localNow();
  EXPECT_EQ(now.year, 2026);
  EXPECT_EQ(now.month, 12);
  EXPECT_EQ(now.day, 6);
  EXPECT_DOUBLE_EQ(platform.clock().timeOfDay(), 36000.0);
}

TEST(SimHostAndProcess, HostIsConfigurableAndPriorityChangesAreRecorded) {
  SimPlatform platform;
  platform.simHost().setComputerName("ROBOTPC");
  platform.simHost().setIpv4Addresses({"10.0.0.2", "192.168.1.10"});
  EXPECT_EQ(platform.host().computerName(), "ROBOTPC");
  EXPECT_EQ(platform.host().ipv4Addresses(),
            (std::vector<std::string>{"10.0.0.2", "192.168.1.10"}));

  EXPECT_TRUE(platform.process().setPriority(PriorityClass::High));
  platform.simProcess().refuseChanges(true);
  EXPECT_FALSE(platform.process().setPriority(PriorityClass::Normal));
  EXPECT_EQ(platform.simProcess().current(), PriorityClass::High);
  EXPECT_EQ(platform.simProcess().changes(), std::vector<PriorityClass>{PriorityClass::High});
}

}  // namespace
}  // namespace rovalink::platform
