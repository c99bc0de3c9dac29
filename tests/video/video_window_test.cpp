#include "video/video_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "platform/sim/sim_platform.h"
#include "support/fake_ui_port.h"
#include "support/recording_procedure_runner.h"

namespace rovalink::video {
namespace {

using platform::ArrowKey;
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
  // The time of day each command was queued at, in whole milliseconds.
  std::vector<long> stampsMs() const {
    std::vector<long> ms;
    for (const auto& r : runner.ran) ms.push_back(std::lround(r.command.TimeStamp * 1000));
    return ms;
  }

  platform::SimPlatform sim;
  test::FakeUiPort ui;
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  test::RecordingProcedureRunner runner{sim.clock()};
  VideoWindow window{sim.loop(), sim.clock(), ui, dispatcher};
};

TEST_F(KeyboardDriveTest, OneTickOfUpMovesForwardAndTheNextTickWithoutKeysStops) {
  ui.press(ArrowKey::Up);
  ticks(10);  // the drive runs only once the window has the focus
  EXPECT_TRUE(runner.ran.empty());
  focus();
  ticks(1);
  ui.release(ArrowKey::Up);
  ticks(6);
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward", "MoveStop"}));
  ui.tap(ArrowKey::Right);  // a key tapped between two ticks still counts
  ticks(2);
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward", "MoveStop", "MoveRight", "MoveStop"}));
}

TEST_F(KeyboardDriveTest, HeldKeysRepeatOnTheFirstTickMoreThanHalfASecondAfterTheLastMotion) {
  sim.setLocalDateTime({2024, 5, 1, 23, 59, 59});  // and go on across midnight
  focus();
  ui.press(ArrowKey::Up);
  ui.press(ArrowKey::Right);
  ticks(20);
  ui.release(ArrowKey::Right);  // a change of keys also waits for the repeat
  ticks(5);
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForwardRight", "MoveForwardRight",
                                          "MoveForwardRight", "MoveForwardRight", "MoveForward"}));
  EXPECT_EQ(stampsMs(), (std::vector<long>{86'399'100, 86'399'700, 300, 900, 1500}));
}

TEST_F(KeyboardDriveTest, LosingTheFocusStopsARunningMotionAndRegainingItRestartsTheDrive) {
  sim.setLocalDateTime({2024, 5, 1, 23, 59, 59});
  focus();
  ticks(2);
  window.LostFocus();  // idle: nothing to stop
  EXPECT_TRUE(dispatcher.queue().empty());

  focus();
  ui.press(ArrowKey::Up);
  ticks(1);
  window.LostFocus();
  ticks(6);  // keys held without the focus do nothing; meanwhile midnight passes
  EXPECT_FALSE(window.KeyTimer().enabled());
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward", "MoveStop"}));
  focus();
  ticks(1);  // the first key tick after a restart is due, in a day's first half second too
  EXPECT_EQ(runner.procedures(), (Strings{"MoveForward", "MoveStop", "MoveForward"}));
}

TEST(MotionPrecedence, DiagonalsBeforeStraightMovesRightBeforeLeftUpBeforeDown) {
  for (const std::string c :
       {":", "U:MoveForward", "D:MoveBackward", "L:MoveLeft", "R:MoveRight", "UR:MoveForwardRight",
        "DR:MoveBackwardRight", "UL:MoveForwardLeft", "DL:MoveBackwardLeft", "ULR:MoveForwardRight",
        "UD:MoveForward", "LR:MoveRight", "UDLR:MoveForwardRight", "DLR:MoveBackwardRight"}) {
    const std::string keys = c.substr(0, c.find(':'));
    const auto down = [&keys](char k) { return keys.find(k) != std::string::npos; };
    EXPECT_EQ(PickMotion({down('U'), down('D'), down('L'), down('R')}), c.substr(c.find(':') + 1));
  }
}

TEST_F(KeyboardDriveTest, ShowingAFramePutsItIntoThePictureAndArmsTheVideoTimer) {
  window.Show();
  EXPECT_FALSE(window.VideoTimer().enabled());
  window.ShowFrame("\xFF\xD8jpeg");
  EXPECT_TRUE(ui.videoWindowVisible);
  EXPECT_EQ(ui.pictures, (Strings{"\xFF\xD8jpeg"}));
  EXPECT_TRUE(window.VideoTimer().enabled());
  ticks(120);  // its ticks do nothing
  EXPECT_EQ(ui.pictures.size(), 1u);
}

}  // namespace
}  // namespace rovalink::video
