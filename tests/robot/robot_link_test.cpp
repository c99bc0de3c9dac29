#include "robot/robot_link.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "robot/fakes.h"
#include "robot/hex.h"
#include "robot/sim_robot.h"
#include "support/fake_ui_port.h"

namespace rovalink::robot {
namespace {

namespace fs = std::filesystem;
using test::fromHex;
using test::SimRobot;
using test::toHex;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

class RobotLinkTest : public ::testing::Test {
 protected:
  RobotLinkTest()
      : m_folder(fs::temp_directory_path() /
                 ("rovalink-robot-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name())),
        m_settings(m_services),
        m_dispatcher(m_sim.loop(), m_sim.clock()),
        m_link({m_sim, m_settings, m_services, m_ui, m_dispatcher, m_devices,
                [this](const std::string& name, bool) { m_reports.push_back(name); }, m_credentials,
                m_window, m_state, (m_folder / "Data" / "xapqbtSpykee").string()}) {
    fs::create_directories(m_folder / "Config");
    m_settings.setAppPath(m_folder.string());
    m_dispatcher.setProcedureRunner(&m_link);
  }
  ~RobotLinkTest() override {
    std::error_code ec;
    fs::remove_all(m_folder, ec);
  }

  void writeSettings(const std::string& lines) {
    std::ofstream(m_folder / "Config" / "qbtRovalink.ini") << "[SPYKEE]\r\n" << lines;
  }

  // Runs until the robot has received count packets (or the bound passes).
  bool runUntilPackets(const SimRobot& robot, std::size_t count, int maxMs = 60000) {
    return m_sim.runUntil([&] { return robot.packets.size() >= count; }, maxMs);
  }

  fs::path m_folder;
  platform::SimPlatform m_sim;
  test::RecordingServices m_services;
  settings::hs m_settings;
  rovalink::test::FakeUiPort m_ui;
  commands::CommandDispatcher m_dispatcher;
  devices::Devices m_devices = devices::BuildDeviceTable();
  devices::RobotCredentials m_credentials{"admin", "kelpo"};
  app::MainWindowModel m_window;
  RobotState m_state;
  std::vector<std::string> m_reports;
  RobotLink m_link;
};

const std::string kLoginAdmin = "05 61 64 6D 69 6E 05 6B 65 6C 70 6F";

TEST_F(RobotLinkTest, DiscoveryWithoutReplyEndsWithSpykeeNotFoundAfter30Seconds) {
  SimRobot robot(m_sim);
  robot.answerDiscovery = false;
  EXPECT_FALSE(m_link.Start());
  EXPECT_EQ(m_ui.messageBoxes, std::vector<std::string>{"Spykee not found"});
  EXPECT_GE(m_sim.nowMs(), 30000.0);
  EXPECT_LT(m_sim.nowMs(), 30010.0);
  ASSERT_EQ(robot.discoveries.size(), 1u);
  EXPECT_EQ(toHex(robot.discoveries[0].data), "44 53 43 56 01");
  EXPECT_TRUE(robot.connectTimesMs.empty());
}

TEST_F(RobotLinkTest, StartFindsTheRobotAndConnectsAfterAOneSecondPause) {
  SimRobot robot(m_sim);
  ASSERT_TRUE(m_link.Start());
  EXPECT_TRUE(m_ui.messageBoxes.empty());
  EXPECT_EQ(m_link.RobotAddress(), "192.168.1.50");
  EXPECT_EQ(m_link.ConnectionState(), platform::SocketState::Connected);
  ASSERT_EQ(robot.discoveries.size(), 1u);
  EXPECT_EQ(robot.discoveries[0].senderPort, 32868);
  ASSERT_EQ(robot.clientPorts.size(), 1u);
  EXPECT_EQ(robot.clientPorts[0], 32868);
  // The discovery reply arrives at once; the connect follows the one-second pause.
  EXPECT_NEAR(robot.connectTimesMs[0], 1000.0, 5.0);
}

TEST_F(RobotLinkTest, LoginSequenceRunsFromTheConnectEvent) {
  SimRobot robot(m_sim);
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));
  ASSERT_EQ(robot.types(), (std::vector<int>{10, 15, 18, 9}));
  EXPECT_EQ(toHex(robot.packets[0].payload), kLoginAdmin);
  EXPECT_EQ(toHex(robot.packets[1].payload), "01 01");
  EXPECT_EQ(toHex(robot.packets[3].payload), "32");
  EXPECT_TRUE(m_state.LoggedIn);
  // The accepting reply ends the login wait at once.
  EXPECT_LT(robot.packets[3].atMs - robot.packets[0].atMs, 50.0);
  EXPECT_EQ(m_reports, (std::vector<std::string>{"LoginSequence", "Video", "Volume"}));
}

TEST_F(RobotLinkTest, LoginReplyCarriesTheDockState) {
  SimRobot robot(m_sim);
  robot.dockByte = 0;
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));
  EXPECT_TRUE(m_state.RobotDocked);
}

TEST_F(RobotLinkTest, ShortLoginReplyQueuesTheLoginAgain) {
  SimRobot robot(m_sim);
  robot.loginAnswer = SimRobot::LoginAnswer::RefuseOnceThenAccept;
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 8));
  EXPECT_EQ(robot.types(), (std::vector<int>{10, 15, 18, 9, 10, 15, 18, 9}));
  // The refused login waits the full 10 s, then the sequence goes on and the retry follows.
  EXPECT_NEAR(robot.packets[1].atMs - robot.packets[0].atMs, 10000.0, 20.0);
  EXPECT_LT(robot.packets[7].atMs - robot.packets[4].atMs, 50.0);
  EXPECT_TRUE(m_state.LoggedIn);
  EXPECT_EQ(robot.loginsSeen, 2);
}

TEST_F(RobotLinkTest, LoginTimeOutIsSilentAndTheSequenceGoesOn) {
  SimRobot robot(m_sim);
  robot.loginAnswer = SimRobot::LoginAnswer::Silent;
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));
  EXPECT_NEAR(robot.packets[1].atMs - robot.packets[0].atMs, 10000.0, 20.0);
  EXPECT_FALSE(m_state.LoggedIn);
  EXPECT_TRUE(m_services.errors.empty());
  EXPECT_TRUE(m_services.events.empty());
}

TEST_F(RobotLinkTest, ALaterDiscoveryReplyChangesTheAddressButNotTheConnection) {
  SimRobot first(m_sim, "192.168.1.50");
  SimRobot second(m_sim, "192.168.1.51");
  second.answerDiscovery = false;
  // Answers during the pause before the connect, after the first reply ended the wait.
  m_sim.simLoop().post(500 * 1000, [&] { second.replyToDiscovery(); });
  ASSERT_TRUE(m_link.Start());
  EXPECT_EQ(m_link.RobotAddress(), "192.168.1.51");
  EXPECT_EQ(first.connectTimesMs.size(), 1u);
  EXPECT_TRUE(second.connectTimesMs.empty());
}

TEST_F(RobotLinkTest, TakenLocalPortsAreSkipped) {
  SimRobot robot(m_sim);
  m_sim.failNextBind(platform::SimProtocol::Udp, 32868);
  ASSERT_TRUE(m_link.Start());
  EXPECT_EQ(robot.discoveries.at(0).senderPort, 32869);
  EXPECT_EQ(robot.clientPorts.at(0), 32868);
}

TEST_F(RobotLinkTest, NoFreeLocalPortEndsTheStart) {
  SimRobot robot(m_sim);
  std::vector<std::unique_ptr<platform::UdpSocket>> taken;
  for (int port = 32868; port < 32868 + 200; ++port) {
    taken.push_back(m_sim.createUdpSocket());
    ASSERT_TRUE(taken.back()->bind("", static_cast<std::uint16_t>(port)));
  }
  EXPECT_FALSE(m_link.Start());
  EXPECT_EQ(m_ui.messageBoxes, std::vector<std::string>{"Unable to Bind to Windows Socket"});
  EXPECT_TRUE(robot.discoveries.empty());
}

TEST_F(RobotLinkTest, ChooseLocalPortGivesUpAfter200Ports) {
  std::vector<std::unique_ptr<platform::TcpSocket>> taken;
  for (int port = 32868; port < 32868 + 199; ++port) {
    taken.push_back(m_sim.createTcpSocket());
    ASSERT_TRUE(taken.back()->bind(static_cast<std::uint16_t>(port)));
  }
  auto socket = m_sim.createTcpSocket();
  EXPECT_EQ(m_link.ChooseLocalPort(*socket), 32868 + 199);
  socket->close();
  taken.push_back(m_sim.createTcpSocket());
  ASSERT_TRUE(taken.back()->bind(static_cast<std::uint16_t>(32868 + 199)));
  EXPECT_EQ(m_link.ChooseLocalPort(*socket), -1);
}

TEST_F(RobotLinkTest, NoDelayRefusalIsShownAndStartGoesOn) {
  SimRobot robot(m_sim);
  m_sim.failNoDelay(platform::SimNetwork::Failure{10042, "Bad option"});
  ASSERT_TRUE(m_link.Start());
  EXPECT_EQ(m_ui.messageBoxes,
            std::vector<std::string>{"Error setting TCP_NODELAY option: 10042 Bad option"});
  EXPECT_EQ(m_link.ConnectionState(), platform::SocketState::Connected);
}

TEST_F(RobotLinkTest, SettingsMoveTheDiscoveryAddressAndRobotPort) {
  writeSettings("DiscoveryAddress=192.168.1.50\r\nRobotPort=9100\r\n");
  SimRobot decoy(m_sim, "192.168.1.60", 9100);
  SimRobot robot(m_sim, "192.168.1.50", 9100);
  ASSERT_TRUE(m_link.Start());
  EXPECT_EQ(m_link.robotPort(), 9100);
  EXPECT_TRUE(decoy.discoveries.empty());
  EXPECT_EQ(robot.discoveries.size(), 1u);
  EXPECT_EQ(robot.connectTimesMs.size(), 1u);
}

TEST_F(RobotLinkTest, ConnectTimeOutDropsThePacketAndLogsTheRefusal) {
  SimRobot robot(m_sim, "192.168.1.50", 9000, /*listen=*/false);
  ASSERT_TRUE(m_link.Start());
  EXPECT_NEAR(m_sim.nowMs(), 31000.0, 5.0);
  EXPECT_EQ(m_link.ConnectionState(), platform::SocketState::Closed);
  ASSERT_FALSE(m_services.errors.empty());
  EXPECT_EQ(m_services.errors[0], "xapqbtSpykee|TCP Socket Connection refused (10061)|");

  // The next send tries again: another pause and another full wait, then the packet is gone.
  const double before = m_sim.nowMs();
  m_link.SendToRobot(*ledPacket(Led::Head, true));
  EXPECT_NEAR(m_sim.nowMs() - before, 31000.0, 5.0);
  EXPECT_TRUE(robot.packets.empty());
}

TEST_F(RobotLinkTest, ProceduresStillUpdateDevicesWhenThePacketIsDropped) {
  SimRobot robot(m_sim, "192.168.1.50", 9000, /*listen=*/false);
  ASSERT_TRUE(m_link.Start());
  m_dispatcher.QueueCommand("HeadLEDOn");
  ASSERT_TRUE(m_sim.runUntil([&] { return m_devices.at("HeadLED").Status; }, 60000));
  EXPECT_EQ(m_reports, std::vector<std::string>{"HeadLED"});
  m_sim.runUntil([&] { return m_dispatcher.queue().empty() && !m_dispatcher.CommandBusy(); },
                 60000);
  EXPECT_EQ(m_window.aHeadStatus, app::MainWindowModel::kHeadOn);
  EXPECT_TRUE(robot.packets.empty());
}

TEST_F(RobotLinkTest, AfterTheRobotClosesTheNextCommandReconnectsAndLogsInAgain) {
  SimRobot robot(m_sim);
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));
  robot.closeConnection();
  m_sim.advanceMs(10);
  EXPECT_TRUE(m_link.RobotClosed());
  EXPECT_EQ(m_link.ConnectionState(), platform::SocketState::Closed);

  // Queued together: the reconnect's connect event drops what waits behind the first one.
  const double queuedAt = m_sim.nowMs();
  m_dispatcher.QueueCommand("HeadLEDOn");
  m_dispatcher.QueueCommand("LeftLEDOn");
  m_dispatcher.QueueCommand("RightLEDOn");
  ASSERT_TRUE(runUntilPackets(robot, 9));
  m_sim.advanceMs(100);
  ASSERT_EQ(robot.connectTimesMs.size(), 2u);
  EXPECT_NEAR(robot.connectTimesMs[1] - queuedAt, 1000.0, 10.0);
  EXPECT_EQ(robot.types(), (std::vector<int>{10, 15, 18, 9, 4, 10, 15, 18, 9}));
  EXPECT_EQ(toHex(robot.packets[4].payload), "00 01");
  // Already logged in: the second login wait ends at once.
  EXPECT_LT(robot.packets[8].atMs - robot.packets[5].atMs, 50.0);
  EXPECT_FALSE(m_devices.at("LeftLED").Status);
  EXPECT_FALSE(m_devices.at("RightLED").Status);
}

TEST_F(RobotLinkTest, ASendWhileConnectingIsDroppedWithoutWaiting) {
  SimRobot robot(m_sim);
  m_sim.setLatency(std::chrono::milliseconds(200));
  double calledAt = -1;
  double returnedAt = -1;
  // Reply at 0.4 s, pause until 1.4 s, connect under way until 1.6 s.
  m_sim.simLoop().post(1500 * 1000, [&] {
    EXPECT_EQ(m_link.ConnectionState(), platform::SocketState::Connecting);
    calledAt = m_sim.nowMs();
    m_link.SendToRobot(*ledPacket(Led::Left, true));
    returnedAt = m_sim.nowMs();
  });
  ASSERT_TRUE(m_link.Start());
  ASSERT_GE(calledAt, 0.0);
  EXPECT_EQ(returnedAt, calledAt);
  ASSERT_TRUE(runUntilPackets(robot, 4));
  for (const auto& packet : robot.packets) EXPECT_NE(packet.type, 4);
}

TEST_F(RobotLinkTest, ConnectEventReplacesTheQueueWithTheLogin) {
  SimRobot robot(m_sim);
  robot.loginAnswer = SimRobot::LoginAnswer::Silent;
  m_sim.setLatency(std::chrono::milliseconds(100));
  // Queued during the start-up connect wait, before the connect event.
  m_sim.simLoop().post(1050 * 1000, [&] {
    m_dispatcher.queue().append({"HeadLEDOn", "", 0});
    m_dispatcher.queue().append({"Dock", "", 0});
  });
  ASSERT_TRUE(m_link.Start());
  ASSERT_EQ(m_dispatcher.queue().size(), 1u);
  EXPECT_EQ(m_dispatcher.queue().front().Procedure, "LoginSequence");
}

TEST_F(RobotLinkTest, TelemetryUpdatesBatteryAndDock) {
  SimRobot robot(m_sim);
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));
  robot.send(fromHex("50 4B 03 00 01 64"));
  m_sim.advanceMs(10);
  EXPECT_EQ(m_state.BatteryLevel, 100);
  robot.send(fromHex("50 4B 10 00 01 02"));
  m_sim.advanceMs(10);
  EXPECT_TRUE(m_state.RobotDocked);
}

std::string videoPacket(const std::string& payload) {
  std::string packet = fromHex("50 4B 02");
  packet.push_back(static_cast<char>(payload.size() >> 8));
  packet.push_back(static_cast<char>(payload.size() & 0xFF));
  return packet + payload;
}

std::string pictureBytes(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + seed) & 0xFF);
  return bytes;
}

TEST_F(RobotLinkTest, AFrameSplitAcrossChunksArrivesWholeInTheFrameFile) {
  SimRobot robot(m_sim);
  std::vector<std::string> shown;
  m_link.setFrameViewer([&](const std::string& path) { shown.push_back(path); });
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));

  m_sim.setTcpSegmentSize(700);
  const std::string first = pictureBytes(10000, 1);
  robot.send(videoPacket(first));
  m_sim.advanceMs(50);
  const fs::path file = m_folder / "Data" / "xapqbtSpykee" / "Video0.jpg";
  EXPECT_EQ(readFile(file), first);
  EXPECT_EQ(m_window.FrameCount, 1);
  EXPECT_FALSE(m_state.FrameWanted);
  EXPECT_EQ(shown, std::vector<std::string>{file.string()});
  EXPECT_FALSE(fs::exists(file.string() + ".part"));

  // Not wanted: counted, not written.
  robot.send(videoPacket(pictureBytes(3000, 2)));
  m_sim.advanceMs(50);
  EXPECT_EQ(m_window.FrameCount, 2);
  EXPECT_EQ(readFile(file), first);

  m_state.FrameWanted = true;
  const std::string third = pictureBytes(2500, 3);
  robot.send(videoPacket(third));
  m_sim.advanceMs(50);
  EXPECT_EQ(readFile(file), third);
  EXPECT_EQ(shown.size(), 2u);
}

TEST_F(RobotLinkTest, DataArrivingWhileAFrameIsShownIsParsedByTheSameDrain) {
  SimRobot robot(m_sim);
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));
  int nestedBusy = 0;
  m_link.setFrameViewer([&](const std::string&) {
    // Arrives during the pump that follows the picture.
    robot.send(fromHex("50 4B 03 00 01 2A"));
    if (m_link.ReceiveBusy()) ++nestedBusy;
  });
  robot.send(videoPacket(pictureBytes(200, 5)));
  // Stops right after the drain that completed the frame: a later tick would be 5 ms on.
  ASSERT_TRUE(m_sim.runUntil([&] { return m_window.FrameCount == 1; }, 1000));
  EXPECT_EQ(m_state.BatteryLevel, 42);
  EXPECT_EQ(nestedBusy, 1);
  EXPECT_FALSE(m_link.ReceiveBusy());
  EXPECT_EQ(m_link.ReceiveQueueSize(), 0u);
  EXPECT_EQ(m_window.FrameCount, 1);
}

TEST_F(RobotLinkTest, AFrameFileThatCannotBeWrittenIsLoggedAndStillCounted) {
  SimRobot robot(m_sim);
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));
  // A plain file where the folder should be.
  fs::create_directories(m_folder / "Data");
  std::ofstream(m_folder / "Data" / "xapqbtSpykee") << "x";
  robot.send(videoPacket(pictureBytes(100, 4)));
  m_sim.advanceMs(50);
  EXPECT_EQ(m_window.FrameCount, 1);
  ASSERT_EQ(m_services.events.size(), 1u);
  EXPECT_EQ(m_services.events[0].rfind("xapqbtSpykee|WriteBinaryFile|", 0), 0u);
}

TEST_F(RobotLinkTest, ConnectedOffMarksTheConnectionClosed) {
  SimRobot robot(m_sim);
  ASSERT_TRUE(m_link.Start());
  EXPECT_FALSE(m_link.RobotClosed());
  m_dispatcher.QueueCommand("ConnectedOff");
  m_sim.advanceMs(20);
  EXPECT_TRUE(m_link.RobotClosed());
}

TEST_F(RobotLinkTest, DisconnectClosesTheControlConnection) {
  SimRobot robot(m_sim);
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));
  m_link.CloseConnection();
  m_sim.advanceMs(10);
  EXPECT_EQ(m_link.ConnectionState(), platform::SocketState::Closed);
  EXPECT_EQ(robot.closes, 1);
}

TEST_F(RobotLinkTest, ResetByThePeerIsLoggedAndTheSocketClosed) {
  SimRobot robot(m_sim);
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(runUntilPackets(robot, 4));
  robot.abortConnection();
  m_sim.advanceMs(10);
  ASSERT_EQ(m_services.errors.size(), 1u);
  EXPECT_EQ(m_services.errors[0], "xapqbtSpykee|TCP Socket Connection reset by peer (10054)|");
  EXPECT_EQ(m_link.ConnectionState(), platform::SocketState::Closed);
}

}  // namespace
}  // namespace rovalink::robot
