#include "robot/robot_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/sim/sim_tcp_socket.h"
#include "robot/fakes.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "support/fake_spykee.h"
#include "support/fake_ui_port.h"

namespace rovalink::robot {
namespace {

using platform::SocketState;

// A TCP socket that a test can hold in a state (closing, error) which a real socket passes
// through only briefly, whose events it can raise, and which can lose the program's logins.
class HeldSocket : public platform::SimTcpSocket {
 public:
  using SimTcpSocket::SimTcpSocket;
  SocketState state() const override { return held.value_or(SimTcpSocket::state()); }
  bool send(std::string_view data) override {
    if (dropLogins > 0 && data[2] == 10) return dropLogins-- > 0;  // never reaches the robot
    return SimTcpSocket::send(data);
  }
  void raiseConnect() { emitConnect(); }
  void raiseClose() { emitClose(); }
  std::optional<SocketState> held;
  int dropLogins = 0;
};

// The sim platform with held sockets: the first is the program's control socket, the latest
// the robot's end of the current connection.
class HeldSocketPlatform : public platform::SimPlatform {
 public:
  std::unique_ptr<platform::TcpSocket> createTcpSocket() override {
    // Not owning: the platform outlives every socket of a test.
    sockets.push_back(
        new HeldSocket(std::shared_ptr<platform::SimNetwork>(std::shared_ptr<void>(), &network())));
    return std::unique_ptr<platform::TcpSocket>(sockets.back());
  }
  std::vector<HeldSocket*> sockets;
};

class RobotLinkTest : public ::testing::Test {
 protected:
  RobotLinkTest()
      : m_settings(m_services),
        m_dispatcher(m_sim.loop(), m_sim.clock()),
        m_link({m_sim, m_settings, m_services, m_ui, m_dispatcher, m_devices,
                [this](const std::string& name, bool) { m_reports.push_back(name); }, m_credentials,
                m_window, m_state, m_folder.path().string()}) {
    m_dispatcher.setProcedureRunner(&m_link);
  }

  bool packetsArrive(std::size_t count) {
    return m_sim.runUntil([&] { return m_robot.packets.size() >= count; }, 60000);
  }
  void startAndRun() {
    ASSERT_TRUE(m_link.Start());
    ASSERT_TRUE(packetsArrive(4));  // login sequence: login, video on, post-login, volume
  }
  std::vector<std::string> events() const {
    std::vector<std::string> e;
    for (const auto& event : m_services.events) e.push_back(event.second);
    return e;
  }
  std::vector<int> types() const {
    std::vector<int> t;
    for (const auto& p : m_robot.packets) t.push_back(p.type);
    return t;
  }

  testing::TestFolder m_folder;
  HeldSocketPlatform m_sim;
  rovalink::test::FakeSpykee m_robot{m_sim, "192.168.1.50", 9000};
  testing::RecordingServices m_services;
  settings::hs m_settings;
  rovalink::test::FakeUiPort m_ui;
  commands::CommandDispatcher m_dispatcher;
  devices::Devices m_devices = devices::BuildDeviceTable();
  devices::RobotCredentials m_credentials{"admin", "kelpo"};
  platform::MainWindowModel m_window;
  RobotState m_state;
  std::vector<std::string> m_reports;
  RobotLink m_link;
};

// Whoever answers discovery gets the login with the password. Replies are scripted: from the
// robot (192.168.1.50) or a stranger (192.168.1.66, listening on the discovery port), with the
// reply's text and its time. Without RobotAddress the first real answer is taken and published,
// and another address answering is published once; with it only that address is asked and heard.
struct Reply {
  const char* from;
  std::string text;
  int atMs;
};
struct DiscoveryCase {
  const char* name;
  const char* robotAddress;  // the setting; empty when not set
  std::vector<Reply> replies;
  const char* connectsTo;  // empty: "Spykee not found"
  bool strangerAsked;
  std::vector<std::string> events;
};

void PrintTo(const DiscoveryCase& c, std::ostream* os) {
  *os << c.name;
}

class Discovery : public RobotLinkTest, public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(Discovery, TakesOnlyARealAnswerFromTheRightAddressAndPublishesTheChoice) {
  const DiscoveryCase& c = GetParam();
  m_settings.setAppPath(m_folder.path().string());
  testing::writeFile(m_folder.file("Config/qbtRovalink.ini"),
                     std::string("[SPYKEE]\r\nRobotAddress=") + c.robotAddress + "\r\n");
  m_robot.answerDiscovery = false;
  auto stranger = m_sim.createUdpSocket(), fromRobot = m_sim.createUdpSocket();
  std::vector<std::string> strangerHeard;
  stranger->onDatagram([&](const platform::Datagram& d) { strangerHeard.push_back(d.data); });
  ASSERT_TRUE(stranger->bind("192.168.1.66", 9000) && fromRobot->bind("192.168.1.50", 0));
  for (const Reply& reply : c.replies) {
    m_sim.simLoop().post(std::int64_t{reply.atMs} * 1000, [&, reply] {
      auto& socket = std::string(reply.from) == "192.168.1.50" ? fromRobot : stranger;
      socket->sendTo("192.168.1.10", RobotLink::kFirstLocalPort, reply.text);
    });
  }
  const bool found = *c.connectsTo != '\0';
  EXPECT_EQ(m_link.Start(), found);
  m_sim.advanceMs(10000);
  EXPECT_EQ(m_link.RobotAddress(), c.connectsTo);
  EXPECT_EQ(m_ui.messageBoxes,
            found ? std::vector<std::string>{} : std::vector<std::string>{"Spykee not found"});
  EXPECT_EQ(m_robot.clientPorts.size(), std::string(c.connectsTo) == "192.168.1.50" ? 1u : 0u);
  EXPECT_EQ(strangerHeard.size(), c.strangerAsked ? 1u : 0u);
  EXPECT_EQ(events(), c.events);
}

const std::string kAnswer("DSCV\x02spykee", 11);

INSTANTIATE_TEST_SUITE_P(
    Replies, Discovery,
    ::testing::Values(
        DiscoveryCase{"ForgedFirstAnswerIsTakenButShows",
                      "",
                      {{"192.168.1.66", "garbage-not-a-robot", 0},
                       {"192.168.1.50", kAnswer, 100},
                       {"192.168.1.50", kAnswer, 200},
                       {"192.168.1.66", kAnswer, 300}},
                      "192.168.1.66",
                      true,
                      {"Spykee found at 192.168.1.66",
                       "Warning: another Spykee answered from 192.168.1.50, still using "
                       "192.168.1.66"}},
        DiscoveryCase{"EmptyReplyIsNoRobot",
                      "",
                      {{"192.168.1.66", "", 0}, {"192.168.1.50", kAnswer, 100}},
                      "192.168.1.50",
                      true,
                      {"Spykee found at 192.168.1.50"}},
        DiscoveryCase{"RobotAddressHearsOnlyThatAddress",
                      " 192.168.001.50 ",
                      {{"192.168.1.66", kAnswer, 0}, {"192.168.1.50", kAnswer, 100}},
                      "192.168.1.50",
                      false,
                      {"Spykee found at 192.168.1.50"}},
        DiscoveryCase{"RobotAddressThatDoesNotAnswerIsNotFound",
                      "192.168.1.50",
                      {{"192.168.1.66", kAnswer, 0}},
                      "",
                      false,
                      {}},
        DiscoveryCase{"RobotAddressThatIsNoAddressAsksNobody",
                      "spykee.local",
                      {{"192.168.1.50", kAnswer, 0}},
                      "",
                      false,
                      {"RobotAddress \"spykee.local\" is not an IPv4 address"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(RobotLinkTest, StartConnectsAfterAOneSecondPauseAndTheConnectEventLogsIn) {
  m_sim.failNextBind(platform::SimProtocol::Tcp, 32868);                  // taken ports are skipped
  m_sim.failNoDelay(platform::SimNetwork::Failure{10042, "Bad option"});  // shown, not fatal
  m_robot.loginDockByte = 0;
  startAndRun();
  EXPECT_EQ(m_ui.messageBoxes,
            std::vector<std::string>{"Error setting TCP_NODELAY option: 10042 Bad option"});
  EXPECT_EQ(m_robot.clientPorts, std::vector<std::uint16_t>{32869});
  // The discovery reply arrives at once; the connect follows the one-second pause.
  EXPECT_NEAR(m_robot.packets[0].atMs, 1000.0, 5.0);
  ASSERT_EQ(types(), (std::vector<int>{10, 15, 18, 9}));
  EXPECT_EQ(test::toHex(m_robot.packets[0].payload), "05 61 64 6D 69 6E 05 6B 65 6C 70 6F");
  // The accepting reply ends the login wait at once and carries the dock state.
  EXPECT_LT(m_robot.packets[3].atMs - m_robot.packets[0].atMs, 50.0);
  EXPECT_TRUE(m_state.LoggedIn && m_state.RobotDocked);
  EXPECT_EQ(m_reports, (std::vector<std::string>{"LoginSequence", "Video", "Volume"}));
}

TEST_F(RobotLinkTest, UnansweredLoginWaits10sAndTheSequenceGoesOn) {
  m_sim.sockets.front()->dropLogins = 1;
  ASSERT_TRUE(m_link.Start());
  ASSERT_TRUE(packetsArrive(3));
  EXPECT_EQ(types(), (std::vector<int>{15, 18, 9}));
  EXPECT_NEAR(m_robot.packets[0].atMs, 11000.0, 10.0);  // connect after 1 s, then the wait
  EXPECT_FALSE(m_state.LoggedIn);
  EXPECT_TRUE(m_services.errors.empty());
  EXPECT_EQ(events(), (std::vector<std::string>{"Spykee found at 192.168.1.50",
                                                "Robot did not answer the login"}));
}

// A wrong password: said once on stderr, shown as its own status, and tried again 10 s later,
// then at twice the last wait up to 5 min. Nothing but logins goes to a robot that never took
// one; an accepted login runs the sequence and starts the back-off afresh.
TEST_F(RobotLinkTest, ARefusedLoginIsRetriedAtADoublingBackOffUntilAccepted) {
  std::vector<LinkStatus> statuses;
  m_link.addStatusListener([&](LinkStatus s) { statuses.push_back(s); });
  m_robot.refuseLogin = true;
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(m_link.Start());
  const auto logins = [&] { return m_robot.packetsOfType(10); };
  ASSERT_TRUE(m_sim.runUntil([&] { return logins().size() == 8; }, 3'600'000));
  m_robot.refuseLogin = false;
  ASSERT_TRUE(m_sim.runUntil([&] { return !m_robot.packetsOfType(9).empty(); }, 600'000));
  m_robot.refuseLogin = true;  // the password changed on the robot; a login now is refused
  m_dispatcher.QueueCommand("LoginSequence");
  ASSERT_TRUE(m_sim.runUntil([&] { return logins().size() == 11; }, 600'000));
  m_sim.advanceMs(1000);
  const std::string err = ::testing::internal::GetCapturedStderr();

  std::vector<double> gapsS;
  for (std::size_t i = 1; i < logins().size(); ++i) {
    gapsS.push_back(std::round((logins()[i].atMs - logins()[i - 1].atMs) / 1000.0));
  }
  EXPECT_EQ(gapsS, (std::vector<double>{10, 20, 40, 80, 160, 300, 300, 300, 0, 10}));
  // Once a login was accepted, the login wait ends at once (the robot knows us) and the
  // sequence goes on before a later refusal arrives.
  std::vector<int> expected(9, 10);
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), {15, 18, 9, 10});
  expected.pop_back();
  EXPECT_EQ(types(), expected);
  EXPECT_EQ(m_state.Status, LinkStatus::Refused);
  EXPECT_EQ(statuses, (std::vector<LinkStatus>{LinkStatus::Connecting, LinkStatus::Refused,
                                               LinkStatus::LoggedIn, LinkStatus::Refused}));
  const std::string line =
      "rovalink: login refused by the robot at 192.168.1.50: check username/password in "
      "Config/qbtRovalink.ini\n";
  // Once per change: refused, then refused again after the accepted login.
  std::size_t said = 0;
  for (auto at = err.find(line); at != std::string::npos; at = err.find(line, at + 1)) ++said;
  EXPECT_EQ(said, 2u) << err;
  const auto e = events();
  EXPECT_EQ(std::count(e.begin(), e.end(), "Robot refused the login"), 10);
}

// The robot hangs up: the link comes back by itself [SPYKEE] Reconnect seconds later (and the
// 1 s pause before every connect), or with 0 only when a command needs it. The discovery goes
// out again every 2 s while nobody answers; the first answer ends the search.
struct ReconnectCase {
  const char* name;
  const char* setting;    // the Reconnect line, or "" for none
  double reconnectedAtS;  // after the hang-up; 0: not within a minute
};

class Reconnect : public RobotLinkTest, public ::testing::WithParamInterface<ReconnectCase> {};

TEST_P(Reconnect, ALostRobotComesBackAfterReconnectSecondsUnlessItIsZero) {
  const ReconnectCase& c = GetParam();
  m_settings.setAppPath(m_folder.path().string());
  testing::writeFile(m_folder.file("Config/qbtRovalink.ini"),
                     std::string("[SPYKEE]\r\n") + c.setting + "\r\n");
  m_robot.answerDiscovery = false;
  m_sim.simLoop().post(5000 * 1000, [&] { m_robot.answerDiscovery = true; });
  std::vector<LinkStatus> statuses;
  m_link.addStatusListener([&](LinkStatus s) { statuses.push_back(s); });
  ::testing::internal::CaptureStderr();
  startAndRun();
  EXPECT_EQ(m_robot.discoveries.size(), 4u);  // 0, 2, 4 and 6 s
  m_sim.sockets.back()->close();
  const double lostAt = m_sim.nowMs();
  m_sim.runUntil([&] { return m_robot.packetsOfType(10).size() == 2; }, 60'000);
  m_sim.advanceMs(100);  // the robot's answer
  const std::string err = ::testing::internal::GetCapturedStderr();
  const auto logins = m_robot.packetsOfType(10);
  const bool back = c.reconnectedAtS > 0;
  ASSERT_EQ(logins.size(), back ? 2u : 1u);
  auto expected =
      std::vector<LinkStatus>{LinkStatus::Connecting, LinkStatus::LoggedIn, LinkStatus::Lost};
  if (back) {
    EXPECT_NEAR((logins[1].atMs - lostAt) / 1000.0, c.reconnectedAtS, 0.05);
    expected.insert(expected.end(), {LinkStatus::Connecting, LinkStatus::LoggedIn});
    EXPECT_NE(err.find("rovalink: reconnected to the robot at 192.168.1.50\n"), std::string::npos)
        << err;
  }
  EXPECT_EQ(statuses, expected);
  for (const char* line : {"searching for the robot (0 s)", "robot found at 192.168.1.50",
                           "connected to the robot at 192.168.1.50:9000",
                           "logged in to the robot at 192.168.1.50", "lost the robot at"}) {
    EXPECT_NE(err.find(std::string("rovalink: ") + line), std::string::npos) << line << "\n" << err;
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, Reconnect,
                         ::testing::Values(ReconnectCase{"DefaultTenSeconds", "", 11},
                                           ReconnectCase{"ThreeSeconds", "Reconnect=3", 4},
                                           ReconnectCase{"ZeroWaitsForACommand", "Reconnect=0", 0}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(RobotLinkTest, AfterTheRobotClosesTheNextCommandReconnectsAndLogsInAgain) {
  startAndRun();
  m_sim.sockets.back()->close();
  m_sim.advanceMs(10);

  // Queued together: the reconnect's connect event drops what waits behind the first one. The
  // new connection carries the login first, then the command that made it; no second login.
  const double queuedAt = m_sim.nowMs();
  for (const char* led : {"HeadLEDOn", "LeftLEDOn", "RightLEDOn"}) m_dispatcher.QueueCommand(led);
  ASSERT_TRUE(packetsArrive(9));
  m_sim.advanceMs(100);
  EXPECT_EQ(types(), (std::vector<int>{10, 15, 18, 9, 10, 15, 18, 9, 4}));
  EXPECT_NEAR(m_robot.packets[4].atMs - queuedAt, 1001.0, 5.0);
  EXPECT_EQ(test::toHex(m_robot.packets[8].payload), "00 01");
  // Already logged in: the second login wait ends at once.
  EXPECT_LT(m_robot.packets[8].atMs - m_robot.packets[4].atMs, 50.0);
  EXPECT_FALSE(m_devices.at("LeftLED").Status || m_devices.at("RightLED").Status);
  EXPECT_TRUE(m_dispatcher.queue().empty());
}

TEST_F(RobotLinkTest, ASendWhileConnectingIsDroppedWithoutWaiting) {
  m_sim.setLatency(std::chrono::milliseconds(200));
  double calledAt = -1, returnedAt = -1;
  // Reply at 0.4 s, pause until 1.4 s, connect under way until 1.6 s.
  m_sim.simLoop().post(1500 * 1000, [&] {
    EXPECT_EQ(m_link.ConnectionState(), SocketState::Connecting);
    calledAt = m_sim.nowMs();
    m_link.SendToRobot(*ledPacket(Led::Left, true));
    returnedAt = m_sim.nowMs();
  });
  startAndRun();
  EXPECT_EQ(returnedAt, calledAt);
  EXPECT_GT(calledAt, 0.0);
  EXPECT_EQ(types(), (std::vector<int>{10, 15, 18, 9}));
}

// Reassembly across reads is the telemetry test's; here: what becomes of a whole frame.
TEST_F(RobotLinkTest, AWantedFrameIsWrittenBesideTheFileThenRenamedAndShown) {
  std::vector<std::string> shown;
  m_link.setFrameViewer([&](const std::string& path) { shown.push_back(path); });
  startAndRun();
  const std::string file = m_folder.file("Video0.jpg");
  auto fileAfterSending = [&](const std::string& frame) {
    m_robot.sendFrame(frame);
    m_sim.advanceMs(50);
    return testing::readFile(file);
  };
  // A link planted in the frame file's place is replaced, never written through, and no
  // temporary file is left behind.
  testing::writeFile(m_folder.file("victim"), "keep");
  std::filesystem::create_symlink(m_folder.file("victim"), file);
  EXPECT_EQ(fileAfterSending("first"), "first");
  EXPECT_EQ(testing::readFile(m_folder.file("victim")), "keep");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder.path()), {}), 2);
  EXPECT_EQ(fileAfterSending("not wanted: counted, not written"), "first");
  m_state.FrameWanted = true;  // as the status refresh does
  EXPECT_EQ(fileAfterSending("third"), "third");
  EXPECT_EQ(m_window.FrameCount, 3);
  EXPECT_EQ(shown, std::vector<std::string>(2, file));
}

TEST_F(RobotLinkTest, DataArrivingWhileAFrameIsShownIsParsedByTheSameDrain) {
  startAndRun();
  int nestedBusy = 0;
  m_link.setFrameViewer([&](const std::string&) {
    m_robot.sendBattery(42);  // arrives during the pump after the picture
    nestedBusy += m_link.ReceiveBusy();
  });
  m_robot.sendFrame("picture");
  // Stops right after the drain that completed the frame: a later tick would be 5 ms on.
  ASSERT_TRUE(m_sim.runUntil([&] { return m_window.FrameCount == 1; }, 1000));
  EXPECT_EQ(m_state.BatteryLevel, 42);
  EXPECT_EQ(nestedBusy, 1);
  EXPECT_FALSE(m_link.ReceiveBusy());
}

// Reads merged and cut anywhere, as a real network delivers them: every packet still counts.
TEST_F(RobotLinkTest, TelemetryArrivesWholeHoweverTheNetworkJoinsAndCutsIt) {
  startAndRun();
  m_sim.setTcpMerge(true);
  m_sim.setTcpRandomSplits(11);
  std::string frame(3000, 'P');
  for (std::size_t i = 0; i < frame.size(); i += 2) frame[i] = 'K';
  for (int i = 0; i < 5; ++i) {
    m_robot.sendFrame(frame);
    m_robot.sendBattery(40 + i);
    m_robot.sendDockStatus(i == 4 ? 2 : 1);
    m_sim.advanceMs(i % 2 ? 0 : 10);
  }
  m_sim.advanceMs(50);
  EXPECT_EQ(m_window.FrameCount, 5);
  EXPECT_EQ(testing::readFile(m_folder.file("Video0.jpg")), frame);
  EXPECT_EQ(m_state.BatteryLevel, 44);
  EXPECT_TRUE(m_state.RobotDocked);
  EXPECT_EQ(m_link.parser().skippedBytes(), 0u);
}

// After Exit a robot left driving gets the stop, and then nothing: no reconnect, no login.
TEST_F(RobotLinkTest, ShutdownStopsADrivingRobotAndNothingConnectsOrSendsAfterIt) {
  startAndRun();
  m_dispatcher.QueueCommand("MoveForward");
  m_sim.advanceMs(10);
  m_link.Shutdown();
  m_link.SendToRobot(*ledPacket(Led::Head, true));
  m_dispatcher.QueueCommand("LoginSequence");
  m_sim.advanceMs(60000);
  EXPECT_EQ(types(), (std::vector<int>{10, 15, 18, 9, 5, 5}));
  EXPECT_EQ(test::toHex(m_robot.packets.back().payload), "00 00");
  EXPECT_EQ(m_robot.clientPorts.size(), 1u);
  EXPECT_EQ(m_robot.closes, 1);
}

TEST_F(RobotLinkTest, ShutdownEndsTheLoginWaitAndTheSequenceSendsNothingMore) {
  m_sim.sockets.front()->dropLogins = 1;
  ASSERT_TRUE(m_link.Start());
  const double start = m_sim.nowMs();
  double endedAt = -1;
  m_sim.simLoop().post(4000'000, [&] {
    m_link.Shutdown();
    m_dispatcher.Shutdown();
    endedAt = m_sim.nowMs();
  });
  m_sim.advanceMs(60000);
  EXPECT_NEAR(endedAt - start, 4000.0, 1.0);
  EXPECT_TRUE(m_robot.packets.empty()) << types().size();
  ASSERT_EQ(m_services.events.size(), 1u) << "a login time-out was reported after Exit";
  EXPECT_EQ(m_services.events[0].second.rfind("Spykee found at ", 0), 0u);
  EXPECT_FALSE(m_dispatcher.CommandBusy());
}

// SpykeeConnect on a logged-in link whose socket is held in a state, with what happens 500 ms
// into the wait: any event ends it successfully, and a close event (or ConnectedOff) leads to the
// usual connect, the 1 s pause, then the robot. Held closed, the connect cannot start and the
// connect wait runs out.
enum class During { Nothing, Close, ConnectedOff, Connect };
struct ResetCase {
  const char* name;
  SocketState held;
  During during;
  double waitMs;
};

class ResetWait : public RobotLinkTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetWait, ClosesTheSocketAndWaitsForACloseOrConnectEventAtMost30Seconds) {
  const ResetCase& c = GetParam();
  startAndRun();
  HeldSocket& socket = *m_sim.sockets.front();
  socket.held = c.held;
  const double start = m_sim.nowMs();
  m_sim.simLoop().post(500'000, [&] {
    if (c.during == During::Nothing) return;
    socket.held =
        c.during == During::Connect ? std::optional(SocketState::Connected) : std::nullopt;
    if (c.during == During::Close) socket.raiseClose();
    if (c.during == During::ConnectedOff) m_link.ConnectedOff();
    if (c.during == During::Connect) socket.raiseConnect();
  });
  EXPECT_EQ(m_link.SpykeeConnect(), c.during != During::Nothing);
  EXPECT_NEAR(m_sim.nowMs() - start, c.waitMs, 1.0);
  EXPECT_EQ(m_robot.closes, c.held == SocketState::Closed ? 0 : 1);  // the robot sees the close
  const bool reconnects = c.during == During::Close || c.during == During::ConnectedOff;
  EXPECT_EQ(m_robot.clientPorts.size(), reconnects ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    States, ResetWait,
    ::testing::Values(
        ResetCase{"ClosingWaitsFull30s", SocketState::Closing, During::Nothing, 30000},
        ResetCase{"ErrorWaitsFull30s", SocketState::Error, During::Nothing, 30000},
        ResetCase{"CloseEventConnects", SocketState::Error, During::Close, 1500},
        ResetCase{"ConnectedOffConnects", SocketState::Closing, During::ConnectedOff, 1500},
        ResetCase{"ConnectEventEndsTheWait", SocketState::Error, During::Connect, 500},
        ResetCase{"ClosedGivesUpAfterPauseAnd30s", SocketState::Closed, During::Nothing, 31000}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace rovalink::robot
