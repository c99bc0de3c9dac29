#include <gtest/gtest.h>

#include "platform/sim/sim_platform.h"
#include "robot/fakes.h"
#include "robot/robot_link.h"
#include "support/fake_ui_port.h"

namespace rovalink::robot {
namespace {

using platform::SocketState;

// A control socket whose state the test sets, to reach the closing and error states that a
// real socket passes through only briefly.
class ScriptedTcpSocket : public platform::TcpSocket {
 public:
  SocketState state() const override { return m_state; }
  bool bind(std::uint16_t, std::string* = nullptr) override { return true; }
  void setLocalPort(std::uint16_t port) override { m_localPort = port; }
  std::uint16_t localPort() const override { return m_localPort; }
  bool connect(const std::string& host, std::uint16_t port, std::string* = nullptr) override {
    connects.push_back(host + ":" + std::to_string(port));
    if (m_state != SocketState::Closed && m_state != SocketState::Open) return false;
    m_state = SocketState::Connecting;
    return true;
  }
  bool setNoDelay(bool, int*, std::string*) override { return true; }
  bool send(std::string_view data) override {
    if (m_state != SocketState::Connected) return false;
    sent.emplace_back(data);
    return true;
  }
  void close() override {
    ++closes;
    m_state = SocketState::Closed;
  }
  std::string remoteAddress() const override { return {}; }
  std::uint16_t remotePort() const override { return 0; }

  void setState(SocketState state) { m_state = state; }
  void connected() {
    m_state = SocketState::Connected;
    emitConnect();
  }
  void peerClosed() {
    m_state = SocketState::Closed;
    emitClose();
  }

  std::vector<std::string> connects;
  std::vector<std::string> sent;
  int closes = 0;

 private:
  SocketState m_state = SocketState::Closed;
  std::uint16_t m_localPort = 0;
};

// The simulated platform, except that the control socket is scripted.
class ScriptedPlatform : public platform::Platform {
 public:
  platform::EventLoop& loop() override { return sim.loop(); }
  platform::Clock& clock() override { return sim.clock(); }
  platform::HostInfo& host() override { return sim.host(); }
  platform::Process& process() override { return sim.process(); }
  std::unique_ptr<platform::UdpSocket> createUdpSocket() override { return sim.createUdpSocket(); }
  std::unique_ptr<platform::TcpSocket> createTcpSocket() override {
    auto socket = std::make_unique<ScriptedTcpSocket>();
    control = socket.get();
    return socket;
  }
  std::unique_ptr<platform::TcpListener> createTcpListener() override {
    return sim.createTcpListener();
  }

  platform::SimPlatform sim;
  ScriptedTcpSocket* control = nullptr;
};

class ResetWait : public ::testing::Test {
 protected:
  ResetWait()
      : m_settings(m_services),
        m_dispatcher(m_platform.loop(), m_platform.clock()),
        m_link({m_platform,
                m_settings,
                m_services,
                m_ui,
                m_dispatcher,
                m_devices,
                {},
                m_credentials,
                m_window,
                m_state,
                "unused"}),
        m_socket(*m_platform.control) {}

  void at(int ms, std::function<void()> action) {
    m_platform.sim.simLoop().post(std::int64_t{ms} * 1000, std::move(action));
  }
  double nowMs() const { return m_platform.sim.nowMs(); }

  ScriptedPlatform m_platform;
  test::RecordingServices m_services;
  settings::hs m_settings;
  rovalink::test::FakeUiPort m_ui;
  commands::CommandDispatcher m_dispatcher;
  devices::Devices m_devices = devices::BuildDeviceTable();
  devices::RobotCredentials m_credentials{"admin", "kelpo"};
  app::MainWindowModel m_window;
  RobotState m_state;
  RobotLink m_link;
  ScriptedTcpSocket& m_socket;
};

class ResetWaitFromState : public ResetWait, public ::testing::WithParamInterface<SocketState> {};

TEST_P(ResetWaitFromState, ClosesTheSocketAndWaitsTheFull30SecondsWithoutACloseEvent) {
  m_socket.setState(GetParam());
  EXPECT_FALSE(m_link.SpykeeConnect());
  EXPECT_EQ(m_socket.closes, 1);
  EXPECT_TRUE(m_socket.connects.empty());
  EXPECT_NEAR(nowMs(), 30000.0, 1.0);
  EXPECT_FALSE(m_link.RobotClosed());

  // Now closed: the next attempt connects after the pause.
  at(1500, [this] { m_socket.connected(); });
  EXPECT_TRUE(m_link.SpykeeConnect());
  EXPECT_EQ(m_socket.connects.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(States, ResetWaitFromState,
                         ::testing::Values(SocketState::Closing, SocketState::Error));

TEST_F(ResetWait, ACloseEventDuringTheWaitConnectsAfterTheUsualPause) {
  m_socket.setState(SocketState::Error);
  at(2000, [this] { m_socket.peerClosed(); });
  at(3100, [this] { m_socket.connected(); });
  EXPECT_TRUE(m_link.SpykeeConnect());
  EXPECT_NEAR(nowMs(), 3100.0, 1.0);
  ASSERT_EQ(m_socket.connects.size(), 1u);
  EXPECT_TRUE(m_link.RobotClosed());
}

TEST_F(ResetWait, ConnectedOffDuringTheWaitActsLikeTheCloseEvent) {
  m_socket.setState(SocketState::Closing);
  at(500, [this] { m_link.ConnectedOff(); });
  at(1600, [this] { m_socket.connected(); });
  EXPECT_TRUE(m_link.SpykeeConnect());
  EXPECT_NEAR(nowMs(), 1600.0, 1.0);
}

TEST_F(ResetWait, AConnectEventEndsTheWaitAtOnce) {
  m_socket.setState(SocketState::Error);
  at(700, [this] { m_socket.connected(); });
  EXPECT_TRUE(m_link.SpykeeConnect());
  EXPECT_NEAR(nowMs(), 700.0, 1.0);
  EXPECT_TRUE(m_socket.connects.empty());
}

TEST_F(ResetWait, ConnectedStatesNeedNoWait) {
  for (SocketState state : {SocketState::Open, SocketState::Connecting, SocketState::Connected}) {
    m_socket.setState(state);
    EXPECT_EQ(m_link.SpykeeConnect(), state == SocketState::Connected);
  }
  EXPECT_EQ(nowMs(), 0.0);
  EXPECT_EQ(m_socket.closes, 0);
}

TEST_F(ResetWait, ConnectWaitGivesUpAfterThePauseAnd30Seconds) {
  EXPECT_FALSE(m_link.SpykeeConnect());
  EXPECT_NEAR(nowMs(), 31000.0, 1.0);
  EXPECT_EQ(m_socket.connects.size(), 1u);
}

}  // namespace
}  // namespace rovalink::robot
