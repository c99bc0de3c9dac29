#include "web/pages/frame_fanout.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"

namespace rovalink::web {
namespace {

class FrameFanoutTest : public ::testing::Test {
 protected:
  // A viewer that records what it was given and whether it was dropped.
  std::uint64_t viewer(const std::string& name) {
    const auto id = fanout.add({[this, name](const SharedFrame& f) { got[name].push_back(*f); },
                                [this, name] { dropped.push_back(name); }});
    EXPECT_TRUE(id.has_value());
    return id.value_or(0);
  }
  static SharedFrame frame(const std::string& bytes) {
    return std::make_shared<const std::string>(bytes);
  }

  platform::SimPlatform sim;
  FrameFanout fanout{sim.loop()};
  std::map<std::string, std::vector<std::string>> got;
  std::vector<std::string> dropped;
};

TEST_F(FrameFanoutTest, ASlowViewerGetsOnlyTheNewestWaitingFrameAndTheFastOneEveryFrame) {
  const auto fast = viewer("fast");
  const auto slow = viewer("slow");
  for (const char* f : {"1", "2", "3", "4"}) {
    fanout.publish(frame(f));
    fanout.written(fast);
  }
  EXPECT_EQ(got["fast"], (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(got["slow"], (std::vector<std::string>{"1"}));
  fanout.written(slow);
  fanout.written(slow);
  EXPECT_EQ(got["slow"], (std::vector<std::string>{"1", "4"}));
  EXPECT_EQ(fanout.skipped(slow), 2u);
}

TEST_F(FrameFanoutTest, AViewerWhoseWriteMakesNoProgressIsDroppedAfterTheStallTime) {
  const auto fast = viewer("fast");
  viewer("stalled");
  fanout.publish(frame("1"));
  for (int s = 0; s < 9; ++s) {  // the fast one keeps taking frames; the other takes nothing
    sim.advanceMs(1000);
    fanout.written(fast);
    fanout.publish(frame("x"));
  }
  EXPECT_TRUE(dropped.empty());
  sim.advanceMs(1000);
  EXPECT_EQ(dropped, (std::vector<std::string>{"stalled"}));
  EXPECT_EQ(fanout.size(), 1u);
  fanout.written(fast);
  sim.advanceMs(60000);  // a viewer that is idle with nothing to send is not stalled
  EXPECT_EQ(dropped.size(), 1u);
}

TEST_F(FrameFanoutTest, TheViewerCountIsCappedAndALeavingViewerFreesItsPlace) {
  std::vector<std::uint64_t> ids;
  for (std::size_t i = 0; i < FrameFanout::kMaxViewers; ++i)
    ids.push_back(viewer(std::to_string(i)));
  EXPECT_FALSE(fanout.add({[](const SharedFrame&) {}, {}}).has_value());
  fanout.remove(ids.front());
  EXPECT_TRUE(fanout.add({[](const SharedFrame&) {}, {}}).has_value());
}

}  // namespace
}  // namespace rovalink::web
