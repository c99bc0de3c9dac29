#include "app/gateway.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_ui_port.h"
#include "support/gateway_rig.h"

namespace rovalink::app {
namespace {

using Strings = std::vector<std::string>;
using test::FakeXapHub;

constexpr int kRefreshMs = MainWindow::kStatusRefreshMs;

class GatewayTest : public ::testing::Test {
 protected:
  Gateway& gateway() { return *rig.gateway; }
  platform::SimPlatform& sim() { return rig.sim; }
  test::FakeSpykee& robot() { return rig.robot; }

  // Start-up, then the login sequence the connection queues, up to its last packet (volume).
  void startAndLogIn() {
    ASSERT_EQ(gateway().Start(), std::nullopt);
    m_startedAtMs = sim().nowMs();
    ASSERT_TRUE(sim().runUntil([&] { return !robot().packetsOfType(9).empty(); }, 15000));
  }

  // Moves virtual time to 1 ms after the `times`-th next status refresh.
  void runPastRefreshes(int times = 1) {
    const int sinceLast = static_cast<int>(sim().nowMs() - m_startedAtMs) % kRefreshMs;
    sim().advanceMs(times * kRefreshMs - sinceLast + 1);
  }

  test::FakeUiPort ui;
  test::GatewayRig rig{&ui};
  double m_startedAtMs = 0;
};

TEST_F(GatewayTest, TrayIconAndBusAnnouncementComeBeforeTheRobotSearchThenTheLogin) {
  Strings atDiscovery;  // the desktop calls, the bus events and the heartbeat count
  robot().onDiscovery = [&] {
    atDiscovery = ui.calls;
    for (const auto& data : rig.hub.eventData()) atDiscovery.push_back(data);
    atDiscovery.push_back(std::to_string(rig.hub.heartbeats.size()) + " heartbeat");
    atDiscovery.push_back(gateway().webServer().listening() ? "web on" : "web off");
  };

  startAndLogIn();

  EXPECT_EQ(robot().discoveries, Strings{std::string("DSCV\x01", 5)});
  // Two blanks: the port is written as signed-number text.
  EXPECT_EQ(atDiscovery, (Strings{"hideMainWindow", "trayIcon:on:Spykee: searching",
                                  "Using xAP port  32768", "1 heartbeat", "web off"}));
  const std::string& beat = rig.hub.heartbeats.front();  // interval: ten periods of 60 s
  EXPECT_EQ(FakeXapHub::lineValue(beat, "source") + " " + FakeXapHub::lineValue(beat, "interval"),
            "qbt.Spykee.SIMHOST 600");

  EXPECT_EQ(ui.calls, (Strings{"hideMainWindow", "trayIcon:on:Spykee: searching",
                               "trayIcon:on:Spykee: connecting", "showMainWindow",
                               "showVideoWindow", "trayIcon:on:Spykee: logged in"}));
  EXPECT_TRUE(gateway().started());
  EXPECT_EQ(gateway().webServer().port(), 8029);                         // the last start-up step
  EXPECT_EQ(robot().packetsOfType(10).at(0).payload, "\5admin\5kelpo");  // stored credentials
  EXPECT_EQ(rig.errorLog(), "");
}

TEST(GatewayStartFailure, EndsStartUpWithAnErrorCodeAndNoControlConnection) {
  // Ports taken from the program before it starts (nullptr address: the control ports, TCP).
  // Without a message, an xAP failure: it ends start-up before the tray icon and any traffic.
  struct Case {
    const char* name;
    const char* takenUdpAddress;
    int takenFrom, takenCount;
    const char* message;
    double atMs;
    std::size_t discoveries;
  };
  const char* const kBindFailure = "Unable to Bind to Windows Socket";
  for (const Case& c :
       {Case{"every private loopback port", "127.0.0.1", 32768, 200, nullptr, 0.0, 0},
        Case{"no robot answers", "", 0, 0, "Spykee not found", 30000.0, 15},  // every 2 s
        Case{"every discovery port", "", 32868, 200, kBindFailure, 0.0, 0},
        Case{"every control port", nullptr, 32868, 200, kBindFailure, 0.0, 1}}) {
    SCOPED_TRACE(c.name);
    test::FakeUiPort ui;
    test::GatewayRig rig(&ui);
    rig.robot.answerDiscovery = c.takenCount > 0;
    std::vector<std::unique_ptr<platform::UdpSocket>> udp;
    std::vector<std::unique_ptr<platform::TcpListener>> tcp;
    for (int port = c.takenFrom; port < c.takenFrom + c.takenCount; ++port) {
      if (c.takenUdpAddress != nullptr) {
        udp.push_back(rig.sim.createUdpSocket());
        ASSERT_TRUE(udp.back()->bind(c.takenUdpAddress, static_cast<std::uint16_t>(port)));
      } else {
        tcp.push_back(rig.sim.createTcpListener());
        ASSERT_TRUE(tcp.back()->listen("", static_cast<std::uint16_t>(port)));
      }
    }

    const std::optional<int> code = rig.gateway->Start();

    EXPECT_NE(code.value_or(0), 0);
    EXPECT_FALSE(rig.gateway->started());
    const Strings shown{"hideMainWindow", "trayIcon:on:Spykee: searching",
                        std::string("messageBox:") + (c.message ? c.message : "")};
    EXPECT_EQ(ui.calls, c.message ? shown : Strings{});
    EXPECT_NEAR(rig.sim.nowMs(), c.atMs, 5.0);
    EXPECT_EQ(rig.robot.discoveries.size(), c.discoveries);
    EXPECT_TRUE(rig.robot.clientPorts.empty());
    EXPECT_EQ(rig.hub.heard.empty(), c.message == nullptr);
    EXPECT_EQ(
        rig.errorLog().find(" | xapqbtSpykee xAP Init Error -1 occurred") != std::string::npos,
        c.message == nullptr)
        << rig.errorLog();
  }
}

TEST_F(GatewayTest, AWebPortInUseIsReportedAndTheGatewayRunsOn) {
  sim().failNextBind(platform::SimProtocol::Tcp, 8029, "Address in use");
  startAndLogIn();
  EXPECT_TRUE(gateway().started());
  EXPECT_FALSE(gateway().webServer().listening());
  const Strings events = rig.hub.eventData();
  EXPECT_TRUE(events.back().starts_with("Server Form_Load ")) << events.back();
  EXPECT_TRUE(events.back().ends_with("cannot listen on *:8029: Address in use")) << events.back();
  EXPECT_TRUE(ui.messageBoxes.empty());
}

// A second instance whose web port the first one holds: Exit comes while the port's failure
// event is being sent, and the login's last report after it. Nothing more goes out, and nothing
// is sent through the transport the shutdown let go of.
TEST_F(GatewayTest, ExitWhileTheWebPortEventIsSentEndsCleanly) {
  sim().failNextBind(platform::SimProtocol::Tcp, 8029, "Address in use");
  rig.hub.onHeard = [&](const std::string& text) {
    if (text.find("Server Form_Load") == std::string::npos) return;
    gateway().mainWindow().MenuArrayClick(kMenuExit);
    gateway().robotLink().runProcedure(commands::Command{"VideoOn", "", 0.0});
  };
  gateway().Start();
  EXPECT_EQ(ui.exitCodes, std::vector<int>{0});
  sim().advanceMs(10);
  EXPECT_EQ(FakeXapHub::lineValue(rig.hub.heard.back(), "class"), "xap-hbeat.stopped");
}

TEST_F(GatewayTest, ExitDuringTheRobotSearchEndsStartUpAtOnceWithZero) {
  robot().answerDiscovery = false;
  sim().simLoop().post(5'000'000, [&] { gateway().mainWindow().MenuArrayClick(kMenuExit); });

  EXPECT_EQ(gateway().Start(), std::optional<int>(0));
  EXPECT_LT(sim().nowMs(), 5100.0);
  EXPECT_EQ(ui.exitCodes, std::vector<int>{0});
  EXPECT_TRUE(ui.messageBoxes.empty());
  EXPECT_FALSE(ui.trayUpdates.back().iconOn);
}

TEST_F(GatewayTest, ClosingTheWindowOnlyHidesItAndExitShutsDownWithoutRunningQueuedCommands) {
  startAndLogIn();
  EXPECT_FALSE(gateway().mainWindow().QueryUnload());
  EXPECT_FALSE(ui.mainWindowVisible);
  robot().sendBattery(87);
  sim().advanceMs(kRefreshMs + 10);
  EXPECT_EQ(rig.hub.deviceEvents("Battery"), Strings{"ON 87"});  // everything runs on
  EXPECT_TRUE(robot().connected());
  gateway().mainWindow().MenuArrayClick(kMenuShowForm);
  EXPECT_TRUE(ui.mainWindowVisible);
  EXPECT_TRUE(ui.exitCodes.empty());
  for (const auto& update : ui.trayUpdates) EXPECT_TRUE(update.iconOn);

  const std::size_t calls = ui.calls.size();
  const std::size_t packets = robot().packets.size();
  // Both in one handler: the dispatcher has not run the LED command yet.
  gateway().mainWindow().queueButtonClick("aHeadOn");
  gateway().mainWindow().MenuArrayClick(kMenuExit);
  const std::size_t busEvents = rig.hub.messagesOfClass("xapBSC.Event").size();

  EXPECT_EQ(Strings(ui.calls.begin() + static_cast<std::ptrdiff_t>(calls), ui.calls.end()),
            (Strings{"trayIcon:off:Spykee: logged in", "exitProcess:0"}));
  EXPECT_TRUE(gateway().mainWindow().QueryUnload());
  EXPECT_FALSE(gateway().webServer().listening());
  sim().advanceMs(10);
  EXPECT_FALSE(robot().connected());
  EXPECT_EQ(robot().closes, 1);
  // Until the process is gone: no command, no refresh, no keyboard drive, no reconnect.
  ui.press(platform::ArrowKey::Up);
  sim().advanceMs(35000);
  EXPECT_EQ(robot().packets.size(), packets);
  EXPECT_EQ(robot().clientPorts.size(), 1u);
  EXPECT_EQ(rig.hub.messagesOfClass("xapBSC.Event").size(), busEvents);
  EXPECT_EQ(gateway().model().aHeadStatus, platform::MainWindowModel::kIndicatorOff);
  // The last thing the bus heard is the goodbye heartbeat.
  EXPECT_EQ(FakeXapHub::lineValue(rig.hub.heard.back(), "class"), "xap-hbeat.stopped")
      << rig.hub.heard.back();
}

TEST_F(GatewayTest, TheStatusRefreshReportsOnlyChangesAndReads8FramesIn333msAs24Hz) {
  startAndLogIn();
  runPastRefreshes();
  const std::size_t picturesBefore = ui.pictures.size();

  for (int i = 0; i < 8; ++i) {
    robot().sendFrame("\xFF\xD8 frame " + std::to_string(i) + " \xFF\xD9");
    sim().advanceMs(30);
  }
  runPastRefreshes();

  EXPECT_EQ(gateway().mainWindow().aVideoRate(), "24 Hz");
  EXPECT_EQ(gateway().devices().find("Video")->Value, 24);
  // The video window shows every frame; the frame file still gets the one frame per refresh.
  ASSERT_EQ(ui.pictures.size(), picturesBefore + 8);
  EXPECT_EQ(ui.pictures.back(), "\xFF\xD8 frame 7 \xFF\xD9");
  EXPECT_EQ(testing::readFile(gateway().robotLink().frameFilePath()), "\xFF\xD8 frame 0 \xFF\xD9");
  runPastRefreshes();
  EXPECT_EQ(gateway().mainWindow().aVideoRate(), "0 Hz");

  runPastRefreshes(3);
  robot().sendBattery(87);
  robot().sendDockStatus(2);
  runPastRefreshes(5);
  gateway().mainWindow().aSpeedChange(60);  // DriveSpeed 84: above 75
  runPastRefreshes(5);

  EXPECT_EQ(rig.hub.deviceEvents("Battery"), Strings{"ON 87"});
  EXPECT_EQ(rig.hub.deviceEvents("Docked"), Strings{"ON 0"});
  EXPECT_EQ(rig.hub.deviceEvents("Speed"), (Strings{"OFF 73", "ON 84"}));
  EXPECT_EQ(gateway().model().aDockStatus, platform::MainWindowModel::kDocked);

  gateway().mainWindow().aDisconnectClick();
  runPastRefreshes(4);
  EXPECT_EQ(rig.hub.deviceEvents("Connected"), (Strings{"ON 0", "OFF 0"}));
  EXPECT_EQ(gateway().model().aConnectStatus, platform::MainWindowModel::kNotConnected);
  // Lost: the last picture gives way to "no video", the battery to a stale one.
  EXPECT_EQ(ui.calls.back(), "showNoVideo");
  EXPECT_EQ(ui.trayUpdates.back().tooltip, "Spykee: lost");
  EXPECT_TRUE(gateway().mainWindow().aBatteryStale());
  EXPECT_EQ(gateway().mainWindow().aVideoRate(), "0 Hz");
}

TEST_F(GatewayTest, AnXapCommandAndAHeldArrowKeyDriveTheRobot) {
  startAndLogIn();
  ASSERT_TRUE(rig.hub.forward(
      "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=xAPBSC.cmd\nsource=acme.ctl.host\n"
      "target=qbt.Spykee.SIMHOST:spykee.HeadLED.Relay\n}\noutput.state.1\n{\nID=*\nState=on\n}\n"));
  sim().advanceMs(100);

  ASSERT_EQ(robot().packetsOfType(4).size(), 1u);
  EXPECT_EQ(robot().packetsOfType(4)[0].payload, std::string("\x00\x01", 2));
  EXPECT_EQ(rig.hub.deviceEvents("HeadLED"), Strings{"ON 0"});
  EXPECT_EQ(gateway().model().aHeadStatus, platform::MainWindowModel::kHeadOn);
  ui.press(platform::ArrowKey::Up);
  sim().advanceMs(2000);
  ui.release(platform::ArrowKey::Up);
  sim().advanceMs(2000);

  const auto motors = robot().packetsOfType(5);
  ASSERT_EQ(motors.size(), 5u);
  EXPECT_EQ(motors[0].payload, "\x34\x34");  // both motors 125 - speed 73
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(motors[i].payload, motors[0].payload) << i;
    EXPECT_NEAR(motors[i].atMs - motors[i - 1].atMs, 600.0, 50.0) << i;
  }
  EXPECT_EQ(motors[4].payload, std::string("\x00\x00", 2));
}

}  // namespace
}  // namespace rovalink::app
