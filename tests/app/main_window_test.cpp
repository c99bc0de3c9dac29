#include "app/main_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands/path_recorder.h"
#include "devices/device_table.h"
#include "platform/sim/sim_platform.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "support/fake_main_window_robot.h"
#include "support/fake_ui_port.h"
#include "support/recording_procedure_runner.h"
#include "xap/recording_error_log.h"

namespace rovalink::app {
namespace {

using platform::SocketState;
using Strings = std::vector<std::string>;

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    settingsObject.setAppPath(folder.path().string());
    dispatcher.setProcedureRunner(&runner);
  }

  std::string stored(const std::string& key) {
    return settingsObject.GetINISetting("SPYKEE", key, "<none>", "qbtRovalink.ini");
  }
  long reportsOf(const std::string& name) const {
    return std::count(reports.begin(), reports.end(), name);
  }

  platform::SimPlatform sim;
  test::FakeUiPort ui;
  platform::MainWindowModel model;
  robot::RobotState robotState;
  test::FakeMainWindowRobot robot;
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  test::RecordingProcedureRunner runner{sim.clock()};
  devices::Devices devices = devices::BuildDeviceTable();
  Strings reports;  // status reports by device name, "info" for an info report
  testing::TestFolder folder;
  testing::RecordingServices services;
  settings::hs settingsObject{services};
  devices::RobotCredentials credentials{"admin", "kelpo"};
  xap::testing::RecordingErrorLog errorLog;
  MainWindow window{MainWindow::Wiring{
      sim.loop(), ui, model, robotState, robot, dispatcher, devices,
      [this](const std::string& name, bool isInfo) { reports.push_back(isInfo ? "info" : name); },
      settingsObject, credentials, errorLog, "/app/Data/xapqbtSpykee"}};
};

TEST_F(MainWindowTest, QueueButtonsRunInClickOrderWhileConnectionSoundAndSpeedActAtOnce) {
  for (const char* control : {"aDock", "aUndock", "aStopDoc", "aVideoOn", "aVideoOff", "aPicture",
                              "aVOIPon", "aVOIPoff", "aMicOn", "aMicOff", "aHeadOn", "aHeadOff",
                              "aLeftOn", "aLeftOff", "aRightOn", "aRightOff"}) {
    EXPECT_TRUE(window.queueButtonClick(control)) << control;
  }
  EXPECT_FALSE(window.queueButtonClick("aNothing"));
  window.aConnectClick();
  window.aDisconnectClick();
  for (int i = -1; i <= 8; ++i) window.aSoundClick(i);  // only the eight sound buttons play
  window.aSpeedChange(99);
  EXPECT_EQ(robot.calls, (Strings{"LoginSequenceRun", "CloseConnection", "PlaySound 0",
                                  "PlaySound 1", "PlaySound 2", "PlaySound 3", "PlaySound 4",
                                  "PlaySound 5", "PlaySound 6", "PlaySound 7", "SetSpeed 99"}));
  EXPECT_EQ(window.aSpeed(), 99);
  EXPECT_EQ(dispatcher.queue().size(), 16u);  // the direct controls bypassed the busy queue
  sim.advanceMs(5);
  EXPECT_EQ(runner.procedures(),
            (Strings{"Dock", "UnDock", "StopDock", "VideoOn", "VideoOff", "TakePicture", "VOIPOn",
                     "VOIPOff", "AudioOn", "AudioOff", "HeadLEDOn", "HeadLEDOff", "LeftLEDOn",
                     "LeftLEDOff", "RightLEDOn", "RightLEDOff"}));
}

TEST_F(MainWindowTest, PathButtonsQueueTheChosenFileAndDriveTheRecorder) {
  window.aRunPathClick();  // cancelled
  ui.fileAnswers.push_back("/app/Data/xapqbtSpykee/walk.txt");
  window.aRunPathClick();
  EXPECT_EQ(ui.dialogFolders, (Strings{"/app/Data/xapqbtSpykee", "/app/Data/xapqbtSpykee"}));
  ASSERT_EQ(dispatcher.queue().size(), 1u);
  EXPECT_EQ(dispatcher.queue().front().Procedure + " " + dispatcher.queue().front().Parameter,
            "File /app/Data/xapqbtSpykee/walk.txt");

  window.aRecordPathClick();  // no recorder yet: nothing happens
  EXPECT_EQ(window.aRecordPathCaption(), "Record File");
  commands::PathRecorder recorder(sim.clock(), ui, services, folder.path().string());
  window.setPathRecorder(&recorder);
  ui.fileAnswers.push_back(folder.file("walk.txt"));
  window.aRecordPathClick();
  EXPECT_EQ(window.aRecordPathCaption(), "Stop Record");
}

TEST_F(MainWindowTest, CredentialBoxesSaveEveryTypedChangeButNotEmptyOrStarredText) {
  credentials = {"spykee", "hidden"};
  window.FillCredentialBoxes();  // start-up shows the name and "*", and writes neither back
  EXPECT_EQ(window.aUsername() + " " + window.aPassword(), "spykee *");
  EXPECT_EQ(stored("username") + " " + stored("password"), "<none> <none>");

  for (const char* typed : {"b", "bob", ""}) window.aUsernameChange(typed);
  EXPECT_EQ(stored("username") + " " + credentials.RobotUserName, "bob bob");
  for (const char* typed : {"*secret", "", "*"}) window.aPasswordChange(typed);
  EXPECT_EQ(stored("password") + " " + credentials.RobotPassword, "<none> hidden");
  for (const std::string typed : {"s", "se*cret", " *"}) {
    window.aPasswordChange(typed);
    EXPECT_EQ(stored("password") + "|" + credentials.RobotPassword, typed + "|" + typed);
  }
}

TEST_F(MainWindowTest, OnMessageIgnoresACallFromInsideTheHandlingAndLogsAnError) {
  Strings waiting{"a", "bad", "c"}, handled;
  std::size_t next = 0;
  window.setMessageSource(
      [&] { return next < waiting.size() ? waiting[next++] : std::string(); },
      [&](const std::string& text) {
        handled.push_back(text);
        if (text == "a") {
          waiting.push_back("d");  // arrives while "a" is handled (sending pumps events)
          window.onMessage();
          EXPECT_TRUE(window.InOnMessage());
        }
        if (text == "bad") throw std::runtime_error("broken message");
      });
  window.onMessage();
  EXPECT_EQ(handled, (Strings{"a", "bad"}));
  ASSERT_EQ(errorLog.entries.size(), 1u);
  EXPECT_EQ(errorLog.entries[0].first + "|" + errorLog.entries[0].second + "|" +
                errorLog.entries[0].description,
            "xapqbtSpykee|Main OnMessage|broken message");
  EXPECT_FALSE(window.InOnMessage());
  window.onMessage();  // the rest waited for the next call
  EXPECT_EQ(handled, (Strings{"a", "bad", "c", "d"}));
}

TEST_F(MainWindowTest, OnlyAReleasedButtonOnTheTrayIconOpensTheMenuAndOnlyExitActs) {
  std::vector<std::int32_t> popups;
  std::int32_t current = 0;
  window.setMenuPopup([&] { popups.push_back(current); });
  for (current = 512; current <= 518; ++current) window.TrayIconCallback(current);
  EXPECT_EQ(popups, (std::vector<std::int32_t>{514, 517}));

  for (int index = 1; index <= 5; ++index) window.MenuArrayClick(index);  // inert items
  EXPECT_TRUE(ui.calls.empty());
  window.MenuArrayClick(kMenuExit);  // without a shutdown handler: ends the process
  EXPECT_EQ(ui.calls, Strings{"exitProcess:0"});
}

TEST(MainWindowFrameRate, IsRoundedToOneDecimalHalfToEven) {
  EXPECT_EQ(MainWindow::VideoRateText(100 * 1000.0 / 333), "300.3 Hz");
  EXPECT_EQ(MainWindow::VideoRateText(0.25), "0.2 Hz");
  EXPECT_EQ(MainWindow::VideoRateText(0.75), "0.8 Hz");
  EXPECT_EQ(MainWindow::VideoRateText(2.96), "3 Hz");
}

// The bus side of the refresh (battery, dock, speed, connection on and off) is the gateway's;
// here: every socket state, a refused login (amber while the TCP connection stands), a kept
// battery shown as stale while not logged in, and the speed's threshold.
TEST_F(MainWindowTest, StatusIndicatorsFollowTheRobotAndOnlyChangesAreReported) {
  window.refreshStatus();
  EXPECT_EQ(window.aBattery(), "Battery 0");
  EXPECT_TRUE(devices.at("Battery").Status);  // on, though an unchanged 0 is not reported
  robotState.BatteryLevel = 90;
  using robot::LinkStatus;
  const struct {
    SocketState state;
    LinkStatus link;
    platform::Colour colour;
    int reports;
  } steps[] = {
      {SocketState::Connected, LinkStatus::LoggedIn, platform::MainWindowModel::kConnected, 1},
      {SocketState::Connected, LinkStatus::Refused, platform::MainWindowModel::kRefused, 1},
      {SocketState::Connecting, LinkStatus::Connecting, platform::MainWindowModel::kConnecting, 2},
      {SocketState::Closed, LinkStatus::Lost, platform::MainWindowModel::kNotConnected, 2},
      {SocketState::Connected, LinkStatus::LoggedIn, platform::MainWindowModel::kConnected, 3},
      {SocketState::Error, LinkStatus::Lost, platform::MainWindowModel::kNotConnected, 4},
      {SocketState::Closing, LinkStatus::Lost, platform::MainWindowModel::kNotConnected, 4}};
  for (const auto& step : steps) {
    robot.state = step.state;
    robotState.Status = step.link;
    window.refreshStatus();
    EXPECT_EQ(model.aConnectStatus, step.colour) << static_cast<int>(step.state);
    EXPECT_EQ(reportsOf("Connected"), step.reports) << static_cast<int>(step.state);
    EXPECT_EQ(window.aBatteryStale(), step.link != LinkStatus::LoggedIn);
  }
  EXPECT_EQ(window.aBattery(), "Battery 90");  // a lost connection keeps the battery
  EXPECT_EQ(reportsOf("Battery"), 1);
  for (const int speed : {76, 75}) {
    robotState.DriveSpeed = speed;
    window.refreshStatus();
    EXPECT_EQ(devices.at("Speed").Status, speed > 75);
  }
  EXPECT_EQ(reportsOf("Speed"), 3);  // the start speed 73, 76, 75
}

}  // namespace
}  // namespace rovalink::app
