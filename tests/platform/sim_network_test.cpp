#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_tcp_socket.h"
#include "platform/socket_errors.h"

namespace rovalink::platform {
namespace {

using namespace std::chrono_literals;

struct Received {
  std::string data;
  std::string sender;
  std::uint16_t port = 0;
  bool operator==(const Received&) const = default;
};

std::unique_ptr<UdpSocket> recordingUdp(SimPlatform& platform, std::vector<Received>& into) {
  auto socket = platform.createUdpSocket();
  socket->onDatagram([&into](const Datagram& d) {
    into.push_back({d.data, d.senderAddress, d.senderPort});
  });
  return socket;
}

class SimUdpTest : public ::testing::Test {
 protected:
  SimPlatform m_platform;
};

TEST_F(SimUdpTest, DatagramArrivesAsALaterEventWithTheSender) {
  std::vector<Received> atRobot;
  auto robot = recordingUdp(m_platform, atRobot);
  ASSERT_TRUE(robot->bind("192.168.1.50", 9000));
  auto program = m_platform.createUdpSocket();
  ASSERT_TRUE(program->bind("", 32868));

  ASSERT_TRUE(program->sendTo("192.168.1.50", 9000, "DSCV\x01"));
  EXPECT_TRUE(atRobot.empty()) << "delivered inside sendTo";
  m_platform.advanceMs(0);
  EXPECT_EQ(atRobot, (std::vector<Received>{{"DSCV\x01", "192.168.1.10", 32868}}));
}

TEST_F(SimUdpTest, LimitedBroadcastReachesEverySocketOnThatPortOnly) {
  std::vector<Received> a, b, other;
  auto robotA = recordingUdp(m_platform, a);
  auto robotB = recordingUdp(m_platform, b);
  auto elsewhere = recordingUdp(m_platform, other);
  ASSERT_TRUE(robotA->bind("192.168.1.50", 9000));
  ASSERT_TRUE(robotB->bind("10.1.1.7", 9000));
  ASSERT_TRUE(elsewhere->bind("192.168.1.60", 9001));
  auto program = m_platform.createUdpSocket();
  program->bind("", 32868);

  program->sendTo("255.255.255.255", 9000, "DSCV");
  m_platform.advanceMs(1);
  EXPECT_EQ(a.size(), 1u);
  EXPECT_EQ(b.size(), 1u);
  EXPECT_TRUE(other.empty());
}

TEST_F(SimUdpTest, SubnetBroadcastReachesThatSubnetAndAnyAddressSockets) {
  std::vector<Received> inSubnet, outside, any;
  auto a = recordingUdp(m_platform, inSubnet);
  auto b = recordingUdp(m_platform, outside);
  a->bind("192.168.1.50", 3639);
  b->bind("10.0.0.5", 3639);
  auto sender = m_platform.createUdpSocket();
  sender->sendTo("192.168.1.255", 3639, "x");
  m_platform.advanceMs(1);
  EXPECT_EQ(inSubnet.size(), 1u);
  EXPECT_TRUE(outside.empty());

  a->close();
  b->close();
  auto c = recordingUdp(m_platform, any);
  ASSERT_TRUE(c->bind("0.0.0.0", 3639));
  sender->sendTo("192.168.1.255", 3639, "x");
  m_platform.advanceMs(1);
  EXPECT_EQ(any.size(), 1u);
}

TEST_F(SimUdpTest, AnyAddressSocketReceivesOnLoopbackAndHostAddressWithMatchingSender) {
  std::vector<Received> got;
  auto program = recordingUdp(m_platform, got);
  ASSERT_TRUE(program->bind("0.0.0.0", 32768));
  auto hubOnHost = m_platform.createUdpSocket();
  hubOnHost->bind("", 3639);
  hubOnHost->sendTo("127.0.0.1", 32768, "loop");
  hubOnHost->sendTo("192.168.1.10", 32768, "host");
  hubOnHost->sendTo("192.168.1.99", 32768, "not this host");
  m_platform.advanceMs(1);
  EXPECT_EQ(got,
            (std::vector<Received>{{"loop", "127.0.0.1", 3639}, {"host", "192.168.1.10", 3639}}));
}

TEST_F(SimUdpTest, ClosedSocketKeepsItsPortAndSendReopensOnIt) {
  std::vector<Received> got;
  auto robot = recordingUdp(m_platform, got);
  robot->bind("192.168.1.50", 9000);
  auto probe = m_platform.createUdpSocket();
  ASSERT_TRUE(probe->bind("", 32868));
  probe->close();
  EXPECT_FALSE(probe->isBound());
  EXPECT_EQ(probe->localPort(), 32868);

  // Released: another socket could take it now...
  auto other = m_platform.createUdpSocket();
  ASSERT_TRUE(other->bind("", 32868));
  other->close();
  // ...and the first send reopens the kept port.
  ASSERT_TRUE(probe->sendTo("255.255.255.255", 9000, "DSCV"));
  EXPECT_TRUE(probe->isBound());
  m_platform.advanceMs(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].port, 32868);
}

TEST_F(SimUdpTest, RepliesToTheSenderPortComeBack) {
  std::vector<Received> atProgram;
  auto robot = m_platform.createUdpSocket();
  robot->bind("192.168.1.50", 9000);
  robot->onDatagram([&](const Datagram& d) { robot->sendTo(d.senderAddress, d.senderPort, "R"); });
  auto program = recordingUdp(m_platform, atProgram);
  program->sendTo("255.255.255.255", 9000, "DSCV");  // unbound: binds a free port first
  EXPECT_NE(program->localPort(), 0);
  m_platform.advanceMs(1);
  EXPECT_EQ(atProgram, (std::vector<Received>{{"R", "192.168.1.50", 9000}}));
}

TEST_F(SimUdpTest, DeliveryHonoursTheLatency) {
  m_platform.setLatency(3ms);
  std::vector<Received> got;
  auto receiver = recordingUdp(m_platform, got);
  receiver->bind("127.0.0.1", 5000);
  auto sender = m_platform.createUdpSocket();
  sender->sendTo("127.0.0.1", 5000, "x");
  m_platform.advanceMs(2);
  EXPECT_TRUE(got.empty());
  m_platform.advanceMs(1);
  EXPECT_EQ(got.size(), 1u);
}

TEST_F(SimUdpTest, OversizedDatagramIsRefused) {
  auto sender = m_platform.createUdpSocket();
  std::string error;
  EXPECT_FALSE(sender->sendTo("127.0.0.1", 5000, std::string(70'000, 'x'), &error));
  EXPECT_EQ(error, "Message too long");
}

struct BindCase {
  const char* name;
  const char* first;
  const char* second;
  bool secondSucceeds;
};

class SimUdpBindTest : public ::testing::TestWithParam<BindCase> {};

TEST_P(SimUdpBindTest, OverlappingBindsOnOnePortConflict) {
  const BindCase& c = GetParam();
  SimPlatform platform;
  auto first = platform.createUdpSocket();
  auto second = platform.createUdpSocket();
  ASSERT_TRUE(first->bind(c.first, 32768));
  std::string error;
  EXPECT_EQ(second->bind(c.second, 32768, &error), c.secondSucceeds);
  EXPECT_EQ(error, c.secondSucceeds ? "" : "Address in use");
  EXPECT_EQ(second->isBound(), c.secondSucceeds);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, SimUdpBindTest,
    ::testing::Values(BindCase{"SameLoopback", "127.0.0.1", "127.0.0.1", false},
                      BindCase{"AnyThenLoopback", "", "127.0.0.1", false},
                      BindCase{"LoopbackThenAny", "127.0.0.1", "0.0.0.0", false},
                      BindCase{"LoopbackThenInterface", "127.0.0.1", "192.168.1.10", true},
                      BindCase{"TwoInterfaces", "192.168.1.10", "10.0.0.2", true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(SimUdpBind, InjectedFailureHitsOnlyTheNextBindOnThatPort) {
  SimPlatform platform;
  platform.failNextBind(SimProtocol::Udp, 32768);
  auto socket = platform.createUdpSocket();
  std::string error;
  EXPECT_FALSE(socket->bind("127.0.0.1", 32768, &error));
  EXPECT_EQ(error, "Address in use");
  EXPECT_TRUE(socket->bind("127.0.0.1", 32769));
  auto again = platform.createUdpSocket();
  EXPECT_TRUE(again->bind("127.0.0.1", 32768));
}

TEST(SimUdpBind, MalformedAddressIsRejected) {
  SimPlatform platform;
  auto socket = platform.createUdpSocket();
  std::string error;
  EXPECT_FALSE(socket->bind("192.168.1", 1000, &error));
  EXPECT_FALSE(socket->bind("300.1.1.1", 1000, &error));
  EXPECT_FALSE(socket->bind("robot", 1000, &error));
  EXPECT_EQ(error, "Address not available");
}

// Records the events of one TCP socket with the state seen when each was raised.
struct TcpRecorder {
  std::vector<std::string> events;
  std::string data;

  void attach(TcpSocket& socket) {
    socket.onConnect([this, &socket] { add("connect", socket); });
    socket.onClose([this, &socket] { add("close", socket); });
    socket.onSendComplete([this, &socket] { add("sendComplete", socket); });
    socket.onData([this](std::string_view bytes) { data += bytes; });
    socket.onError([this, &socket](int code, const std::string& text) {
      add("error " + std::to_string(code) + " " + text, socket);
    });
  }
  void add(const std::string& what, TcpSocket& socket) {
    events.push_back(what + " (" + std::to_string(static_cast<int>(socket.state())) + ")");
  }
};

class SimTcpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_listener = m_platform.createTcpListener();
    ASSERT_TRUE(m_listener->listen("192.168.1.50", 9000));
    m_listener->onConnectionRequest([this](int id) {
      if (m_acceptRequests) m_listener->accept(*m_server, id);
    });
    m_client = m_platform.createTcpSocket();
    m_server = m_platform.createTcpSocket();
    m_clientEvents.attach(*m_client);
    m_serverEvents.attach(*m_server);
  }

  void connectClient() {
    ASSERT_TRUE(m_client->connect("192.168.1.50", 9000));
    ASSERT_TRUE(
        m_platform.runUntil([&] { return m_client->state() == SocketState::Connected; }, 1000));
  }

  SimPlatform m_platform;
  std::unique_ptr<TcpListener> m_listener;
  std::unique_ptr<TcpSocket> m_client;
  std::unique_ptr<TcpSocket> m_server;
  TcpRecorder m_clientEvents;
  TcpRecorder m_serverEvents;
  bool m_acceptRequests = true;
};

TEST_F(SimTcpTest, ConnectGoesThroughConnectingToConnectedWithOneConnectEvent) {
  EXPECT_EQ(m_client->state(), SocketState::Closed);
  ASSERT_TRUE(m_client->connect("192.168.1.50", 9000));
  EXPECT_EQ(m_client->state(), SocketState::Connecting);
  EXPECT_TRUE(m_clientEvents.events.empty());
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.events, std::vector<std::string>{"connect (7)"});
  EXPECT_EQ(m_server->state(), SocketState::Connected);
  EXPECT_EQ(m_server->remoteAddress(), "192.168.1.10");
  EXPECT_EQ(m_server->remotePort(), m_client->localPort());
  EXPECT_EQ(m_client->remoteAddress(), "192.168.1.50");
  EXPECT_EQ(m_client->remotePort(), 9000);
}

TEST_F(SimTcpTest, ConnectWhereNobodyListensIsRefusedAndStaysInErrorUntilClosed) {
  ASSERT_TRUE(m_client->connect("192.168.1.50", 9001));
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.events, std::vector<std::string>{"error 10061 Connection refused (9)"});
  m_platform.advanceMs(60'000);
  EXPECT_EQ(m_client->state(), SocketState::Error);
  EXPECT_FALSE(m_client->connect("192.168.1.50", 9000)) << "connect allowed in state 9";
  m_client->close();
  EXPECT_EQ(m_client->state(), SocketState::Closed);
  EXPECT_TRUE(m_client->connect("192.168.1.50", 9000));
}

TEST_F(SimTcpTest, UnacceptedRequestIsRefused) {
  m_acceptRequests = false;
  m_client->connect("192.168.1.50", 9000);
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.events, std::vector<std::string>{"error 10061 Connection refused (9)"});
  EXPECT_EQ(m_server->state(), SocketState::Closed);
}

TEST_F(SimTcpTest, DataArrivesAfterTheSendAndEachSendCompletes) {
  connectClient();
  EXPECT_TRUE(m_client->send("PK\x0a"));
  EXPECT_TRUE(m_client->send("more"));
  EXPECT_TRUE(m_serverEvents.data.empty()) << "delivered inside send";
  EXPECT_TRUE(m_server->send("reply"));
  m_platform.advanceMs(0);
  EXPECT_EQ(m_serverEvents.data, "PK\x0amore");
  EXPECT_EQ(m_clientEvents.data, "reply");
  EXPECT_EQ(m_clientEvents.events,
            (std::vector<std::string>{"connect (7)", "sendComplete (7)", "sendComplete (7)"}));
  EXPECT_EQ(m_serverEvents.events, std::vector<std::string>{"sendComplete (7)"});
}

TEST_F(SimTcpTest, SendIsRefusedUnlessConnected) {
  EXPECT_FALSE(m_client->send("x"));
  m_client->connect("192.168.1.50", 9000);
  EXPECT_FALSE(m_client->send("x")) << "sent while connecting";
}

TEST_F(SimTcpTest, PeerCloseGivesTheCloseEventWithStateClosedAndNoError) {
  connectClient();
  m_server->send("last words");
  m_server->close();
  EXPECT_EQ(m_server->state(), SocketState::Closed);
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.data, "last words");
  EXPECT_EQ(m_clientEvents.events, (std::vector<std::string>{"connect (7)", "close (0)"}));
  EXPECT_EQ(m_client->state(), SocketState::Closed);
  EXPECT_TRUE(m_serverEvents.events.empty()) << "own close raised an event";
}

TEST_F(SimTcpTest, PeerResetGivesErrorStateNine) {
  connectClient();
  dynamic_cast<SimTcpSocket&>(*m_server).abort();
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.events,
            (std::vector<std::string>{"connect (7)", "error 10054 Connection reset by peer (9)"}));
}

TEST_F(SimTcpTest, DestroyingAConnectedSocketClosesTheConnection) {
  connectClient();
  m_server.reset();
  m_platform.advanceMs(0);
  EXPECT_EQ(m_client->state(), SocketState::Closed);
  EXPECT_EQ(m_clientEvents.events.back(), "close (0)");
}

TEST_F(SimTcpTest, ProbedLocalPortIsKeptAndUsedForTheConnect) {
  auto other = m_platform.createTcpSocket();
  ASSERT_TRUE(other->bind(32868));
  std::string error;
  EXPECT_FALSE(m_client->bind(32868, &error)) << "two sockets probed the same port";
  EXPECT_EQ(error, "Address in use");
  ASSERT_TRUE(m_client->bind(32869));
  EXPECT_EQ(m_client->state(), SocketState::Open);
  m_client->close();
  EXPECT_EQ(m_client->state(), SocketState::Closed);
  EXPECT_EQ(m_client->localPort(), 32869);
  connectClient();
  EXPECT_EQ(m_server->remotePort(), 32869);
  m_client->close();
  EXPECT_EQ(m_client->localPort(), 32869);
}

TEST_F(SimTcpTest, UdpAndTcpPortsAreSeparate) {
  auto udp = m_platform.createUdpSocket();
  ASSERT_TRUE(udp->bind("", 32868));
  EXPECT_TRUE(m_client->bind(32868));
}

TEST_F(SimTcpTest, SegmentSizeSplitsReceivedData) {
  m_platform.setTcpSegmentSize(3);
  std::vector<std::string> chunks;
  m_server->onData([&](std::string_view bytes) { chunks.emplace_back(bytes); });
  connectClient();
  m_client->send("abcdefgh");
  m_platform.advanceMs(0);
  EXPECT_EQ(chunks, (std::vector<std::string>{"abc", "def", "gh"}));
}

TEST_F(SimTcpTest, LatencyDelaysEveryHop) {
  m_platform.setLatency(2ms);
  m_client->connect("192.168.1.50", 9000);
  ASSERT_TRUE(
      m_platform.runUntil([&] { return m_client->state() == SocketState::Connected; }, 1000));
  EXPECT_EQ(m_platform.nowMs(), 4.0);  // there and back
  m_client->send("x");
  m_platform.runUntil([&] { return !m_serverEvents.data.empty(); }, 1000);
  EXPECT_EQ(m_platform.nowMs(), 6.0);
}

TEST_F(SimTcpTest, NoDelayFailureIsInjectable) {
  auto& sim = dynamic_cast<SimTcpSocket&>(*m_client);
  EXPECT_TRUE(m_client->setNoDelay(true));
  EXPECT_TRUE(sim.noDelay());
  m_platform.failNoDelay(SimNetwork::Failure{10042, "Bad protocol option"});
  int code = 0;
  std::string text;
  EXPECT_FALSE(m_client->setNoDelay(true, &code, &text));
  EXPECT_EQ(code, 10042);
  EXPECT_EQ(text, "Bad protocol option");
}

TEST_F(SimTcpTest, ListenerOnAnyAddressTakesConnectsToThisHost) {
  auto local = m_platform.createTcpListener();
  ASSERT_TRUE(local->listen("", 8029));
  auto accepted = m_platform.createTcpSocket();
  local->onConnectionRequest([&](int id) { EXPECT_TRUE(local->accept(*accepted, id)); });
  auto browser = m_platform.createTcpSocket();
  browser->connect("127.0.0.1", 8029);
  m_platform.advanceMs(0);
  EXPECT_EQ(browser->state(), SocketState::Connected);
  EXPECT_EQ(accepted->remoteAddress(), "127.0.0.1");

  std::string error;
  auto clash = m_platform.createTcpListener();
  EXPECT_FALSE(clash->listen("127.0.0.1", 8029, &error));
  EXPECT_EQ(error, "Address in use");
}

TEST_F(SimTcpTest, AcceptOnASocketInUseFails) {
  connectClient();
  auto second = m_platform.createTcpSocket();
  TcpRecorder secondEvents;
  secondEvents.attach(*second);
  // The server socket is busy; the handler's accept fails, so the request is refused.
  second->connect("192.168.1.50", 9000);
  m_platform.advanceMs(0);
  EXPECT_EQ(secondEvents.events, std::vector<std::string>{"error 10061 Connection refused (9)"});
  EXPECT_EQ(m_server->state(), SocketState::Connected);
}

}  // namespace
}  // namespace rovalink::platform

namespace rovalink::platform {
namespace {

TEST_F(SimTcpTest, SocketDestroyedInItsOwnHandlerIsSafe) {
  connectClient();
  bool afterReset = false;
  m_client->onData([&](std::string_view) {
    m_client.reset();
    afterReset = true;  // the handler's captures are still valid here
  });
  m_server->send("a");
  m_server->send("b");
  m_platform.advanceMs(0);
  EXPECT_TRUE(afterReset);
  EXPECT_EQ(m_client, nullptr);
  EXPECT_EQ(m_server->state(), SocketState::Closed) << "destroying did not close";
}

TEST_F(SimTcpTest, HostNameOtherThanLocalhostIsNotFound) {
  ASSERT_TRUE(m_client->connect("spykee.local", 9000));
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.events, std::vector<std::string>{"error 11001 Host not found (9)"});
}

}  // namespace
}  // namespace rovalink::platform
