#include "app/gateway.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/fake_ui_port.h"
#include "support/gateway_rig.h"

namespace rovalink::app {
namespace {

using Strings = std::vector<std::string>;
using test::FakeSpykee;

constexpr int kRefreshMs = MainWindow::kStatusRefreshMs;
// Forward at the start-up speed 73: both motor bytes 125 - 73.
const std::string kForwardBytes("\x34\x34", 2);
const std::string kStopBytes("\x00\x00", 2);

std::string hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    text += kDigits[c / 16];
    text += kDigits[c % 16];
  }
  return text;
}

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& c) {
  return c.param.name;
}

class GatewayTest : public ::testing::Test {
 protected:
  Gateway& gateway() { return *rig.gateway; }
  platform::SimPlatform& sim() { return rig.sim; }
  FakeSpykee& robot() { return rig.robot; }

  // Start-up, then the login sequence the connection queues, up to its last packet (volume).
  void startAndLogIn() {
    ASSERT_EQ(gateway().Start(), std::nullopt);
    m_startedAtMs = sim().nowMs();
    ASSERT_TRUE(sim().runUntil([&] { return !robot().packetsOfType(9).empty(); }, 15000));
  }

  // Moves virtual time to 1 ms after the next status refresh.
  void runPastNextRefresh() {
    const double sinceStart = sim().nowMs() - m_startedAtMs;
    const double next = m_startedAtMs + (std::floor(sinceStart / kRefreshMs) + 1) * kRefreshMs;
    sim().advanceMs(static_cast<int>(std::ceil(next - sim().nowMs())) + 1);
  }

  Strings callsSince(std::size_t from) const {
    return Strings(ui.calls.begin() + static_cast<std::ptrdiff_t>(from), ui.calls.end());
  }

  test::FakeUiPort ui;
  test::GatewayRig rig{&ui};
  double m_startedAtMs = 0;
};

// ---- start-up -------------------------------------------------------------------------------

using GatewayStartUp = GatewayTest;

TEST_F(GatewayStartUp, TrayIconAndBusAnnouncementComeBeforeTheRobotSearch) {
  Strings uiAtDiscovery;
  Strings eventsAtDiscovery;
  std::size_t heartbeatsAtDiscovery = 0;
  robot().onDiscovery = [&] {
    uiAtDiscovery = ui.calls;
    eventsAtDiscovery = rig.hub.eventData();
    heartbeatsAtDiscovery = rig.hub.heartbeats.size();
  };

  EXPECT_EQ(gateway().Start(), std::nullopt);
  EXPECT_TRUE(gateway().started());

  EXPECT_EQ(robot().discoveries, Strings{std::string("DSCV\x01", 5)});
  EXPECT_EQ(uiAtDiscovery, (Strings{"hideMainWindow", "trayIcon:on:Spykee"}));
  // Two blanks: the port is written as signed-number text.
  EXPECT_EQ(eventsAtDiscovery, Strings{"Using xAP port  32768"});
  EXPECT_EQ(heartbeatsAtDiscovery, 1u);

  EXPECT_EQ(ui.calls,
            (Strings{"hideMainWindow", "trayIcon:on:Spykee", "showMainWindow", "showVideoWindow"}));
  EXPECT_TRUE(robot().connected());
  EXPECT_EQ(robot().clientPorts, std::vector<std::uint16_t>{32868});
  EXPECT_TRUE(ui.messageBoxes.empty());
  EXPECT_EQ(rig.errorLog(), "");
}

TEST_F(GatewayStartUp, HeartbeatAndEventNameTheProgramOnTheConfiguredBusPort) {
  ASSERT_EQ(gateway().Start(), std::nullopt);
  ASSERT_EQ(rig.hub.heartbeats.size(), 1u);
  const std::string& beat = rig.hub.heartbeats.front();
  EXPECT_EQ(test::FakeXapHub::lineValue(beat, "source"), "qbt.Spykee.SIMHOST");
  EXPECT_EQ(test::FakeXapHub::lineValue(beat, "uid"), "FF.0065:00");
  // Ten heartbeat periods of 60 s: the next heartbeat comes after 600 s.
  EXPECT_EQ(test::FakeXapHub::lineValue(beat, "interval"), "600");
  EXPECT_EQ(test::FakeXapHub::lineValue(beat, "port"), "32768");

  const auto events = rig.hub.messagesOfClass("Homeseer.Event");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().msgSource(), "qbt.Spykee.SIMHOST");
  EXPECT_EQ(events.front().GetItem("event.log", "Type"), "xapqbtSpykee");
  EXPECT_EQ(events.front().GetItem("event.log", "Time"), "2026/12/06 10:00:00");
}

TEST_F(GatewayStartUp, LoginSequenceFollowsTheConnection) {
  startAndLogIn();
  Strings types;
  for (const auto& p : robot().packets) types.push_back(std::to_string(p.type));
  // Login, video on (media), the post-login packet, volume.
  EXPECT_EQ(types, (Strings{"10", "15", "18", "9"}));
  EXPECT_EQ(hex(robot().packets[0].payload), hex(std::string("\x05"
                                                             "admin"
                                                             "\x05"
                                                             "kelpo")));
  EXPECT_TRUE(gateway().robotState().LoggedIn);
}

// ---- fatal start-up failures ------------------------------------------------------------------

struct XapFailure {
  const char* name;
  // Takes ports away from the program before it starts.
  std::function<void(platform::SimPlatform&, std::vector<std::unique_ptr<platform::UdpSocket>>&)>
      block;
};
void PrintTo(const XapFailure& f, std::ostream* os) {
  *os << f.name;
}

class GatewayXapFailure : public GatewayTest, public ::testing::WithParamInterface<XapFailure> {};

TEST_P(GatewayXapFailure, EndsStartUpBeforeTheTrayIconAndAnyRobotTraffic) {
  std::vector<std::unique_ptr<platform::UdpSocket>> blockers;
  GetParam().block(sim(), blockers);

  const std::optional<int> code = gateway().Start();

  ASSERT_TRUE(code.has_value());
  EXPECT_NE(*code, 0);
  EXPECT_FALSE(gateway().started());
  EXPECT_TRUE(ui.calls.empty()) << ui.calls.front();
  EXPECT_TRUE(robot().discoveries.empty());
  EXPECT_TRUE(robot().clientPorts.empty());
  EXPECT_TRUE(rig.hub.heard.empty());
  EXPECT_NE(rig.errorLog().find(" | xapqbtSpykee xAP Init Error -1 occurred"), std::string::npos)
      << rig.errorLog();
}

INSTANTIATE_TEST_SUITE_P(
    Ports, GatewayXapFailure,
    ::testing::Values(XapFailure{"EveryPrivateLoopbackPortTaken",
                                 [](platform::SimPlatform& sim, auto& blockers) {
                                   for (int port = 32768; port < 32768 + 200; ++port) {
                                     blockers.push_back(sim.createUdpSocket());
                                     ASSERT_TRUE(blockers.back()->bind(
                                         "127.0.0.1", static_cast<std::uint16_t>(port)));
                                   }
                                 }},
                      XapFailure{"InterfaceAddressPortTaken",
                                 [](platform::SimPlatform& sim, auto& blockers) {
                                   blockers.push_back(sim.createUdpSocket());
                                   ASSERT_TRUE(blockers.back()->bind("192.168.1.10", 32768));
                                 }}),
    caseName<XapFailure>);

struct RobotFailure {
  const char* name;
  std::function<void(test::GatewayRig&, std::vector<std::unique_ptr<platform::UdpSocket>>&,
                     std::vector<std::unique_ptr<platform::TcpListener>>&)>
      arrange;
  const char* message;
  double atMs;  // virtual time of the message box
  bool discoverySent;
};
void PrintTo(const RobotFailure& f, std::ostream* os) {
  *os << f.name;
}

class GatewayRobotFailure : public GatewayTest,
                            public ::testing::WithParamInterface<RobotFailure> {};

TEST_P(GatewayRobotFailure, ShowsTheMessageWithTheTrayIconUpAndEndsStartUp) {
  std::vector<std::unique_ptr<platform::UdpSocket>> udp;
  std::vector<std::unique_ptr<platform::TcpListener>> tcp;
  GetParam().arrange(rig, udp, tcp);

  const std::optional<int> code = gateway().Start();

  ASSERT_TRUE(code.has_value());
  EXPECT_NE(*code, 0);
  EXPECT_EQ(ui.messageBoxes, Strings{GetParam().message});
  // The tray icon is up when the box shows and goes only with the process.
  EXPECT_EQ(ui.calls, (Strings{"hideMainWindow", "trayIcon:on:Spykee",
                               std::string("messageBox:") + GetParam().message}));
  EXPECT_NEAR(sim().nowMs(), GetParam().atMs, 5.0);
  EXPECT_EQ(robot().discoveries.size(), GetParam().discoverySent ? 1u : 0u);
  EXPECT_TRUE(robot().clientPorts.empty());
  EXPECT_FALSE(gateway().started());
}

INSTANTIATE_TEST_SUITE_P(
    Causes, GatewayRobotFailure,
    ::testing::Values(
        RobotFailure{"NoRobotAnswers",
                     [](test::GatewayRig& rig, auto&, auto&) { rig.robot.answerDiscovery = false; },
                     "Spykee not found", 30000.0, true},
        RobotFailure{"NoFreeDiscoveryPort",
                     [](test::GatewayRig& rig, auto& udp, auto&) {
                       for (int port = 32868; port < 32868 + 200; ++port) {
                         udp.push_back(rig.sim.createUdpSocket());
                         ASSERT_TRUE(udp.back()->bind("", static_cast<std::uint16_t>(port)));
                       }
                     },
                     "Unable to Bind to Windows Socket", 0.0, false},
        RobotFailure{"NoFreeControlPort",
                     [](test::GatewayRig& rig, auto&, auto& tcp) {
                       for (int port = 32868; port < 32868 + 200; ++port) {
                         tcp.push_back(rig.sim.createTcpListener());
                         ASSERT_TRUE(tcp.back()->listen("", static_cast<std::uint16_t>(port)));
                       }
                     },
                     "Unable to Bind to Windows Socket", 0.0, true}),
    caseName<RobotFailure>);

// ---- running and shutdown ---------------------------------------------------------------------

using GatewayRunning = GatewayTest;

TEST_F(GatewayRunning, ClosingTheMainWindowOnlyHidesItAndEverythingRunsOn) {
  startAndLogIn();
  ASSERT_TRUE(ui.mainWindowVisible);

  EXPECT_FALSE(gateway().mainWindow().QueryUnload());
  EXPECT_FALSE(ui.mainWindowVisible);

  // The status refresh, the keyboard drive and the robot connection keep working.
  robot().sendBattery(87);
  ui.press(ArrowKey::Up);
  sim().advanceMs(kRefreshMs + 10);
  ui.release(ArrowKey::Up);
  sim().advanceMs(200);
  EXPECT_EQ(rig.hub.deviceEvents("Battery"), Strings{"ON 87"});
  EXPECT_EQ(robot().packetsOfType(5).size(), 2u);  // forward, then stop
  EXPECT_TRUE(robot().connected());

  EXPECT_TRUE(ui.exitCodes.empty());
  for (const auto& update : ui.trayUpdates) EXPECT_TRUE(update.iconOn);

  gateway().mainWindow().MenuArrayClick(kMenuShowForm);
  EXPECT_TRUE(ui.mainWindowVisible);
}

TEST_F(GatewayRunning, ExitRemovesTheTrayIconClosesTheRobotAndEndsTheProcessWithZero) {
  startAndLogIn();
  ASSERT_FALSE(gateway().mainWindow().QueryUnload());  // works from a hidden window too
  const std::size_t before = ui.calls.size();

  gateway().mainWindow().MenuArrayClick(kMenuExit);

  EXPECT_EQ(callsSince(before), (Strings{"trayIcon:off:Spykee", "exitProcess:0"}));
  EXPECT_TRUE(gateway().mainWindow().QueryUnload());
  sim().advanceMs(10);
  EXPECT_FALSE(robot().connected());
  EXPECT_EQ(robot().closes, 1);

  // Until the process is gone nothing runs on: no refresh, no keyboard drive, no reconnect.
  const std::size_t packets = robot().packets.size();
  const std::size_t busEvents = rig.hub.messagesOfClass("xapBSC.Event").size();
  const std::size_t connects = robot().clientPorts.size();
  ui.press(ArrowKey::Up);
  sim().advanceMs(5 * kRefreshMs);
  EXPECT_EQ(robot().packets.size(), packets);
  EXPECT_EQ(robot().clientPorts.size(), connects);
  EXPECT_EQ(rig.hub.messagesOfClass("xapBSC.Event").size(), busEvents);
}

TEST_F(GatewayRunning, CommandsStillQueuedAtExitNeverReachTheRobot) {
  startAndLogIn();
  const std::size_t packets = robot().packets.size();

  // Both in one handler: the dispatcher has not run the LED command yet.
  gateway().mainWindow().queueButtonClick("aHeadOn");
  gateway().mainWindow().MenuArrayClick(kMenuExit);
  sim().advanceMs(35000);

  EXPECT_EQ(robot().packets.size(), packets);
  EXPECT_EQ(robot().clientPorts.size(), 1u);  // no reconnect after the shutdown closed it
  EXPECT_EQ(gateway().model().aHeadStatus, MainWindowModel::kIndicatorOff);
}

TEST(GatewayHeadless, ExitEndsTheEventLoopWithZero) {
  test::GatewayRig rig(nullptr);
  ASSERT_EQ(rig.gateway->Start(), std::nullopt);
  ASSERT_TRUE(rig.sim.runUntil([&] { return !rig.robot.packetsOfType(9).empty(); }, 15000));

  rig.gateway->mainWindow().MenuArrayClick(kMenuExit);

  EXPECT_EQ(rig.processEnds, std::vector<int>{0});
  rig.sim.advanceMs(10);
  EXPECT_FALSE(rig.robot.connected());
}

// "Exit" from the tray menu while start-up still searches the robot, 5 s into the search.
class GatewayExitDuringSearch : public GatewayTest {
 protected:
  GatewayExitDuringSearch() {
    robot().answerDiscovery = false;
    m_exitTimer->setInterval(5000);
    m_exitTimer->onTick([this] {
      m_exitTimer->setEnabled(false);
      gateway().mainWindow().MenuArrayClick(kMenuExit);
    });
    m_exitTimer->setEnabled(true);
  }
  std::unique_ptr<platform::Timer> m_exitTimer = sim().loop().createTimer();
};

TEST_F(GatewayExitDuringSearch, EndsTheProgramWithZeroNotWithTheSearchFailure) {
  EXPECT_EQ(gateway().Start(), std::optional<int>(0));
  EXPECT_EQ(ui.exitCodes, std::vector<int>{0});
  EXPECT_FALSE(ui.trayUpdates.back().iconOn);
}

TEST_F(GatewayExitDuringSearch, EndsStartUpAtOnceWithoutAMessage) {
  gateway().Start();
  EXPECT_LT(sim().nowMs(), 5100.0);
  EXPECT_TRUE(ui.messageBoxes.empty());
}

// ---- status refresh ---------------------------------------------------------------------------

using GatewayStatus = GatewayTest;

TEST_F(GatewayStatus, EightFramesInOneRefreshPeriodRead24HzAndOnlyTheFirstIsShown) {
  startAndLogIn();
  runPastNextRefresh();
  const std::size_t picturesBefore = ui.pictures.size();

  for (int i = 0; i < 8; ++i) {
    robot().sendFrame("\xFF\xD8 frame " + std::to_string(i) + " \xFF\xD9");
    sim().advanceMs(30);
  }
  runPastNextRefresh();

  EXPECT_EQ(gateway().mainWindow().aVideoRate(), "24 Hz");
  EXPECT_EQ(gateway().devices().find("Video")->Value, 24);
  ASSERT_EQ(ui.pictures.size(), picturesBefore + 1);
  EXPECT_EQ(testing::readFile(ui.pictures.back()), "\xFF\xD8 frame 0 \xFF\xD9");

  runPastNextRefresh();
  EXPECT_EQ(gateway().mainWindow().aVideoRate(), "0 Hz");
}

TEST_F(GatewayStatus, RobotStateReachesTheBusOnlyWhenItChanges) {
  startAndLogIn();
  for (int i = 0; i < 3; ++i) runPastNextRefresh();

  robot().sendBattery(87);
  robot().sendDockStatus(2);
  for (int i = 0; i < 5; ++i) runPastNextRefresh();
  gateway().mainWindow().aSpeedChange(60);  // DriveSpeed 84: above 75
  for (int i = 0; i < 5; ++i) runPastNextRefresh();

  EXPECT_EQ(rig.hub.deviceEvents("Battery"), Strings{"ON 87"});
  EXPECT_EQ(rig.hub.deviceEvents("Connected"), Strings{"ON 0"});
  EXPECT_EQ(rig.hub.deviceEvents("Docked"), Strings{"ON 0"});
  EXPECT_EQ(rig.hub.deviceEvents("Speed"), (Strings{"OFF 73", "ON 84"}));
  EXPECT_EQ(gateway().mainWindow().aBattery(), "Battery 87");
  EXPECT_EQ(gateway().model().aConnectStatus, MainWindowModel::kConnected);
  EXPECT_EQ(gateway().model().aDockStatus, MainWindowModel::kDocked);
}

TEST_F(GatewayStatus, ALostRobotConnectionIsReportedOnce) {
  startAndLogIn();
  runPastNextRefresh();
  gateway().mainWindow().aDisconnectClick();
  for (int i = 0; i < 4; ++i) runPastNextRefresh();

  EXPECT_EQ(rig.hub.deviceEvents("Connected"), (Strings{"ON 0", "OFF 0"}));
  EXPECT_EQ(gateway().model().aConnectStatus, MainWindowModel::kNotConnected);
}

// ---- keyboard drive and xAP commands ----------------------------------------------------------

using GatewayDrive = GatewayTest;

TEST_F(GatewayDrive, AHeldArrowKeyRepeatsTheMotionAndReleaseSendsOneStop) {
  startAndLogIn();
  ASSERT_TRUE(robot().packetsOfType(5).empty());

  ui.press(ArrowKey::Up);
  sim().advanceMs(2000);
  ui.release(ArrowKey::Up);
  sim().advanceMs(2000);

  const auto motors = robot().packetsOfType(5);
  ASSERT_EQ(motors.size(), 5u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(hex(motors[i].payload), hex(kForwardBytes)) << i;
    if (i > 0) {
      EXPECT_NEAR(motors[i].atMs - motors[i - 1].atMs, 600.0, 50.0) << i;
    }
  }
  EXPECT_EQ(hex(motors[4].payload), hex(kStopBytes));
}

TEST_F(GatewayDrive, AnXapCommandReachesTheRobotAndItsEventTheBus) {
  startAndLogIn();
  ASSERT_NE(rig.hub.programPort(), 0);

  ASSERT_TRUE(rig.hub.forward(
      "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=xAPBSC.cmd\nsource=acme.ctl.host\n"
      "target=qbt.Spykee.SIMHOST:spykee.HeadLED.Relay\n}\noutput.state.1\n{\nID=*\nState=on\n}\n"));
  sim().advanceMs(100);

  const auto leds = robot().packetsOfType(4);
  ASSERT_EQ(leds.size(), 1u);
  EXPECT_EQ(hex(leds[0].payload), "0001");
  EXPECT_EQ(rig.hub.deviceEvents("HeadLED"), Strings{"ON 0"});
  EXPECT_EQ(gateway().model().aHeadStatus, MainWindowModel::kHeadOn);
}

}  // namespace
}  // namespace rovalink::app
