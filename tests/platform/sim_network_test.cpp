#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_tcp_socket.h"
#include "platform/tcp_recorder.h"

namespace rovalink::platform {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

// A robot listening on 192.168.1.50:9000 (TCP), a client socket and the server socket that
// accepts it; the host itself is 192.168.1.10.
class SimNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_listener->listen("192.168.1.50", 9000));
    m_listener->onConnectionRequest([this](int id) { m_listener->accept(*m_server, id); });
    m_clientEvents.attach(*m_client);
    m_serverEvents.attach(*m_server);
  }

  // A UDP socket (bound unless port is 0) that records its datagrams as "name<-data from
  // address:port" and answers each with reply, if given.
  std::unique_ptr<UdpSocket> udp(const std::string& name, const std::string& address,
                                 std::uint16_t port, const std::string& reply = "") {
    auto socket = m_platform.createUdpSocket();
    EXPECT_TRUE(port == 0 || socket->bind(address, port)) << name;
    socket->onDatagram([this, name, reply, s = socket.get()](const Datagram& d) {
      m_got.push_back(name + "<-" + d.data + " from " + d.senderAddress + ":" +
                      std::to_string(d.senderPort));
      if (!reply.empty()) s->sendTo(d.senderAddress, d.senderPort, reply);
    });
    return socket;
  }

  void connectClient() {
    ASSERT_TRUE(m_client->connect("192.168.1.50", 9000));
    ASSERT_TRUE(
        m_platform.runUntil([&] { return m_client->state() == SocketState::Connected; }, 1000));
  }

  SimPlatform m_platform;
  Strings m_got;
  std::unique_ptr<TcpListener> m_listener = m_platform.createTcpListener();
  std::unique_ptr<TcpSocket> m_client = m_platform.createTcpSocket();
  std::unique_ptr<TcpSocket> m_server = m_platform.createTcpSocket();
  TcpRecorder m_clientEvents;
  TcpRecorder m_serverEvents;
};

TEST_F(SimNetworkTest, DatagramsArriveAsLaterEventsWithTheSenderAddressAndPort) {
  auto robot = udp("robot", "192.168.1.50", 9000, "R");
  auto program = udp("program", "", 0);
  ASSERT_TRUE(program->sendTo("192.168.1.50", 9000, "DSCV\x01"));  // unbound: takes a free port
  const std::string port = std::to_string(program->localPort());
  EXPECT_NE(port, "0");
  EXPECT_TRUE(m_got.empty()) << "delivered inside sendTo";
  m_platform.advanceMs(0);
  EXPECT_EQ(m_got, (Strings{"robot<-DSCV\x01 from 192.168.1.10:" + port,
                            "program<-R from 192.168.1.50:9000"}));

  std::string error;
  EXPECT_FALSE(program->sendTo("192.168.1.50", 9000, std::string(70'000, 'x'), &error));
  EXPECT_EQ(error, "Message too long");
}

TEST_F(SimNetworkTest, BroadcastsReachEverySocketOnThatPortWithinTheirSubnet) {
  auto a = udp("a", "192.168.1.50", 9000);
  auto b = udp("b", "10.1.1.7", 9000);
  auto c = udp("c", "192.168.1.60", 9001);
  auto d = udp("d", "0.0.0.0", 3639);
  auto program = udp("program", "", 32868);
  program->sendTo("255.255.255.255", 9000, "all");
  program->sendTo("192.168.1.255", 9000, "subnet");
  program->sendTo("192.168.1.255", 3639, "any");
  m_platform.advanceMs(1);
  EXPECT_EQ(m_got,
            (Strings{"a<-all from 192.168.1.10:32868", "b<-all from 192.168.1.10:32868",
                     "a<-subnet from 192.168.1.10:32868", "d<-any from 192.168.1.10:32868"}));
}

TEST(SimUdpBind, BindsThatClashOrCannotBeMetFailWithTheReason) {
  struct Case {
    const char* first;  // bound before, on the same port; nullptr: none
    const char* second;
    std::string error;
  };
  const std::string inUse = "Address in use", bad = "Address not available";
  for (const Case& c : {Case{"127.0.0.1", "127.0.0.1", inUse}, Case{"", "127.0.0.1", inUse},
                        Case{"127.0.0.1", "0.0.0.0", inUse}, Case{"127.0.0.1", "192.168.1.10", ""},
                        Case{"192.168.1.10", "10.0.0.2", ""}, Case{nullptr, "192.168.1", bad},
                        Case{nullptr, "300.1.1.1", bad}, Case{nullptr, "robot", bad}}) {
    SCOPED_TRACE(std::string(c.first ? c.first : "-") + " then " + c.second);
    SimPlatform platform;
    auto first = platform.createUdpSocket();
    auto second = platform.createUdpSocket();
    ASSERT_TRUE(!c.first || first->bind(c.first, 32768));
    std::string error;
    EXPECT_EQ(second->bind(c.second, 32768, &error), c.error.empty());
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(second->isBound(), c.error.empty());
  }
}

TEST_F(SimNetworkTest, LatencyDelaysEveryHop) {
  m_platform.setLatency(3ms);
  connectClient();
  EXPECT_EQ(m_platform.nowMs(), 6.0);  // there and back
  m_client->send("x");
  m_platform.runUntil([&] { return !m_serverEvents.chunks.empty(); }, 1000);
  EXPECT_EQ(m_platform.nowMs(), 9.0);
}

TEST_F(SimNetworkTest, TcpConnectAndDataGoThroughTheClassicStatesWithLaterEvents) {
  EXPECT_FALSE(m_client->send("x"));
  ASSERT_TRUE(m_client->connect("192.168.1.50", 9000));
  EXPECT_EQ(m_client->state(), SocketState::Connecting);
  EXPECT_FALSE(m_client->send("x")) << "sent while connecting";
  EXPECT_TRUE(m_clientEvents.events.empty());
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.events, Strings{"connect (7)"});
  EXPECT_EQ(m_server->state(), SocketState::Connected);
  EXPECT_EQ(m_server->remoteAddress(), "192.168.1.10");
  EXPECT_EQ(m_server->remotePort(), m_client->localPort());

  EXPECT_TRUE(m_client->send("PK\x0a"));
  EXPECT_TRUE(m_client->send("more"));
  EXPECT_TRUE(m_server->send("reply"));
  EXPECT_TRUE(m_serverEvents.chunks.empty()) << "delivered inside send";
  m_platform.advanceMs(0);
  EXPECT_EQ(m_serverEvents.chunks, (Strings{"PK\x0a", "more"}));
  EXPECT_EQ(m_clientEvents.chunks, Strings{"reply"});
  EXPECT_EQ(m_clientEvents.events,
            (Strings{"connect (7)", "sendComplete (7)", "sendComplete (7)"}));
  EXPECT_EQ(m_serverEvents.events, Strings{"sendComplete (7)"});

  m_platform.setTcpSegmentSize(3);
  m_client->send("abcdefgh");
  m_platform.advanceMs(0);
  EXPECT_EQ(m_serverEvents.chunks, (Strings{"PK\x0a", "more", "abc", "def", "gh"}));
}

TEST_F(SimNetworkTest, FailedConnectsRaiseOneErrorInStateNineThatLastsUntilClosed) {
  connectClient();  // the server socket is busy from now on
  struct Attempt {
    const char* host;
    std::uint16_t port;
    const char* event;
  };
  for (const Attempt& a : {Attempt{"192.168.1.50", 9001, "error 10061 Connection refused (9)"},
                           Attempt{"192.168.1.50", 9000, "error 10061 Connection refused (9)"},
                           Attempt{"spykee.local", 9000, "error 11001 Host not found (9)"}}) {
    auto socket = m_platform.createTcpSocket();
    TcpRecorder events;
    events.attach(*socket);
    ASSERT_TRUE(socket->connect(a.host, a.port));
    m_platform.advanceMs(60'000);
    EXPECT_EQ(events.events, Strings{a.event}) << a.host << ":" << a.port;
    EXPECT_EQ(socket->state(), SocketState::Error);
    EXPECT_FALSE(socket->connect("192.168.1.50", 9000)) << "connect allowed in state 9";
    socket->close();
    EXPECT_EQ(socket->state(), SocketState::Closed);
  }
  EXPECT_EQ(m_server->state(), SocketState::Connected);
}

TEST_F(SimNetworkTest, PeerCloseIsACloseEventInStateZeroAndPeerResetAnErrorInStateNine) {
  connectClient();
  m_server->send("last words");
  m_server->close();
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.chunks, Strings{"last words"});
  EXPECT_EQ(m_clientEvents.events, (Strings{"connect (7)", "close (0)"}));
  EXPECT_EQ(m_client->state(), SocketState::Closed);
  EXPECT_TRUE(m_serverEvents.events.empty()) << "own close raised an event";

  m_clientEvents.events.clear();
  connectClient();
  dynamic_cast<SimTcpSocket&>(*m_server).abort();
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.events,
            (Strings{"connect (7)", "error 10054 Connection reset by peer (9)"}));
}

TEST_F(SimNetworkTest, ProbedLocalPortIsKeptAndUsedForEveryConnect) {
  auto rival = m_platform.createTcpSocket();
  ASSERT_TRUE(rival->bind(32868));
  std::string error;
  EXPECT_FALSE(m_client->bind(32868, &error)) << "two sockets probed the same port";
  EXPECT_EQ(error, "Address in use");
  auto udpOnThatPort = udp("udp", "", 32869);  // UDP and TCP ports are separate
  ASSERT_TRUE(m_client->bind(32869));
  EXPECT_EQ(m_client->state(), SocketState::Open);
  m_client->close();
  EXPECT_EQ(m_client->state(), SocketState::Closed);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(m_client->localPort(), 32869);
    connectClient();
    EXPECT_EQ(m_server->remotePort(), 32869);
    m_client->close();
    m_platform.advanceMs(0);
  }
}

}  // namespace
}  // namespace rovalink::platform
