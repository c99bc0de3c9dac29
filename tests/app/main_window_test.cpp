#include "app/main_window.h"

#include <gtest/gtest.h>

#include <ostream>

#include <stdexcept>
#include <string>
#include <utility>
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

using FakeRobot = test::FakeMainWindowRobot;

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    sim.setLocalDateTime({2024, 5, 1, 12, 0, 0});
    settingsObject.setAppPath(folder.path().string());
    dispatcher.setProcedureRunner(&runner);
  }

  // Runs the dispatcher on everything queued so far.
  void dispatch() { sim.advanceMs(5); }

  std::string storedSetting(const std::string& key) {
    return settingsObject.GetINISetting("SPYKEE", key, "<none>", "qbtRovalink.ini");
  }

  platform::SimPlatform sim;
  test::FakeUiPort ui;
  MainWindowModel model;
  robot::RobotState robotState;
  FakeRobot robot;
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  test::RecordingProcedureRunner runner{sim.clock()};
  devices::Devices devices = devices::BuildDeviceTable();
  std::vector<std::pair<std::string, bool>> reports;
  testing::TestFolder folder;
  testing::RecordingServices services;
  settings::hs settingsObject{services};
  devices::RobotCredentials credentials{"admin", "kelpo"};
  xap::testing::RecordingErrorLog errorLog;
  MainWindow window{MainWindow::Wiring{
      sim.loop(), ui, model, robotState, robot, dispatcher, devices,
      [this](const std::string& name, bool isInfo) { reports.emplace_back(name, isInfo); },
      settingsObject, credentials, errorLog, "/app/Data/xapqbtSpykee"}};
};

// ---- buttons ----

struct ButtonCase {
  const char* control;
  const char* procedure;
};
void PrintTo(const ButtonCase& c, std::ostream* os) {
  *os << c.control;
}

class QueueButtons : public MainWindowTest, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(QueueButtons, ClickQueuesItsCommandToRunAtOnce) {
  ASSERT_TRUE(window.queueButtonClick(GetParam().control));
  dispatch();
  ASSERT_EQ(runner.ran.size(), 1u);
  EXPECT_EQ(runner.ran[0].command.Procedure, GetParam().procedure);
  EXPECT_EQ(runner.ran[0].command.Parameter, "");
  EXPECT_EQ(runner.ran[0].command.TimeStamp, 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    ControlTable, QueueButtons,
    ::testing::Values(ButtonCase{"aDock", "Dock"}, ButtonCase{"aUndock", "UnDock"},
                      ButtonCase{"aStopDoc", "StopDock"}, ButtonCase{"aVideoOn", "VideoOn"},
                      ButtonCase{"aVideoOff", "VideoOff"}, ButtonCase{"aPicture", "TakePicture"},
                      ButtonCase{"aVOIPon", "VOIPOn"}, ButtonCase{"aVOIPoff", "VOIPOff"},
                      ButtonCase{"aMicOn", "AudioOn"}, ButtonCase{"aMicOff", "AudioOff"},
                      ButtonCase{"aHeadOn", "HeadLEDOn"}, ButtonCase{"aHeadOff", "HeadLEDOff"},
                      ButtonCase{"aLeftOn", "LeftLEDOn"}, ButtonCase{"aLeftOff", "LeftLEDOff"},
                      ButtonCase{"aRightOn", "RightLEDOn"}, ButtonCase{"aRightOff", "RightLEDOff"}),
    [](const auto& testInfo) { return std::string(testInfo.param.control); });

TEST_F(MainWindowTest, ButtonCommandsRunBackToBackInClickOrder) {
  window.queueButtonClick("aHeadOn");
  window.queueButtonClick("aLeftOn");
  window.queueButtonClick("aHeadOff");
  dispatch();
  EXPECT_EQ(runner.procedures(), (Strings{"HeadLEDOn", "LeftLEDOn", "HeadLEDOff"}));
}

TEST_F(MainWindowTest, AnUnknownControlQueuesNothing) {
  EXPECT_FALSE(window.queueButtonClick("aNothing"));
  EXPECT_TRUE(dispatcher.queue().empty());
}

TEST_F(MainWindowTest, ConnectAndDisconnectActAtOnce) {
  window.aConnectClick();
  window.aDisconnectClick();
  EXPECT_EQ(robot.calls, (Strings{"LoginSequenceRun", "CloseConnection"}));
  EXPECT_TRUE(dispatcher.queue().empty());
}

TEST_F(MainWindowTest, SoundsAndSpeedBypassABusyQueue) {
  window.queueButtonClick("aDock");
  window.queueButtonClick("aVideoOn");
  // Nothing has run yet: the queue is still full when the sound and the speed act.
  window.aSoundClick(3);
  window.aSpeedChange(99);
  EXPECT_EQ(robot.calls, (Strings{"PlaySound 3", "SetSpeed 99"}));
  EXPECT_EQ(dispatcher.queue().size(), 2u);
  EXPECT_EQ(window.aSpeed(), 99);
}

TEST_F(MainWindowTest, OnlyTheEightSoundButtonsPlay) {
  for (int i = -1; i <= 8; ++i) window.aSoundClick(i);
  EXPECT_EQ(robot.calls, (Strings{"PlaySound 0", "PlaySound 1", "PlaySound 2", "PlaySound 3",
                                  "PlaySound 4", "PlaySound 5", "PlaySound 6", "PlaySound 7"}));
}

TEST_F(MainWindowTest, RunFileQueuesAFileCommandForTheChosenPath) {
  ui.fileAnswers.push_back("/app/Data/xapqbtSpykee/walk.txt");
  window.aRunPathClick();
  EXPECT_EQ(ui.dialogFolders, (Strings{"/app/Data/xapqbtSpykee"}));
  ASSERT_EQ(dispatcher.queue().size(), 1u);
  EXPECT_EQ(dispatcher.queue().front().Procedure, "File");
  EXPECT_EQ(dispatcher.queue().front().Parameter, "/app/Data/xapqbtSpykee/walk.txt");
  EXPECT_EQ(dispatcher.queue().front().TimeStamp, 0.0);
}

TEST_F(MainWindowTest, RunFileCancelledQueuesNothing) {
  window.aRunPathClick();
  EXPECT_EQ(ui.dialogFolders.size(), 1u);
  EXPECT_TRUE(dispatcher.queue().empty());
}

TEST_F(MainWindowTest, RecordButtonDrivesTheRecorderAndFollowsItsCaption) {
  commands::PathRecorder recorder(sim.clock(), ui, services, folder.path().string());
  dispatcher.setRecordHook(&recorder);
  window.setPathRecorder(&recorder);
  EXPECT_EQ(window.aRecordPathCaption(), "Record File");

  const std::string path = folder.file("walk.txt");
  ui.fileAnswers.push_back(path);
  window.aRecordPathClick();
  EXPECT_EQ(window.aRecordPathCaption(), "Stop Record");
  window.queueButtonClick("aHeadOn");
  dispatch();
  window.aRecordPathClick();
  EXPECT_EQ(window.aRecordPathCaption(), "Record Path");
  EXPECT_EQ(testing::readFile(path), "HeadLEDOn\t0\t\r\nFile\t0\tEnd\r\n");
}

TEST_F(MainWindowTest, RecordButtonWithoutRecorderKeepsItsCaption) {
  window.aRecordPathClick();
  EXPECT_EQ(window.aRecordPathCaption(), "Record File");
  EXPECT_TRUE(ui.calls.empty());
}

// ---- credential boxes ----

TEST_F(MainWindowTest, EveryUserNameChangeIsSavedAndUsedForTheNextLogin) {
  window.aUsernameChange("b");
  window.aUsernameChange("bo");
  window.aUsernameChange("bob");
  EXPECT_EQ(storedSetting("username"), "bob");
  EXPECT_EQ(credentials.RobotUserName, "bob");
  EXPECT_EQ(window.aUsername(), "bob");
}

TEST_F(MainWindowTest, AnEmptyUserNameIsNotSaved) {
  window.aUsernameChange("bob");
  window.aUsernameChange("");
  EXPECT_EQ(storedSetting("username"), "bob");
  EXPECT_EQ(credentials.RobotUserName, "bob");
  EXPECT_EQ(window.aUsername(), "");
}

struct PasswordCase {
  const char* typed;
  bool saved;
};
void PrintTo(const PasswordCase& c, std::ostream* os) {
  *os << '"' << c.typed << '"';
}

class PasswordBox : public MainWindowTest, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(PasswordBox, SavesOnlyANonEmptyTextNotStartingWithAStar) {
  window.aPasswordChange(GetParam().typed);
  EXPECT_EQ(window.aPassword(), GetParam().typed);
  if (GetParam().saved) {
    EXPECT_EQ(storedSetting("password"), GetParam().typed);
    EXPECT_EQ(credentials.RobotPassword, GetParam().typed);
  } else {
    EXPECT_EQ(storedSetting("password"), "<none>");
    EXPECT_EQ(credentials.RobotPassword, "kelpo");
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, PasswordBox,
                         ::testing::Values(PasswordCase{"secret", true}, PasswordCase{"", false},
                                           PasswordCase{"*", false}, PasswordCase{"*secret", false},
                                           PasswordCase{"se*cret", true},
                                           PasswordCase{" *", true}));

TEST_F(MainWindowTest, FillingTheBoxesAtStartUpWritesTheNameBackButNotTheStar) {
  credentials = {"spykee", "hidden"};
  window.FillCredentialBoxes();
  EXPECT_EQ(window.aUsername(), "spykee");
  EXPECT_EQ(window.aPassword(), "*");
  EXPECT_EQ(storedSetting("username"), "spykee");
  EXPECT_EQ(storedSetting("password"), "<none>");
  EXPECT_EQ(credentials.RobotPassword, "hidden");
}

// ---- xAP hand-over ----

class OnMessageTest : public MainWindowTest {
 protected:
  OnMessageTest() {
    window.setMessageSource(
        [this] {
          if (waiting.empty()) return std::string();
          std::string text = waiting.front();
          waiting.erase(waiting.begin());
          return text;
        },
        [this](const std::string& text) {
          handled.push_back(text);
          if (onHandle) onHandle(text);
        });
  }
  Strings waiting;
  Strings handled;
  std::function<void(const std::string&)> onHandle;
};

TEST_F(OnMessageTest, TakesEveryWaitingMessageInOrder) {
  waiting = {"xap-header 1", "xap-header 2", "xap-header 3"};
  window.onMessage();
  EXPECT_EQ(handled, (Strings{"xap-header 1", "xap-header 2", "xap-header 3"}));
  EXPECT_FALSE(window.InOnMessage());
}

TEST_F(OnMessageTest, ACallFromInsideTheHandlingReturnsAtOnceAndTheOuterLoopTakesTheRest) {
  waiting = {"a", "b", "c"};
  int innerCalls = 0;
  onHandle = [&](const std::string& text) {
    if (text == "a") {
      waiting.push_back("d");  // arrives while "a" is being handled (sending pumps events)
      ++innerCalls;
      window.onMessage();
      EXPECT_TRUE(window.InOnMessage());
    }
  };
  window.onMessage();
  EXPECT_EQ(innerCalls, 1);
  EXPECT_EQ(handled, (Strings{"a", "b", "c", "d"}));
  EXPECT_FALSE(window.InOnMessage());
}

TEST_F(OnMessageTest, AnErrorIsLoggedAndTheRestWaitsForTheNextCall) {
  waiting = {"good", "bad", "later"};
  onHandle = [](const std::string& text) {
    if (text == "bad") throw std::runtime_error("broken message");
  };
  window.onMessage();
  ASSERT_EQ(errorLog.entries.size(), 1u);
  EXPECT_EQ(errorLog.entries[0].first, "xapqbtSpykee");
  EXPECT_EQ(errorLog.entries[0].second, "Main OnMessage");
  EXPECT_EQ(errorLog.entries[0].description, "broken message");
  EXPECT_FALSE(window.InOnMessage());
  EXPECT_EQ(waiting, (Strings{"later"}));
  window.onMessage();
  EXPECT_EQ(handled, (Strings{"good", "bad", "later"}));
}

// ---- tray icon and menu ----

class TrayMessages : public MainWindowTest,
                     public ::testing::WithParamInterface<std::pair<std::int32_t, bool>> {};

TEST_P(TrayMessages, OnlyAReleasedButtonOpensTheMenu) {
  int popups = 0;
  window.setMenuPopup([&] { ++popups; });
  TrayIcon tray(ui);
  tray.SetCallback(&window);
  tray.mouseMessage(GetParam().first);
  EXPECT_EQ(popups, GetParam().second ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Messages, TrayMessages,
                         ::testing::Values(std::pair{512, false}, std::pair{513, false},
                                           std::pair{514, true}, std::pair{515, false},
                                           std::pair{516, false}, std::pair{517, true},
                                           std::pair{518, false}));

TEST_F(MainWindowTest, ShowFormShowsTheWindowAndTheInertItemsDoNothing) {
  for (int index = 1; index <= 5; ++index) window.MenuArrayClick(index);
  EXPECT_TRUE(ui.calls.empty());
  window.MenuArrayClick(kMenuShowForm);
  EXPECT_EQ(ui.calls, (Strings{"showMainWindow"}));
  EXPECT_FALSE(window.ExitRequested());
}

TEST_F(MainWindowTest, ExitAsksForTheShutdownEvenWhileTheWindowIsHidden) {
  int shutdowns = 0;
  window.setExitHandler([&] {
    ++shutdowns;
    EXPECT_TRUE(window.ExitRequested());
    EXPECT_TRUE(window.QueryUnload());  // the unload is not cancelled now
  });
  EXPECT_FALSE(ui.mainWindowVisible);
  window.MenuArrayClick(kMenuExit);
  EXPECT_EQ(shutdowns, 1);
}

TEST_F(MainWindowTest, ExitWithoutAShutdownHandlerEndsTheProcess) {
  window.MenuArrayClick(kMenuExit);
  EXPECT_EQ(ui.exitCodes, (std::vector<int>{0}));
}

TEST_F(MainWindowTest, ClosingTheWindowOnlyHidesIt) {
  ui.showMainWindow();
  EXPECT_FALSE(window.QueryUnload());
  EXPECT_FALSE(ui.mainWindowVisible);
  EXPECT_TRUE(ui.exitCodes.empty());
}

TEST(MainWindowMenu, ItemsAreTheTrayMenuInOrder) {
  EXPECT_EQ(kMenuItems[kMenuShowForm], "Show Form");
  EXPECT_EQ(kMenuItems[5], "-");
  EXPECT_EQ(kMenuItems[kMenuExit], "Exit");
}

// ---- status refresh ----

class StatusRefresh : public MainWindowTest {
 protected:
  StatusRefresh() { window.VideoRateTimer().setInterval(MainWindow::kStatusRefreshMs); }

  int reportsOf(const std::string& name) const {
    int n = 0;
    for (const auto& [device, isInfo] : reports) {
      if (device == name) {
        EXPECT_FALSE(isInfo);
        ++n;
      }
    }
    return n;
  }
};

struct RateCase {
  int frames;
  const char* caption;
  int value;
};
void PrintTo(const RateCase& c, std::ostream* os) {
  *os << c.frames << " frames";
}

class FrameRate : public StatusRefresh, public ::testing::WithParamInterface<RateCase> {};

TEST_P(FrameRate, FramesOfOnePeriodBecomeTheCaptionAndTheVideoValue) {
  model.FrameCount = GetParam().frames;
  window.refreshStatus();
  EXPECT_EQ(window.aVideoRate(), GetParam().caption);
  EXPECT_EQ(devices.at("Video").Value, GetParam().value);
  EXPECT_EQ(model.FrameCount, 0);
  EXPECT_EQ(reportsOf("Video"), 0);
}

INSTANTIATE_TEST_SUITE_P(Frames, FrameRate,
                         ::testing::Values(RateCase{0, "0 Hz", 0}, RateCase{1, "3 Hz", 3},
                                           RateCase{8, "24 Hz", 24}, RateCase{10, "30 Hz", 30},
                                           RateCase{100, "300.3 Hz", 300},
                                           RateCase{1000, "3003 Hz", 3003}));

TEST(VideoRateText, RoundsToOneDecimalHalfToEven) {
  EXPECT_EQ(MainWindow::VideoRateText(24.024), "24 Hz");
  EXPECT_EQ(MainWindow::VideoRateText(12.5), "12.5 Hz");
  EXPECT_EQ(MainWindow::VideoRateText(0.25), "0.2 Hz");
  EXPECT_EQ(MainWindow::VideoRateText(0.75), "0.8 Hz");
  EXPECT_EQ(MainWindow::VideoRateText(2.96), "3 Hz");
}

TEST_F(StatusRefresh, AFrameRateThatRoundsToAHalfStoresTheEvenNeighbour) {
  window.VideoRateTimer().setInterval(400);
  model.FrameCount = 1;  // 2.5 frames a second
  window.refreshStatus();
  EXPECT_EQ(window.aVideoRate(), "2.5 Hz");
  EXPECT_EQ(devices.at("Video").Value, 2);
}

TEST_F(StatusRefresh, ABatteryLevelThatStaysTheSameIsReportedOnce) {
  EXPECT_EQ(window.aBattery(), "Battery 100%");
  robotState.BatteryLevel = 87;
  window.refreshStatus();
  window.refreshStatus();
  window.refreshStatus();
  EXPECT_EQ(window.aBattery(), "Battery 87");
  EXPECT_EQ(reportsOf("Battery"), 1);
  EXPECT_TRUE(devices.at("Battery").Status);
  EXPECT_EQ(devices.at("Battery").Value, 87);
  robotState.BatteryLevel = 86;
  window.refreshStatus();
  EXPECT_EQ(reportsOf("Battery"), 2);
}

TEST_F(StatusRefresh, AnUnchangedZeroBatteryIsNotReportedButTheDeviceIsOn) {
  window.refreshStatus();
  EXPECT_EQ(window.aBattery(), "Battery 0");
  EXPECT_EQ(reportsOf("Battery"), 0);
  EXPECT_TRUE(devices.at("Battery").Status);
}

TEST_F(StatusRefresh, WantsTheNextFrameEveryTime) {
  robotState.FrameWanted = false;
  window.refreshStatus();
  EXPECT_TRUE(robotState.FrameWanted);
}

struct ConnectionCase {
  SocketState state;
  Colour colour;
  bool deviceOn;
};
void PrintTo(const ConnectionCase& c, std::ostream* os) {
  *os << "state " << static_cast<int>(c.state);
}

class ConnectionIndicator : public StatusRefresh,
                            public ::testing::WithParamInterface<ConnectionCase> {};

TEST_P(ConnectionIndicator, ColourAndDeviceFollowTheSocketState) {
  robot.state = GetParam().state;
  window.refreshStatus();
  EXPECT_EQ(model.aConnectStatus, GetParam().colour);
  EXPECT_EQ(devices.at("Connected").Status, GetParam().deviceOn);
}

INSTANTIATE_TEST_SUITE_P(States, ConnectionIndicator,
                         ::testing::Values(ConnectionCase{SocketState::Connected, 0x00FF00, true},
                                           ConnectionCase{SocketState::Connecting, 0x00FFFF, false},
                                           ConnectionCase{SocketState::Closed, 0x0000FF, false},
                                           ConnectionCase{SocketState::Open, 0x0000FF, false},
                                           ConnectionCase{SocketState::Closing, 0x0000FF, false},
                                           ConnectionCase{SocketState::Error, 0x0000FF, false}));

TEST_F(StatusRefresh, ALostConnectionIsReportedOnceAndKeepsTheBattery) {
  robotState.BatteryLevel = 90;
  robot.state = SocketState::Connected;
  window.refreshStatus();
  window.refreshStatus();
  EXPECT_EQ(reportsOf("Connected"), 1);
  robot.state = SocketState::Closed;
  window.refreshStatus();
  window.refreshStatus();
  EXPECT_EQ(reportsOf("Connected"), 2);
  EXPECT_FALSE(devices.at("Connected").Status);
  EXPECT_EQ(model.aConnectStatus, MainWindowModel::kNotConnected);
  EXPECT_EQ(window.aBattery(), "Battery 90");
}

TEST_F(StatusRefresh, ConnectingAfterConnectedTurnsTheDeviceOffOnce) {
  robot.state = SocketState::Connected;
  window.refreshStatus();
  robot.state = SocketState::Connecting;
  window.refreshStatus();
  window.refreshStatus();
  EXPECT_EQ(reportsOf("Connected"), 2);
  EXPECT_EQ(model.aConnectStatus, MainWindowModel::kConnecting);
}

TEST_F(StatusRefresh, DockFollowsTheRobotAndIsReportedOnChangeOnly) {
  window.refreshStatus();
  EXPECT_EQ(model.aDockStatus, 0xE0E0E0u);
  EXPECT_EQ(reportsOf("Docked"), 0);
  robotState.RobotDocked = true;
  window.refreshStatus();
  window.refreshStatus();
  EXPECT_EQ(model.aDockStatus, 0x000000u);
  EXPECT_TRUE(devices.at("Docked").Status);
  EXPECT_EQ(reportsOf("Docked"), 1);
  robotState.RobotDocked = false;
  window.refreshStatus();
  EXPECT_EQ(model.aDockStatus, 0xE0E0E0u);
  EXPECT_EQ(reportsOf("Docked"), 2);
}

TEST_F(StatusRefresh, SpeedIsReportedWhenItChangesAndIsOnAboveSeventyFive) {
  window.refreshStatus();  // 73 at start
  EXPECT_EQ(devices.at("Speed").Value, 73);
  EXPECT_FALSE(devices.at("Speed").Status);
  window.refreshStatus();
  EXPECT_EQ(reportsOf("Speed"), 1);
  robotState.DriveSpeed = 76;
  window.refreshStatus();
  EXPECT_TRUE(devices.at("Speed").Status);
  robotState.DriveSpeed = 75;
  window.refreshStatus();
  EXPECT_FALSE(devices.at("Speed").Status);
  EXPECT_EQ(reportsOf("Speed"), 3);
}

TEST_F(StatusRefresh, TheTimerWaitsForStartUpAndThenRefreshesThreeTimesASecond) {
  MainWindow fresh{MainWindow::Wiring{sim.loop(), ui, model, robotState, robot, dispatcher, devices,
                                      nullptr, settingsObject, credentials, errorLog,
                                      "/app/Data/xapqbtSpykee"}};
  EXPECT_FALSE(fresh.VideoRateTimer().enabled());
  EXPECT_EQ(fresh.VideoRateTimer().interval(), 1000);
  model.FrameCount = 8;
  sim.advanceMs(2000);
  EXPECT_EQ(fresh.aVideoRate(), "");

  fresh.VideoRateTimer().setInterval(MainWindow::kStatusRefreshMs);
  fresh.VideoRateTimer().setEnabled(true);
  sim.advanceMs(332);
  EXPECT_EQ(fresh.aVideoRate(), "");
  sim.advanceMs(1);
  EXPECT_EQ(fresh.aVideoRate(), "24 Hz");
  model.FrameCount = 10;
  sim.advanceMs(333);
  EXPECT_EQ(fresh.aVideoRate(), "30 Hz");
}

}  // namespace
}  // namespace rovalink::app
