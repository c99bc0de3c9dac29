#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "platform/wait.h"

namespace rovalink::platform {
namespace {

class SimEventLoopTest : public ::testing::Test {
 protected:
  SimPlatform m_platform;
  EventLoop& m_loop = m_platform.loop();
};

TEST_F(SimEventLoopTest, TimersTickInDeadlineOrderAtTheirVirtualTimes) {
  std::vector<std::string> ticks;
  auto fast = m_loop.createTimer();
  auto slow = m_loop.createTimer();
  fast->setInterval(30);
  slow->setInterval(50);
  fast->onTick([&] { ticks.push_back("fast@" + std::to_string(int(m_platform.nowMs()))); });
  slow->onTick([&] { ticks.push_back("slow@" + std::to_string(int(m_platform.nowMs()))); });
  fast->setEnabled(true);
  slow->setEnabled(true);
  m_platform.advanceMs(100);
  EXPECT_EQ(ticks,
            (std::vector<std::string>{"fast@30", "slow@50", "fast@60", "fast@90", "slow@100"}));
}

}  // namespace
}  // namespace rovalink::platform
