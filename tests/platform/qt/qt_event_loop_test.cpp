#include <gtest/gtest.h>

#include <QCoreApplication>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/qt_platform.h"
#include "platform/wait.h"

namespace rovalink::platform {
namespace {

using Clock = std::chrono::steady_clock;

class QtEventLoopTest : public ::testing::Test {
 protected:
  int m_argc = 1;
  char m_name[16] = "qt_loop_test";
  char* m_argv[2] = {m_name, nullptr};
  QCoreApplication m_app{m_argc, m_argv};
  QtPlatform m_platform;
  EventLoop& m_loop = m_platform.loop();
};

TEST_F(QtEventLoopTest, TimersTickInDeadlineOrder) {
  std::vector<std::string> ticks;
  auto fast = m_loop.createTimer();
  auto slow = m_loop.createTimer();
  slow->setInterval(150);
  fast->setInterval(60);
  fast->onTick([&] { ticks.emplace_back("fast"); });
  slow->onTick([&] { ticks.emplace_back("slow"); });
  slow->setEnabled(true);
  fast->setEnabled(true);
  waitUntil(m_loop, 10'000, [&] { return ticks.size() >= 3; });
  // Deadlines 60, 120, 150: only a tick more than a period late could change the order.
  EXPECT_EQ(ticks, (std::vector<std::string>{"fast", "fast", "slow"}));
}

TEST_F(QtEventLoopTest, IntervalZeroNeverTicksAndDisablingInTheHandlerStopsTheTimer) {
  auto zero = m_loop.createTimer();
  auto once = m_loop.createTimer();
  int zeroTicks = 0;
  int onceTicks = 0;
  zero->onTick([&] { ++zeroTicks; });
  zero->setEnabled(true);
  once->setInterval(5);
  once->onTick([&] {
    ++onceTicks;
    once->setEnabled(false);
  });
  once->setEnabled(true);
  ASSERT_TRUE(waitUntil(m_loop, 10'000, [&] { return onceTicks > 0; }));
  pumpFor(m_loop, 50);
  EXPECT_EQ(zeroTicks, 0);
  EXPECT_EQ(onceTicks, 1);
}

TEST_F(QtEventLoopTest, HandlerWaitsReentrantlyWhileAnotherTimerTicks) {
  auto outer = m_loop.createTimer();
  auto inner = m_loop.createTimer();
  std::vector<std::string> events;
  inner->setInterval(5);
  inner->onTick([&] { events.emplace_back("inner"); });
  outer->setInterval(10);
  outer->onTick([&] {
    outer->setEnabled(false);
    events.emplace_back("outer-begin");
    inner->setEnabled(true);
    const bool reached = waitUntil(m_loop, 5000, [&] { return events.size() >= 4; });
    inner->setEnabled(false);
    events.emplace_back(reached ? "outer-end" : "outer-timeout");
  });
  outer->setEnabled(true);
  waitUntil(m_loop, 10'000, [&] {
    return !events.empty() && events.back() != "inner" && events.back() != "outer-begin";
  });
  EXPECT_EQ(events,
            (std::vector<std::string>{"outer-begin", "inner", "inner", "inner", "outer-end"}));
}

TEST_F(QtEventLoopTest, BoundedWaitReturnsAfterItsBound) {
  auto far = m_loop.createTimer();
  far->setInterval(60'000);
  far->setEnabled(true);
  const auto started = Clock::now();
  EXPECT_TRUE(m_loop.waitForEvent(30));
  const auto spent = Clock::now() - started;
  EXPECT_GE(spent, std::chrono::milliseconds(30));
  EXPECT_LT(spent, std::chrono::milliseconds(2000));
}

TEST_F(QtEventLoopTest, UnboundedWaitWithoutTimersDoesNotBlock) {
  const auto started = Clock::now();
  EXPECT_FALSE(m_loop.waitForEvent());
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(2000));
}

TEST_F(QtEventLoopTest, QuitEndsRunWithItsCode) {
  auto timer = m_loop.createTimer();
  timer->setInterval(5);
  timer->onTick([&] { m_loop.quit(3); });
  timer->setEnabled(true);
  EXPECT_EQ(m_loop.run(), 3);
}

// Lateness of short waits, as the dispatcher's pacing uses them. Prints the measurement (on
// an idle machine the median is about 0.1 ms); what can be asserted on a loaded machine is that
// no wait ends early and none is wildly late.
TEST_F(QtEventLoopTest, ShortTimerWaitsNeverEndEarly) {
  std::vector<double> lateMs;
  auto timer = m_loop.createTimer();
  timer->onTick([&] { timer->setEnabled(false); });
  for (const int delay : {1, 2, 3, 5, 7, 10, 1, 2, 3, 5, 7, 10, 4, 4, 6, 6, 8, 8, 9, 9}) {
    timer->setInterval(delay);
    const auto started = Clock::now();
    timer->setEnabled(true);
    while (timer->enabled()) m_loop.waitForEvent();
    const std::chrono::duration<double, std::milli> spent = Clock::now() - started;
    lateMs.push_back(spent.count() - delay);
  }
  std::sort(lateMs.begin(), lateMs.end());
  std::printf("timer lateness: min %.3f ms, median %.3f ms, max %.3f ms\n", lateMs.front(),
              lateMs[lateMs.size() / 2], lateMs.back());
  EXPECT_GE(lateMs.front(), 0.0) << "a timer fired early";
  EXPECT_LT(lateMs.back(), 500.0);
}

TEST_F(QtEventLoopTest, ClockAndHostInfoReadTheSystem) {
  const double tod = m_platform.clock().timeOfDay();
  const LocalDateTime now = m_platform.clock().localNow();
  EXPECT_GE(tod, 0.0);
  EXPECT_LT(tod, 86400.0);
  EXPECT_NEAR(tod, now.hour * 3600.0 + now.minute * 60 + now.second, 2.0);
  EXPECT_GE(now.year, 2024);
  EXPECT_FALSE(m_platform.host().computerName().empty());
  const auto addresses = m_platform.host().ipv4Addresses();
  ASSERT_FALSE(addresses.empty());
  for (const auto& address : addresses) {
    EXPECT_EQ(std::count(address.begin(), address.end(), '.'), 3) << address;
  }
}

TEST_F(QtEventLoopTest, PriorityChangesTheNiceValueOrReportsRefusal) {
  const int before = ::getpriority(PRIO_PROCESS, 0);
  if (m_platform.process().setPriority(PriorityClass::High)) {
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), -10);
  } else {
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), before) << "refused but changed";
  }
  if (before == 0) {
    EXPECT_TRUE(m_platform.process().setPriority(PriorityClass::Normal));
    EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), 0);
  }
}

}  // namespace
}  // namespace rovalink::platform
