#include "commands/command_dispatcher.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "commands/dispatcher_fixture.h"

namespace rovalink::commands {
namespace {

using Dispatcher = testing_support::DispatcherTest;
using testing_support::kMs;
using testing_support::Micros;

TEST_F(Dispatcher, ButtonCommandsRunBackToBackAndOneTickEmptiesTheQueue) {
  runner.onRun = [&](const Command& c) {
    if (c.Procedure == "MoveForward") dispatcher.QueueCommand("MoveStop");
  };
  const auto queuedAt = loop->now();
  dispatcher.QueueCommand("HeadLEDOn");
  dispatcher.QueueCommand("MoveForward");
  loop->timerStarts.clear();
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "HeadLEDOn +0 MoveForward +0 MoveStop");
  // Nothing waited ahead of it: out in the same loop turn, not at CommandTimer's next 1 ms tick.
  EXPECT_EQ(runner.ran[0].second, queuedAt);
  EXPECT_EQ(loop->timerStarts, "");  // CommandTimer not started again inside the tick
}

// Two keyboard commands stamped gap seconds apart, the first taking actionMs. Gaps of
// MaxSyncGap (5 s) or more are pauses between sessions and are not waited. Whether to wait
// follows whole ms; a gap that is waited ends at its due time to the µs, from the first send.
struct GapCase {
  const char* name;
  double gap;
  int actionMs;
  const char* timeline;
  Micros startToStart;
};

class DispatcherGap : public Dispatcher, public ::testing::WithParamInterface<GapCase> {};

TEST_P(DispatcherGap, ReproducesTheStampedSpacing) {
  runner.actionMicros = GetParam().actionMs * kMs;
  queueTwoStamped(GetParam().gap);
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), GetParam().timeline);
  ASSERT_EQ(runner.ran.size(), 2u);
  EXPECT_EQ(runner.ran[1].second - runner.ran[0].second, GetParam().startToStart);
}

INSTANTIATE_TEST_SUITE_P(
    Gaps, DispatcherGap,
    ::testing::Values(
        GapCase{"KeyboardSpacing", 0.6, 0, "MoveForward +600 MoveStop", 600'000},
        GapCase{"LessTheActionsOwnTime", 0.6004, 200, "MoveForward +600 MoveStop", 600'400},
        GapCase{"RoundsToNoWait", 0.0004, 0, "MoveForward +0 MoveStop", 0},
        GapCase{"KeepsTheSubMillisecondPart", 0.0016, 0, "MoveForward +1 MoveStop", 1'600},
        GapCase{"JustBelowMaxSyncGap", 4.999, 0, "MoveForward +4999 MoveStop", 4'999'000},
        GapCase{"MaxSyncGapIsNotWaited", 5.0, 0, "MoveForward +0 MoveStop", 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Dispatcher, FortySecondPauseRunsAs32000Then8000Milliseconds) {
  dispatcher.SetMaxSyncGap(60000);
  queueTwoStamped(40.0);
  loop->timerStarts.clear();
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "MoveForward +40000 MoveStop");
  EXPECT_EQ(loop->timerStarts, "32000 8000 ");  // SyncTimer slices
}

TEST_F(Dispatcher, EventsDuringThePacingWaitDoNotReenterAndMayReplaceTheQueue) {
  queueTwoStamped(1.0);
  dispatcher.QueueCommand("SoundAlarm");
  bool busySeen = false;
  // The robot's connect event in the middle of the 1 s wait replaces the queue, queues a login.
  loop->post(500 * kMs, [&] {
    busySeen = dispatcher.CommandBusy();
    dispatcher.queue().Replace();
    dispatcher.QueueCommand("LoginSequence");
  });
  runUntilIdle();
  EXPECT_TRUE(busySeen);
  // MoveStop had been taken already and still runs; SoundAlarm is dropped, the login is not.
  EXPECT_EQ(runner.timeline(), "MoveForward +1000 MoveStop +0 LoginSequence");
}

TEST_F(Dispatcher, ConnectedOnDropsQueuedCommandsAndRunsTheLogin) {
  runner.onRun = [&](const Command& c) {
    if (c.Procedure == "LoginSequence") dispatcher.QueueCommand("VideoOn");
  };
  // Names are handed on as queued: lower-case "connectedon" does not replace the queue.
  for (const char* name : {"connectedon", "ConnectedOn", "MoveForward", "MoveStop"}) {
    dispatcher.QueueCommand(name);
  }
  runUntilIdle();
  // What the login queued after the replacement survives; nothing is removed in its place.
  EXPECT_EQ(runner.timeline(), "connectedon +0 LoginSequence +0 VideoOn");
}

TEST_F(Dispatcher, FailingActionIsDroppedAndDispatchGoesOn) {
  std::string errors;
  dispatcher.setActionErrorHandler(
      [&](auto& procedure, auto& error) { errors += procedure + ": " + error; });
  runner.onRun = [](const Command& c) {
    if (c.Procedure == "Volume") throw std::out_of_range("volume 300 does not fit a byte");
  };
  dispatcher.QueueCommand(Command{"Volume", "300", 0.0});
  dispatcher.QueueCommand("MoveStop");
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "Volume=300 +0 MoveStop");
  EXPECT_EQ(errors, "Volume: volume 300 does not fit a byte");
}

TEST_F(Dispatcher, FirstCommandAfterIdleWaitsForItsOwnTimeOfDay) {
  dispatcher.QueueCommand("SoundAlarm");
  runUntilIdle();
  dispatcher.QueueCommand(Command{"MoveForward", "", now() + 2.0});
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "SoundAlarm +2000 MoveForward");
}

TEST_F(Dispatcher, ButtonCommandTakenWithinASecondOfStartUpWaitsUntilOneSecondAfter) {
  CommandDispatcher started(*loop, clock);
  started.setProcedureRunner(&runner);
  loop->advance(300 * kMs);
  started.QueueCommand("MoveForward");
  loop->runUntil([&] { return !runner.ran.empty(); }, 5000 * kMs);
  EXPECT_EQ(runner.ran.at(0).second, 3000 * kMs);
}

// Keyboard commands either side of midnight: the second stamp, and the time it is taken at,
// have wrapped to near 0.
TEST_F(Dispatcher, SpacingSurvivesTheMidnightWrap) {
  loop->advance((86399'700 - 2000) * kMs);  // 23:59:59.7
  runner.actionMicros = 400 * kMs;          // the second command is taken at 00:00:00.1
  dispatcher.QueueCommand(Command{"MoveForward", "", now()});
  dispatcher.QueueCommand(Command{"MoveStop", "", now() + 0.6 - 86400.0});  // 00:00:00.3
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "MoveForward +600 MoveStop");
}

}  // namespace
}  // namespace rovalink::commands
