#include "video/video_window.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "platform/sim/sim_platform.h"
#include "support/fake_ui_port.h"
#include "support/recording_procedure_runner.h"

namespace rovalink::video {
namespace {

using app::ArrowKey;
using Strings = std::vector<std::string>;

class KeyboardDriveTest : public ::testing::Test {
 protected:
  KeyboardDriveTest() {
    sim.setLocalDateTime({2024, 5, 1, 12, 0, 0});
    dispatcher.setProcedureRunner(&runner);
  }

  // Gives the window the focus, then steps half a tick so that every later step of ticks()
  // holds one whole key tick and the dispatcher's run right after it.
  void focus() {
    window.GotFocus();
    sim.advanceMs(VideoWindow::kKeyTimerMs / 2);
  }
  void ticks(int n) { sim.advanceMs(n * VideoWindow::kKeyTimerMs); }

  platform::SimPlatform sim;
  test::FakeUiPort ui;
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  test::RecordingProcedureRunner runner{sim.clock()};
  VideoWindow window{sim.loop(), sim.clock(), ui, dispatcher};
};

TEST_F(KeyboardDriveTest, OneTickOfUpMovesForwardAndTheNextTickWithoutKeysStops) {
  focus();
  ui.press(ArrowKey::Up);
  ticks(1);
  ui.release(ArrowKey::Up);
  ticks(1);
  ticks(5);
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward", "MoveStop"}));
  EXPECT_FALSE(window.MovementKeysDown());
}

TEST_F(KeyboardDriveTest, HeldKeysRepeatTheMotionOnTheFirstTickAfterHalfASecond) {
  focus();
  ui.press(ArrowKey::Up);
  ui.press(ArrowKey::Right);
  ticks(20);  // two seconds
  ASSERT_GE(runner.ran.size(), 2u);
  for (const auto& r : runner.ran) EXPECT_EQ(r.command.Procedure, "MoveForwardRight");
  // Ticks at 0.1 s steps: the first tick more than 0.5 s after a motion is 0.6 s later.
  ASSERT_EQ(runner.ran.size(), 4u);  // at 0.1, 0.7, 1.3, 1.9 s
  for (std::size_t i = 1; i < runner.ran.size(); ++i) {
    EXPECT_NEAR(runner.ran[i].command.TimeStamp - runner.ran[i - 1].command.TimeStamp, 0.6, 1e-6);
  }
}

TEST_F(KeyboardDriveTest, ReleasingAllKeysQueuesExactlyOneStop) {
  focus();
  ui.press(ArrowKey::Down);
  ticks(8);
  ui.releaseAll();
  ticks(30);
  const Strings procedures = runner.procedures();
  EXPECT_EQ(std::count(procedures.begin(), procedures.end(), "MoveStop"), 1);
  EXPECT_EQ(procedures.back(), "MoveStop");
}

TEST_F(KeyboardDriveTest, MotionsCarryTheirTimeOfDaySoTheDispatcherKeepsTheSpacing) {
  const double start = sim.clock().timeOfDay();
  focus();
  ui.press(ArrowKey::Left);
  ticks(1);
  ASSERT_EQ(runner.ran.size(), 1u);
  EXPECT_NEAR(runner.ran[0].command.TimeStamp, start + 0.1, 1e-6);
  EXPECT_EQ(runner.ran[0].command.Parameter, "");
}

struct ComboCase {
  const char* name;
  bool up, down, left, right;
  const char* motion;
};
void PrintTo(const ComboCase& c, std::ostream* os) {
  *os << c.name;
}

class MotionPrecedence : public ::testing::TestWithParam<ComboCase> {};

TEST_P(MotionPrecedence, PicksTheFirstMatchingMotion) {
  const ComboCase& c = GetParam();
  EXPECT_EQ(PickMotion({c.up, c.down, c.left, c.right}), c.motion);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, MotionPrecedence,
    ::testing::Values(ComboCase{"None", false, false, false, false, ""},
                      ComboCase{"Up", true, false, false, false, "MoveForward"},
                      ComboCase{"Down", false, true, false, false, "MoveBackward"},
                      ComboCase{"Left", false, false, true, false, "MoveLeft"},
                      ComboCase{"Right", false, false, false, true, "MoveRight"},
                      ComboCase{"UpRight", true, false, false, true, "MoveForwardRight"},
                      ComboCase{"DownRight", false, true, false, true, "MoveBackwardRight"},
                      ComboCase{"UpLeft", true, false, true, false, "MoveForwardLeft"},
                      ComboCase{"DownLeft", false, true, true, false, "MoveBackwardLeft"},
                      ComboCase{"UpLeftRight", true, false, true, true, "MoveForwardRight"},
                      ComboCase{"UpDown", true, true, false, false, "MoveForward"},
                      ComboCase{"LeftRight", false, false, true, true, "MoveRight"},
                      ComboCase{"AllFour", true, true, true, true, "MoveForwardRight"},
                      ComboCase{"DownLeftRight", false, true, true, true, "MoveBackwardRight"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(KeyboardDriveTest, KeyCombinationsReachTheRobotAsTheirMotion) {
  focus();
  ui.press(ArrowKey::Left);
  ui.press(ArrowKey::Right);
  ui.press(ArrowKey::Up);
  ticks(1);
  ASSERT_FALSE(runner.ran.empty());
  EXPECT_EQ(runner.ran[0].command.Procedure, "MoveForwardRight");
}

TEST_F(KeyboardDriveTest, AKeyTappedBetweenTwoTicksStillCounts) {
  focus();
  ui.tap(ArrowKey::Right);
  ticks(1);
  ticks(1);
  EXPECT_EQ(runner.procedures(), (Strings{"MoveRight", "MoveStop"}));
}

TEST_F(KeyboardDriveTest, ChangingKeysWithinHalfASecondWaitsForTheRepeat) {
  focus();
  ui.press(ArrowKey::Up);
  ticks(1);  // MoveForward at 0.1 s
  ui.release(ArrowKey::Up);
  ui.press(ArrowKey::Down);
  ticks(3);  // still within 0.5 s: no new motion
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward"}));
  ticks(3);  // the tick at 0.7 s is due
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward", "MoveBackward"}));
}

TEST_F(KeyboardDriveTest, NoKeysNoCommands) {
  focus();
  ticks(50);
  EXPECT_TRUE(runner.ran.empty());
  EXPECT_TRUE(dispatcher.queue().empty());
}

TEST_F(KeyboardDriveTest, LosingTheFocusStopsTheDriveAndARunningMotion) {
  focus();
  ui.press(ArrowKey::Up);
  ticks(3);
  window.LostFocus();
  ticks(20);
  EXPECT_FALSE(window.KeyTimer().enabled());
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward", "MoveStop"}));
  // Keys held while the window has no focus do nothing.
  ticks(20);
  EXPECT_EQ(runner.ran.size(), 2u);
}

TEST_F(KeyboardDriveTest, LosingTheFocusWhileIdleQueuesNothing) {
  focus();
  ticks(3);
  window.LostFocus();
  ticks(3);
  EXPECT_TRUE(runner.ran.empty());
}

TEST_F(KeyboardDriveTest, RegainingTheFocusMakesTheFirstKeyTickDue) {
  focus();
  ui.press(ArrowKey::Up);
  ticks(1);
  window.LostFocus();
  focus();
  EXPECT_FALSE(window.MovementKeysDown());
  EXPECT_EQ(window.LastMoveTime(), 0.0);
  ticks(1);  // 0.2 s after the last motion, but the drive restarted
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward", "MoveStop", "MoveForward"}));
}

TEST_F(KeyboardDriveTest, TheTimerDoesNotRunBeforeItIsEnabled) {
  ui.press(ArrowKey::Up);
  ticks(10);
  EXPECT_TRUE(runner.ran.empty());
  window.KeyTimer().setEnabled(true);  // start-up enables it without a focus change
  sim.advanceMs(150);
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward"}));
}

TEST(KeyboardDriveMidnight, AKeyHeldAcrossMidnightKeepsRepeating) {
  platform::SimPlatform sim;
  sim.setLocalDateTime({2024, 5, 1, 23, 59, 59});
  test::FakeUiPort ui;
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  test::RecordingProcedureRunner runner{sim.clock()};
  dispatcher.setProcedureRunner(&runner);
  VideoWindow window{sim.loop(), sim.clock(), ui, dispatcher};
  window.GotFocus();
  ui.press(ArrowKey::Up);
  sim.advanceMs(3000);
  // 0.1, 0.7 s before midnight, then 0.3, 0.9, 1.5 s after it.
  EXPECT_EQ(runner.ran.size(), 5u);
  for (const auto& r : runner.ran) EXPECT_EQ(r.command.Procedure, "MoveForward");
}

TEST(VideoWindowFrames, ShowingAFramePutsItIntoThePictureAndArmsVideoTimer) {
  platform::SimPlatform sim;
  test::FakeUiPort ui;
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  VideoWindow window{sim.loop(), sim.clock(), ui, dispatcher};
  EXPECT_FALSE(window.VideoTimer().enabled());
  EXPECT_EQ(window.VideoTimer().interval(), 5000);
  EXPECT_EQ(window.KeyTimer().interval(), 100);
  window.Show();
  window.ShowFrame("/app/Data/xapqbtSpykee/Video0.jpg");
  EXPECT_TRUE(ui.videoWindowVisible);
  EXPECT_EQ(ui.pictures, (Strings{"/app/Data/xapqbtSpykee/Video0.jpg"}));
  EXPECT_TRUE(window.VideoTimer().enabled());
  sim.advanceMs(12000);  // its ticks do nothing
  EXPECT_EQ(ui.pictures.size(), 1u);
}

}  // namespace
}  // namespace rovalink::video
