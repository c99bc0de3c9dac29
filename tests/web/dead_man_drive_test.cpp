#include "web/pages/dead_man_drive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"

namespace rovalink::web {
namespace {

using Outcome = DeadManDrive::Outcome;

// One step of a timeline: at a virtual time (ms), a client sends a direction (seq 0: none), or
// nothing happens ("" client); then what the queue has received so far, "@ms:" stamped.
struct Step {
  int atMs;
  std::string client;
  std::uint64_t seq;
  std::string direction;
};

struct Timeline {
  const char* name;
  std::vector<Step> steps;
  int endMs;
  std::vector<std::string> queued;
};

class DeadManDriveTest : public ::testing::TestWithParam<Timeline> {};

TEST_P(DeadManDriveTest, QueuesWhatTheTimelineAsksFor) {
  platform::SimPlatform sim;
  std::vector<std::string> queued;
  DeadManDrive drive(sim.loop(), [&](const std::string& procedure) {
    queued.push_back("@" + std::to_string(static_cast<int>(sim.nowMs())) + ":" + procedure);
  });
  for (const Step& step : GetParam().steps) {
    sim.advanceMs(step.atMs - static_cast<int>(sim.nowMs()));
    drive.drive(step.client, step.seq, step.direction);
  }
  sim.advanceMs(GetParam().endMs - static_cast<int>(sim.nowMs()));
  EXPECT_EQ(queued, GetParam().queued);
}

INSTANTIATE_TEST_SUITE_P(
    Timelines, DeadManDriveTest,
    ::testing::Values(
        // Repeats every 250 ms keep it moving; the motion goes again every 500 ms, like held keys.
        Timeline{"HeldThenSilent",
                 {{0, "a", 1, "forward"},
                  {250, "a", 2, "forward"},
                  {510, "a", 3, "forward"},
                  {760, "a", 4, "forward"}},
                 2000,
                 {"@0:MoveForward", "@510:MoveForward", "@1360:MoveStop"}},
        Timeline{"ReleasedStopsAtOnceAndNothingLater",
                 {{0, "a", 1, "forward-left"}, {200, "a", 2, "stop"}},
                 2000,
                 {"@0:MoveForwardLeft", "@200:MoveStop"}},
        // The last driver wins: the dead-man now watches b, and a's silence stops nothing.
        Timeline{"LastDriverWins",
                 {{0, "a", 1, "forward"},
                  {100, "b", 1, "backward-right"},
                  {400, "b", 2, "backward-right"}},
                 2000,
                 {"@0:MoveForward", "@100:MoveBackwardRight", "@1000:MoveStop"}},
        // A stop from anyone stops, even with no motion started here.
        Timeline{"StopFromAnotherClientWins",
                 {{0, "a", 1, "right"}, {100, "b", 1, "stop"}, {300, "", 0, "stop"}},
                 2000,
                 {"@0:MoveRight", "@100:MoveStop", "@300:MoveStop"}},
        // A move overtaken by its own stop on the network must not start the robot again.
        Timeline{"OvertakenMoveIsIgnored",
                 {{0, "a", 1, "forward"}, {100, "a", 3, "stop"}, {120, "a", 2, "forward"}},
                 2000,
                 {"@0:MoveForward", "@100:MoveStop"}},
        Timeline{
            "UnknownDirectionDoesNothing", {{0, "a", 1, "up"}, {10, "a", 2, "FORWARD"}}, 2000, {}}),
    [](const ::testing::TestParamInfo<Timeline>& tp) { return std::string(tp.param.name); });

TEST(DeadManDrive, NamesEveryDirectionByItsMotion) {
  EXPECT_EQ(DeadManDrive::MotionFor("backward-left"), "MoveBackwardLeft");
  EXPECT_EQ(DeadManDrive::MotionFor("forward-right"), "MoveForwardRight");
  EXPECT_EQ(DeadManDrive::MotionFor("stop"), "MoveStop");
  EXPECT_FALSE(DeadManDrive::MotionFor("back"));
}

}  // namespace
}  // namespace rovalink::web
