#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_tcp_socket.h"
#include "platform/test_util.h"

namespace rovalink::platform {
namespace {

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

  bool connectClient() {
    return m_client->connect("192.168.1.50", 9000) &&
           m_platform.runUntil([&] { return m_client->state() == SocketState::Connected; }, 1000);
  }

  SimPlatform m_platform;
  Strings m_got;
  std::unique_ptr<TcpListener> m_listener = m_platform.createTcpListener();
  std::unique_ptr<TcpSocket> m_client = m_platform.createTcpSocket();
  std::unique_ptr<TcpSocket> m_server = m_platform.createTcpSocket();
  TcpRecorder m_clientEvents, m_serverEvents;
};

TEST_F(SimNetworkTest, DatagramsArriveLaterWithTheirSenderAndBroadcastsStayInTheirSubnet) {
  auto robot = udp("robot", "192.168.1.50", 9000, "R");
  auto other = udp("other", "10.1.1.7", 9000);
  auto elsewhere = udp("elsewhere", "192.168.1.60", 9001);
  auto any = udp("any", "0.0.0.0", 3639);
  auto program = udp("program", "", 0);
  ASSERT_TRUE(program->sendTo("192.168.1.50", 9000, "DSCV\x01"));  // unbound: takes a free port
  EXPECT_TRUE(m_got.empty()) << "delivered inside sendTo";
  program->sendTo("255.255.255.255", 9000, "all");
  program->sendTo("192.168.1.255", 9000, "subnet");
  program->sendTo("192.168.1.255", 3639, "any");
  m_platform.advanceMs(1);
  const std::string from = " from 192.168.1.10:" + std::to_string(program->localPort()),
                    reply = "program<-R from 192.168.1.50:9000";
  EXPECT_EQ(m_got, (Strings{"robot<-DSCV\x01" + from, "robot<-all" + from, "other<-all" + from,
                            "robot<-subnet" + from, "any<-any" + from, reply, reply, reply}));
}

TEST(SimUdpBind, BindsThatClashOrCannotBeMetFailWithTheReason) {
  const char *inUse = "Address in use", *bad = "Address not available";
  // Bound before on the same port (nullptr: none), bound now, the error.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"127.0.0.1", "127.0.0.1", inUse}, {"", "127.0.0.1", inUse},
      {"127.0.0.1", "0.0.0.0", inUse},   {"127.0.0.1", "192.168.1.10", ""},
      {"192.168.1.10", "10.0.0.2", ""},  {nullptr, "192.168.1", bad},
      {nullptr, "300.1.1.1", bad},       {nullptr, "robot", bad}};
  for (const auto& [first, second, reason] : cases) {
    SCOPED_TRACE(std::string(first ? first : "-") + " then " + second);
    SimPlatform platform;
    auto a = platform.createUdpSocket(), b = platform.createUdpSocket();
    ASSERT_TRUE(!first || a->bind(first, 32768));
    std::string error;
    EXPECT_EQ(b->bind(second, 32768, &error), !*reason);
    EXPECT_EQ(error, reason);
    EXPECT_EQ(b->isBound(), !*reason);
  }
}

TEST_F(SimNetworkTest, TcpConnectDataAndPeerCloseGoThroughTheClassicStatesWithLaterEvents) {
  ASSERT_TRUE(m_client->connect("192.168.1.50", 9000));
  EXPECT_EQ(m_client->state(), SocketState::Connecting);
  EXPECT_FALSE(m_client->send("x")) << "sent while connecting";
  EXPECT_TRUE(m_clientEvents.events.empty());
  m_platform.advanceMs(0);
  EXPECT_EQ(m_server->state(), SocketState::Connected);
  EXPECT_EQ(m_server->remoteAddress(), "192.168.1.10");
  EXPECT_EQ(m_server->remotePort(), m_client->localPort());

  EXPECT_TRUE(m_client->send("PK\x0a"));
  EXPECT_TRUE(m_client->send("more"));
  EXPECT_TRUE(m_server->send("reply"));
  EXPECT_TRUE(m_serverEvents.chunks.empty()) << "delivered inside send";
  m_platform.advanceMs(0);
  m_platform.setTcpSegmentSize(3);
  m_client->send("abcdefgh");
  m_platform.advanceMs(0);
  m_server->send("last words");
  m_server->close();
  m_platform.advanceMs(0);
  EXPECT_EQ(m_serverEvents.chunks, (Strings{"PK\x0a", "more", "abc", "def", "gh"}));
  EXPECT_EQ(m_clientEvents.chunks, (Strings{"reply", "las", "t w", "ord", "s"}));
  EXPECT_EQ(m_clientEvents.events, (Strings{"connect (7)", "sendComplete (7)", "sendComplete (7)",
                                            "sendComplete (7)", "close (0)"}));
  EXPECT_EQ(m_serverEvents.events, Strings{"sendComplete (7)"}) << "own close raised an event";
}

// TCP is a byte stream: sends still in flight join into one read, and a read may be cut at any
// byte, reproducibly for a seed; the bytes and their order never change.
TEST_F(SimNetworkTest, DeliveryFaultsMergeSendsAndSplitReadsButKeepTheBytes) {
  ASSERT_TRUE(connectClient());
  m_platform.setTcpMerge(true);
  for (const char* part : {"PK", "\x03", "\x01", "d"}) m_client->send(part);
  m_platform.advanceMs(0);
  m_client->send("next");
  m_platform.advanceMs(0);
  EXPECT_EQ(m_serverEvents.chunks, (Strings{"PK\x03\x01"
                                            "d",
                                            "next"}));

  const auto splitReads = [&](std::uint32_t seed) {
    m_platform.setTcpRandomSplits(seed);
    m_serverEvents.chunks.clear();
    for (int i = 0; i < 20; ++i) m_client->send("0123456789");
    m_platform.advanceMs(0);
    return m_serverEvents.chunks;
  };
  const Strings reads = splitReads(7);
  std::string joined;
  for (const std::string& read : reads) joined += read;
  std::string sent;
  for (int i = 0; i < 20; ++i) sent += "0123456789";
  EXPECT_EQ(joined, sent);
  EXPECT_GT(reads.size(), 1u) << "nothing was cut";
  EXPECT_EQ(splitReads(7), reads) << "the same seed cut differently";
  EXPECT_NE(splitReads(8), reads);
}

TEST_F(SimNetworkTest, FailedConnectsAndResetsRaiseOneErrorInStateNineAndTheProbedPortIsKept) {
  auto rival = m_platform.createTcpSocket();
  ASSERT_TRUE(rival->bind(32868));
  std::string error;
  EXPECT_FALSE(m_client->bind(32868, &error)) << "two sockets probed the same port";
  EXPECT_EQ(error, "Address in use");
  auto udpOnThatPort = udp("udp", "", 32869);  // UDP and TCP ports are separate
  ASSERT_TRUE(m_client->bind(32869));
  EXPECT_EQ(m_client->state(), SocketState::Open);
  m_client->close();
  ASSERT_TRUE(connectClient());  // the server socket is busy from now on
  for (const auto& [host, port, event] :
       {std::tuple{"192.168.1.50", 9001, "error 10061 Connection refused (9)"},
        {"192.168.1.50", 9000, "error 10061 Connection refused (9)"},
        {"spykee.local", 9000, "error 11001 Host not found (9)"}}) {
    auto socket = m_platform.createTcpSocket();
    TcpRecorder events;
    events.attach(*socket);
    ASSERT_TRUE(socket->connect(host, static_cast<std::uint16_t>(port)));
    m_platform.advanceMs(60'000);
    EXPECT_EQ(events.events, Strings{event}) << host << ":" << port;
    EXPECT_FALSE(socket->connect("192.168.1.50", 9000)) << "connect allowed in state 9";
    socket->close();
    EXPECT_EQ(socket->state(), SocketState::Closed);
  }
  dynamic_cast<SimTcpSocket&>(*m_server).abort();
  m_platform.advanceMs(0);
  EXPECT_EQ(m_clientEvents.events,
            (Strings{"connect (7)", "error 10054 Connection reset by peer (9)"}));
  m_client->close();
  ASSERT_TRUE(connectClient());
  EXPECT_EQ(m_client->localPort(), 32869);
  EXPECT_EQ(m_server->remotePort(), 32869);
}

}  // namespace
}  // namespace rovalink::platform
