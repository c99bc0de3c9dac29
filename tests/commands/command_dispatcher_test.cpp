#include "commands/command_dispatcher.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "commands/dispatcher_fixture.h"

namespace rovalink::commands {
namespace {

using testing_support::DispatcherTest;
using testing_support::Micros;

constexpr Micros kMs = 1000;

// Keeps clear of the start-up rule (a command taken within 1 s of start-up waits for it).
class Dispatcher : public DispatcherTest {
 protected:
  void SetUp() override { loop->advance(2000 * kMs); }
  double now() const { return clock.timeOfDay(); }
};

TEST_F(Dispatcher, ButtonCommandsRunBackToBackAtTheNextTick) {
  const Micros queuedAt = loop->now();
  dispatcher->QueueCommand("HeadLEDOn");
  dispatcher->QueueCommand("MoveForward");
  runUntilIdle();
  ASSERT_EQ(runner.procedures(), (std::vector<std::string>{"HeadLEDOn", "MoveForward"}));
  EXPECT_EQ(runner.ran[0].at, queuedAt + 1 * kMs);  // CommandTimer's 1 ms
  EXPECT_EQ(runner.ran[1].at, runner.ran[0].at);
}

TEST_F(Dispatcher, KeyboardCommandsKeepTheirStampedSpacing) {
  const double t = now();
  dispatcher->QueueCommand(Command{"MoveForward", "", t});
  dispatcher->QueueCommand(Command{"MoveStop", "", t + 0.6});
  runUntilIdle();
  ASSERT_EQ(runner.ran.size(), 2u);
  EXPECT_EQ(runner.ran[1].at - runner.ran[0].at, 600 * kMs);
}

TEST_F(Dispatcher, PauseIsShortenedByTheTimeTheActionTook) {
  const double t = now();
  runner.actionMicros = 200 * kMs;
  dispatcher->QueueCommand(Command{"MoveForward", "", t});
  dispatcher->QueueCommand(Command{"MoveStop", "", t + 0.6});
  runUntilIdle();
  ASSERT_EQ(runner.ran.size(), 2u);
  // 0.6 s from start to start: 0.2 s in the action, 0.4 s paced.
  EXPECT_EQ(runner.ran[1].at - runner.ran[0].at, 600 * kMs);
  const auto& starts = loop->timerStarts;
  ASSERT_FALSE(starts.empty());
  EXPECT_EQ(starts.back(), (std::pair<int, int>{1, 400}));  // SyncTimer is the second timer
}

struct GapCase {
  double gapSeconds;
  Micros expectedPause;
};

class DispatcherGap : public Dispatcher, public testing::WithParamInterface<GapCase> {};

TEST_P(DispatcherGap, ReproducesGapsBelowMaxSyncGapOnly) {
  const double t = now();
  dispatcher->QueueCommand(Command{"MoveForward", "", t});
  dispatcher->QueueCommand(Command{"MoveStop", "", t + GetParam().gapSeconds});
  runUntilIdle();
  ASSERT_EQ(runner.ran.size(), 2u);
  EXPECT_EQ(runner.ran[1].at - runner.ran[0].at, GetParam().expectedPause);
}

INSTANTIATE_TEST_SUITE_P(Gaps, DispatcherGap,
                         testing::Values(GapCase{0.0004, 0},  // rounds to 0 ms: no wait
                                         GapCase{0.0016, 2 * kMs}, GapCase{4.999, 4999 * kMs},
                                         GapCase{5.0, 0},     // exactly MaxSyncGap: none
                                         GapCase{7.0, 0},     // beyond it: none
                                         GapCase{-3.0, 0}));  // stamped earlier: none

TEST_F(Dispatcher, FortySecondPauseRunsAs32000Then8000Milliseconds) {
  dispatcher->SetMaxSyncGap(60000);
  const double t = now();
  dispatcher->QueueCommand(Command{"MoveForward", "", t});
  dispatcher->QueueCommand(Command{"MoveStop", "", t + 40.0});
  loop->timerStarts.clear();
  runUntilIdle();
  ASSERT_EQ(runner.ran.size(), 2u);
  EXPECT_EQ(runner.ran[1].at - runner.ran[0].at, 40000 * kMs);
  std::vector<int> syncSlices;
  for (auto [timer, interval] : loop->timerStarts) {
    if (timer == 1) syncSlices.push_back(interval);
  }
  EXPECT_EQ(syncSlices, (std::vector<int>{32000, 8000}));
}

TEST_F(Dispatcher, OneTickEmptiesTheQueueIncludingCommandsAddedMeanwhile) {
  runner.onRun = [&](const Command& c) {
    if (c.Procedure == "MoveForward") dispatcher->QueueCommand("MoveStop");
  };
  dispatcher->QueueCommand("MoveForward");
  loop->timerStarts.clear();
  runUntilIdle();
  EXPECT_EQ(runner.procedures(), (std::vector<std::string>{"MoveForward", "MoveStop"}));
  // CommandTimer was started once (by the first queueing), not again from inside the tick.
  int commandTimerStarts = 0;
  for (auto [timer, interval] : loop->timerStarts) commandTimerStarts += timer == 0 ? 1 : 0;
  EXPECT_EQ(commandTimerStarts, 0);  // started before the clear, never during the tick
  EXPECT_FALSE(dispatcher->CommandBusy());
}

TEST_F(Dispatcher, EventsDuringThePacingWaitDoNotReenterTheDispatcher) {
  const double t = now();
  dispatcher->QueueCommand(Command{"MoveForward", "", t});
  dispatcher->QueueCommand(Command{"MoveStop", "", t + 1.0});
  bool busySeen = false;
  // Something arrives in the middle of the 1 s wait and queues a command.
  loop->post(500 * kMs, [&] {
    busySeen = dispatcher->CommandBusy();
    dispatcher->QueueCommand("SoundAlarm");
  });
  runUntilIdle();
  EXPECT_TRUE(busySeen);
  EXPECT_EQ(runner.maxDepth, 1);
  EXPECT_EQ(runner.procedures(),
            (std::vector<std::string>{"MoveForward", "MoveStop", "SoundAlarm"}));
}

TEST_F(Dispatcher, IdleTickClearsTheFourTimeValues) {
  dispatcher->QueueCommand(Command{"MoveForward", "", now()});
  runUntilIdle();
  EXPECT_FALSE(dispatcher->CommandBusy());
  EXPECT_EQ(dispatcher->CurrentTimeStamp(), 0.0);
  EXPECT_EQ(dispatcher->PreviousTimeStamp(), 0.0);
  EXPECT_EQ(dispatcher->TakenTime(), 0.0);
  EXPECT_EQ(dispatcher->LastSentTime(), 0.0);
}

TEST_F(Dispatcher, FirstCommandOfABurstWaitsForItsOwnTimeOfDay) {
  dispatcher->QueueCommand("SoundAlarm");
  runUntilIdle();  // now idle: all four values 0
  const Micros before = loop->now();
  dispatcher->QueueCommand(Command{"MoveForward", "", now() + 2.0});
  runUntilIdle();
  ASSERT_EQ(runner.ran.size(), 2u);
  EXPECT_EQ(runner.ran[1].at - before, 2000 * kMs);
}

TEST_F(Dispatcher, ConnectedOnDropsQueuedCommandsAndRunsTheLogin) {
  runner.onRun = [&](const Command& c) {
    if (c.Procedure == "LoginSequence") dispatcher->QueueCommand("VideoOn");
  };
  dispatcher->QueueCommand("ConnectedOn");
  dispatcher->QueueCommand("MoveForward");
  dispatcher->QueueCommand("MoveStop");
  runUntilIdle();
  // What the login queued after the replacement survives; nothing is removed in its place.
  EXPECT_EQ(runner.procedures(), (std::vector<std::string>{"LoginSequence", "VideoOn"}));
}

TEST_F(Dispatcher, QueueReplacedDuringAWaitKeepsTheNewCommands) {
  const double t = now();
  dispatcher->QueueCommand(Command{"MoveForward", "", t});
  dispatcher->QueueCommand(Command{"MoveStop", "", t + 1.0});
  // The robot's connect event during the wait replaces the queue and queues a login.
  loop->post(500 * kMs, [&] {
    dispatcher->queue().Replace();
    dispatcher->QueueCommand("LoginSequence");
  });
  runUntilIdle();
  // MoveStop had been taken already and still runs; the new LoginSequence is not lost.
  EXPECT_EQ(runner.procedures(),
            (std::vector<std::string>{"MoveForward", "MoveStop", "LoginSequence"}));
}

TEST_F(Dispatcher, FailingActionIsDroppedAndDispatchGoesOn) {
  std::vector<std::string> errors;
  dispatcher->setActionErrorHandler([&](const std::string& procedure, const std::string& error) {
    errors.push_back(procedure + ": " + error);
  });
  runner.onRun = [](const Command& c) {
    if (c.Procedure == "Volume") throw std::out_of_range("volume 300 does not fit a byte");
  };
  dispatcher->QueueCommand(Command{"Volume", "300", 0.0});
  dispatcher->QueueCommand("MoveStop");
  runUntilIdle();
  EXPECT_EQ(runner.procedures(), (std::vector<std::string>{"Volume", "MoveStop"}));
  EXPECT_EQ(errors, (std::vector<std::string>{"Volume: volume 300 does not fit a byte"}));
  EXPECT_TRUE(dispatcher->queue().empty());
  EXPECT_FALSE(dispatcher->CommandBusy());
}

class RecordingHooks : public RecordHook, public PathRunHooks {
 public:
  explicit RecordingHooks(CommandDispatcher& d) : m_d(d) {}
  void recordCommand(const Command& c) override { log.push_back("record " + c.Procedure); }
  void fileAction(const std::string& p, const std::string& a) override {
    log.push_back("file " + p + " " + a);
  }
  void proofCommand(const Command& c) override {
    const bool stillQueued = !m_d.queue().empty() && m_d.queue().front().Procedure == c.Procedure;
    log.push_back("proof " + c.Procedure + (stillQueued ? " (still queued)" : ""));
  }
  std::vector<std::string> log;

 private:
  CommandDispatcher& m_d;
};

TEST_F(Dispatcher, FileFamilyGoesToThePlayerAndHooksFrameEveryCommand) {
  RecordingHooks hooks(*dispatcher);
  dispatcher->setRecordHook(&hooks);
  dispatcher->setPathRunHooks(&hooks);
  dispatcher->QueueCommand(Command{"FileOff", "/tmp/walk.txt", 0.0});
  dispatcher->QueueCommand("HeadLEDOn");
  runUntilIdle();
  EXPECT_EQ(hooks.log,
            (std::vector<std::string>{"record FileOff", "file FileOff /tmp/walk.txt",
                                      "proof FileOff", "record HeadLEDOn", "proof HeadLEDOn"}));
  EXPECT_EQ(runner.procedures(), (std::vector<std::string>{"HeadLEDOn"}));
}

TEST_F(Dispatcher, NamesAreHandedOnExactlyAsQueued) {
  dispatcher->QueueCommand("movestop");
  dispatcher->QueueCommand("connectedon");
  dispatcher->QueueCommand("MoveStop");
  runUntilIdle();
  // Lower-case "connectedon" is not the queue-replacing "ConnectedOn".
  EXPECT_EQ(runner.procedures(), (std::vector<std::string>{"movestop", "connectedon", "MoveStop"}));
}

TEST_F(Dispatcher, QueueTimedCommandStampsTheTimeOfDay) {
  dispatcher->QueueTimedCommand("MoveLeft");
  ASSERT_EQ(dispatcher->queue().size(), 1u);
  EXPECT_DOUBLE_EQ(dispatcher->queue().front().TimeStamp, now());
  EXPECT_EQ(dispatcher->queue().front().Parameter, "");
}

// Straight after start-up: PreviousTimeStamp -1 and LastSentTime = start-up time.
class DispatcherAtStartUp : public DispatcherTest {};

TEST_F(DispatcherAtStartUp, ButtonCommandTakenWithinASecondWaitsUntilOneSecondAfterStart) {
  const Micros start = loop->now();
  loop->advance(300 * kMs);
  dispatcher->QueueCommand("MoveForward");
  runUntilIdle();
  ASSERT_EQ(runner.ran.size(), 1u);
  EXPECT_EQ(runner.ran[0].at - start, 1000 * kMs);
}

// Keyboard commands either side of midnight: the second stamp has wrapped to near 0.
class DispatcherAtMidnight : public DispatcherTest {
 protected:
  DispatcherAtMidnight() : DispatcherTest({2024, 5, 1, 23, 59, 58}) {}
};

TEST_F(DispatcherAtMidnight, SpacingSurvivesTheMidnightWrap) {
  loop->advance(1700 * kMs);  // 23:59:59.7
  const double first = clock.timeOfDay();
  ASSERT_NEAR(first, 86399.7, 1e-6);
  runner.actionMicros = 200 * kMs;  // the first action ends at 23:59:59.9
  dispatcher->QueueCommand(Command{"MoveForward", "", first});
  dispatcher->QueueCommand(Command{"MoveStop", "", first + 0.6 - 86400.0});  // 00:00:00.3
  runUntilIdle();
  ASSERT_EQ(runner.ran.size(), 2u);
  EXPECT_EQ(runner.ran[1].at - runner.ran[0].at, 600 * kMs);
}

TEST(PacingDelay, ElapsedTimeAcrossMidnightIsNotNegative) {
  auto loop = std::make_shared<platform::SimEventLoop>();
  platform::SimClock clock(loop);
  CommandDispatcher d(*loop, clock);
  // Previous action started at 23:59:59.9, taken now at 00:00:00.1, stamps 0.6 apart.
  EXPECT_EQ(d.pacingDelayMs(86400.2 - 86400.0 + 0.2, 86399.8, 0.1, 86399.9), 400);
  // Untimed command after a timed one never waits.
  EXPECT_LT(d.pacingDelayMs(0.0, 86399.8, 0.1, 86399.9), 1);
}

}  // namespace
}  // namespace rovalink::commands
