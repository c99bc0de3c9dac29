#include "commands/command_dispatcher.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

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

  // Run now: done before the call returns when idle; queued behind a running action otherwise.
  runner.onRun = [&](const Command& c) {
    if (c.Procedure == "SoundAlarm") dispatcher.runCommandNow(Command{"HeadLEDOff", "", 0.0});
  };
  dispatcher.runCommandNow(Command{"SoundAlarm", "", 0.0});
  EXPECT_EQ(runner.timeline(), "HeadLEDOn +0 MoveForward +0 MoveStop +0 SoundAlarm +0 HeadLEDOff");
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
  for (const char* name : {"connectedon", "ConnectedOn", "MoveForward", "SoundAlarm"}) {
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
  dispatcher.QueueCommand("HeadLEDOn");
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "Volume=300 +0 HeadLEDOn");
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

// What is queued ("Name=parameter@seconds from now"; no "@": stamp 0, as from the bus), then
// a keyboard stop stopAtMs after the first action started (-1: none). A stop meant now drops
// every motion still queued, waiting its pace or running, and goes next without a pacing wait;
// a stop the bus timed for later ends its sequence in its place.
struct StopCase {
  const char* name;
  std::vector<std::string> queued;
  int stopAtMs;
  const char* timeline;
};

class DispatcherStop : public Dispatcher, public ::testing::WithParamInterface<StopCase> {};

TEST_P(DispatcherStop, GoesNextAndDropsTheMotionsBeforeIt) {
  const StopCase& c = GetParam();
  loop->advance(12 * 3600'000 * kMs);  // midday: a stamp of 0 lies hours before any other
  runner.actionMicros = 100 * kMs;
  for (const std::string& text : c.queued) {
    const std::size_t at = text.find('@');
    const std::string call = text.substr(0, at);
    const std::size_t equals = call.find('=');
    dispatcher.QueueCommand(
        Command{call.substr(0, equals), equals == std::string::npos ? "" : call.substr(equals + 1),
                at == std::string::npos ? 0.0 : now() + std::stod(text.substr(at + 1))});
  }
  runner.onRun = [&](const Command&) {
    if (runner.ran.size() == 1 && c.stopAtMs >= 0) {
      loop->post(c.stopAtMs * kMs, [&] { dispatcher.QueueTimedCommand("MoveStop"); });
    }
  };
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), c.timeline);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, DispatcherStop,
    ::testing::Values(StopCase{"BeforeDispatch",
                               {"HeadLEDOn", "MoveForward", "MoveLeft", "MoveStop", "SoundAlarm"},
                               -1,
                               "MoveStop +100 HeadLEDOn +100 SoundAlarm"},
                      StopCase{"DuringTheRunningMotion",
                               {"MoveForward", "MoveForward", "HeadLEDOn"},
                               50,
                               "MoveForward +100 MoveStop +100 HeadLEDOn"},
                      StopCase{"DuringAPacedMotion",
                               {"MoveForward@0", "MoveLeft@0.6", "MoveRight@1.2"},
                               300,
                               "MoveForward +300 MoveStop"},
                      StopCase{"DuringAPacedCommandThatIsNoMotion",
                               {"MoveForward@0", "Volume=40@0.6"},
                               300,
                               "MoveForward +300 MoveStop +100 Volume=40"},
                      StopCase{"TimedLaterByTheBus",
                               {"MoveForward@0", "MoveLeft@0.5", "MoveStop@1"},
                               -1,
                               "MoveForward +500 MoveLeft +500 MoveStop"}),
    [](const auto& p) { return std::string(p.param.name); });

// A flood from a door fills the queue to its bound, in commands or bytes; the rest are counted
// into one event, and the stop in the middle still drops the flood and goes next.
TEST_F(Dispatcher, AFloodIsBoundedAndCountedOnceAndTheStopInItWins) {
  std::vector<std::string> reports;
  dispatcher.setRefusedReporter([&](const std::string& text) { reports.push_back(text); });
  dispatcher.QueueCommand("HeadLEDOn");
  for (int i = 0; i < 20000; ++i) dispatcher.QueueCommand("MoveForward");
  EXPECT_EQ(dispatcher.queue().size(), CommandQueue::kMaxDoorCommands);
  dispatcher.QueueCommand("MoveStop");
  for (int i = 0; i < 20000; ++i) dispatcher.QueueCommand("MoveForward");
  dispatcher.QueueCommand(Command{"MoveStop", "", now()});
  runUntilIdle();
  EXPECT_EQ(runner.timeline(), "MoveStop +0 HeadLEDOn");
  loop->advance(CommandDispatcher::kRefusedReportMs * kMs);
  EXPECT_EQ(reports, std::vector<std::string>{"20003 commands refused: the command queue was "
                                              "full (10000 commands)"});

  for (int i = 0; i < 5; ++i)
    dispatcher.QueueCommand(Command{"Volume", std::string(1 << 20, '4'), 0.0});
  EXPECT_EQ(dispatcher.queue().size(), 3u);
  EXPECT_EQ(dispatcher.queue().doorBytes(), 3 * (sizeof(Command) + 6 + (1u << 20)));
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
