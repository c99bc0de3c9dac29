#include <gtest/gtest.h>

#include <QCoreApplication>

#include <memory>
#include <string>
#include <vector>

#include "platform/qt/qt_platform.h"
#include "platform/socket_errors.h"
#include "platform/wait.h"

namespace rovalink::platform {
namespace {

// Generous: these run on loopback on a possibly loaded machine; they end as soon as the
// condition holds.
constexpr int kBoundMs = 10'000;

class QtSocketTest : public ::testing::Test {
 protected:
  bool waitFor(const std::function<bool()>& done) {
    return waitUntil(m_platform.loop(), kBoundMs, done);
  }

  int m_argc = 1;
  char m_name[16] = "qt_socket_test";
  char* m_argv[2] = {m_name, nullptr};
  QCoreApplication m_app{m_argc, m_argv};
  QtPlatform m_platform;
};

TEST_F(QtSocketTest, UdpRoundTripOnLoopbackCarriesTheSender) {
  auto a = m_platform.createUdpSocket();
  auto b = m_platform.createUdpSocket();
  ASSERT_TRUE(a->bind("127.0.0.1", 0));
  ASSERT_TRUE(b->bind("127.0.0.1", 0));
  ASSERT_NE(a->localPort(), 0);
  std::vector<Datagram> atA;
  std::vector<Datagram> atB;
  a->onDatagram([&](const Datagram& d) { atA.push_back(d); });
  b->onDatagram([&](const Datagram& d) {
    atB.push_back(d);
    b->sendTo(d.senderAddress, d.senderPort, "pong");
  });
  const std::string binary("p\0i\xffng", 6);
  ASSERT_TRUE(a->sendTo("127.0.0.1", b->localPort(), binary));
  ASSERT_TRUE(waitFor([&] { return !atA.empty(); }));
  ASSERT_EQ(atB.size(), 1u);
  EXPECT_EQ(atB[0].data, binary);
  EXPECT_EQ(atB[0].senderAddress, "127.0.0.1");
  EXPECT_EQ(atB[0].senderPort, a->localPort());
  EXPECT_EQ(atA[0].data, "pong");
  EXPECT_EQ(atA[0].senderPort, b->localPort());
}

TEST_F(QtSocketTest, UdpBindToAPortInUseFailsWithAReason) {
  auto first = m_platform.createUdpSocket();
  ASSERT_TRUE(first->bind("127.0.0.1", 0));
  const std::uint16_t port = first->localPort();
  for (const char* address : {"127.0.0.1", "0.0.0.0"}) {
    auto second = m_platform.createUdpSocket();
    std::string error;
    EXPECT_FALSE(second->bind(address, port, &error)) << address;
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(second->isBound());
  }
}

TEST_F(QtSocketTest, ClosedUdpSocketKeepsItsPortAndSendReopensOnIt) {
  auto receiver = m_platform.createUdpSocket();
  ASSERT_TRUE(receiver->bind("127.0.0.1", 0));
  std::vector<Datagram> got;
  receiver->onDatagram([&](const Datagram& d) { got.push_back(d); });
  auto probe = m_platform.createUdpSocket();
  ASSERT_TRUE(probe->bind("", 0));
  const std::uint16_t port = probe->localPort();
  probe->close();
  EXPECT_FALSE(probe->isBound());
  EXPECT_EQ(probe->localPort(), port);
  ASSERT_TRUE(probe->sendTo("127.0.0.1", receiver->localPort(), "again"));
  EXPECT_TRUE(probe->isBound());
  ASSERT_TRUE(waitFor([&] { return !got.empty(); }));
  EXPECT_EQ(got[0].senderPort, port);
}

struct Recorder {
  std::vector<std::string> events;
  std::string data;
  void attach(TcpSocket& socket) {
    socket.onConnect([this, &socket] { add("connect", socket); });
    socket.onClose([this, &socket] { add("close", socket); });
    socket.onSendComplete([this, &socket] { add("sendComplete", socket); });
    socket.onData([this](std::string_view bytes) { data += bytes; });
    socket.onError([this, &socket](int code, const std::string&) {
      add("error " + std::to_string(code), socket);
    });
  }
  void add(const std::string& what, TcpSocket& socket) {
    events.push_back(what + " (" + std::to_string(static_cast<int>(socket.state())) + ")");
  }
};

TEST_F(QtSocketTest, TcpConnectSendAndPeerCloseShowTheClassicStatesAndEvents) {
  auto listener = m_platform.createTcpListener();
  ASSERT_TRUE(listener->listen("127.0.0.1", 0));
  auto server = m_platform.createTcpSocket();
  Recorder serverEvents;
  serverEvents.attach(*server);
  listener->onConnectionRequest([&](int id) { EXPECT_TRUE(listener->accept(*server, id)); });

  auto client = m_platform.createTcpSocket();
  Recorder clientEvents;
  clientEvents.attach(*client);
  ASSERT_TRUE(client->setNoDelay(true));
  ASSERT_TRUE(client->connect("127.0.0.1", listener->localPort()));
  EXPECT_EQ(client->state(), SocketState::Connecting);
  EXPECT_TRUE(clientEvents.events.empty());
  ASSERT_TRUE(waitFor([&] { return client->state() == SocketState::Connected; }));
  ASSERT_TRUE(waitFor([&] { return server->state() == SocketState::Connected; }));
  EXPECT_EQ(server->remotePort(), client->localPort());
  EXPECT_EQ(server->remoteAddress(), "127.0.0.1");
  int code = 0;
  std::string text;
  EXPECT_TRUE(client->setNoDelay(true, &code, &text)) << code << " " << text;

  const std::string packet("PK\x0a\x00\x05hello", 10);
  ASSERT_TRUE(client->send(packet));
  EXPECT_EQ(clientEvents.events, std::vector<std::string>{"connect (7)"})
      << "an event was raised inside send()";
  ASSERT_TRUE(waitFor([&] { return serverEvents.data.size() == packet.size(); }));
  EXPECT_EQ(serverEvents.data, packet);
  ASSERT_TRUE(waitFor([&] { return clientEvents.events.size() == 2; }));

  server->close();
  EXPECT_EQ(server->state(), SocketState::Closed);
  ASSERT_TRUE(waitFor([&] { return client->state() == SocketState::Closed; }));
  EXPECT_EQ(clientEvents.events,
            (std::vector<std::string>{"connect (7)", "sendComplete (7)", "close (0)"}));
  EXPECT_TRUE(serverEvents.events.empty()) << "own close raised an event";
  EXPECT_FALSE(client->send("late"));
}

TEST_F(QtSocketTest, TcpConnectToAClosedPortIsRefusedAndStaysInErrorUntilClosed) {
  // A port that was free a moment ago and has nobody listening now.
  std::uint16_t port = 0;
  {
    auto probe = m_platform.createTcpListener();
    ASSERT_TRUE(probe->listen("127.0.0.1", 0));
    port = probe->localPort();
  }
  auto client = m_platform.createTcpSocket();
  Recorder events;
  events.attach(*client);
  ASSERT_TRUE(client->connect("127.0.0.1", port));
  ASSERT_TRUE(waitFor([&] { return !events.events.empty(); }));
  EXPECT_EQ(events.events,
            std::vector<std::string>{"error " + std::to_string(socket_error::kConnectionRefused) +
                                     " (9)"});
  pumpFor(m_platform.loop(), 20);
  EXPECT_EQ(client->state(), SocketState::Error);
  EXPECT_FALSE(client->connect("127.0.0.1", port));
  client->close();
  EXPECT_EQ(client->state(), SocketState::Closed);
}

TEST_F(QtSocketTest, ProbedTcpPortIsKeptForTheConnectAndTheReconnect) {
  auto listener = m_platform.createTcpListener();
  ASSERT_TRUE(listener->listen("127.0.0.1", 0));
  auto server = m_platform.createTcpSocket();
  listener->onConnectionRequest([&](int id) {
    server->close();
    listener->accept(*server, id);
  });

  auto client = m_platform.createTcpSocket();
  ASSERT_TRUE(client->bind(0));
  EXPECT_EQ(client->state(), SocketState::Open);
  const std::uint16_t port = client->localPort();
  ASSERT_NE(port, 0);
  auto rival = m_platform.createTcpSocket();
  EXPECT_FALSE(rival->bind(port)) << "a probe found a port in use free";
  client->close();
  EXPECT_EQ(client->state(), SocketState::Closed);
  EXPECT_EQ(client->localPort(), port);

  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(client->connect("127.0.0.1", listener->localPort())) << round;
    ASSERT_TRUE(waitFor([&] {
      return client->state() == SocketState::Connected && server->state() == SocketState::Connected;
    })) << round;
    EXPECT_EQ(server->remotePort(), port) << round;
    client->close();  // we close first: our side of the old connection lingers
    ASSERT_TRUE(waitFor([&] { return server->state() == SocketState::Closed; })) << round;
  }
}

TEST_F(QtSocketTest, UnacceptedConnectionIsClosed) {
  auto listener = m_platform.createTcpListener();
  ASSERT_TRUE(listener->listen("127.0.0.1", 0));
  int requests = 0;
  listener->onConnectionRequest([&](int) { ++requests; });
  auto client = m_platform.createTcpSocket();
  Recorder events;
  events.attach(*client);
  client->connect("127.0.0.1", listener->localPort());
  ASSERT_TRUE(waitFor([&] { return events.events.size() >= 2; }));
  EXPECT_EQ(requests, 1);
  EXPECT_EQ(events.events, (std::vector<std::string>{"connect (7)", "close (0)"}));
}

TEST_F(QtSocketTest, ListeningTwiceOnOnePortFails) {
  auto first = m_platform.createTcpListener();
  ASSERT_TRUE(first->listen("127.0.0.1", 0));
  auto second = m_platform.createTcpListener();
  std::string error;
  EXPECT_FALSE(second->listen("127.0.0.1", first->localPort(), &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace rovalink::platform

namespace rovalink::platform {
namespace {

TEST_F(QtSocketTest, BytesSentBeforeTheAcceptAreDelivered) {
  auto listener = m_platform.createTcpListener();
  ASSERT_TRUE(listener->listen("127.0.0.1", 0));
  auto server = m_platform.createTcpSocket();
  Recorder serverEvents;
  serverEvents.attach(*server);
  auto client = m_platform.createTcpSocket();
  client->onConnect([&] { client->send("GET /spykee HTTP/1.1\r\n\r\n"); });
  bool accepted = false;
  listener->onConnectionRequest([&](int id) {
    // Let the client's request reach the kernel before accepting.
    waitUntil(m_platform.loop(), 200, [] { return false; });
    accepted = listener->accept(*server, id);
  });
  ASSERT_TRUE(client->connect("localhost", listener->localPort()));
  ASSERT_TRUE(waitFor([&] { return serverEvents.data.size() == 24; }));
  EXPECT_TRUE(accepted);
  EXPECT_EQ(serverEvents.data, "GET /spykee HTTP/1.1\r\n\r\n");
}

TEST_F(QtSocketTest, SocketDestroyedInItsOwnHandlerIsSafe) {
  auto listener = m_platform.createTcpListener();
  ASSERT_TRUE(listener->listen("127.0.0.1", 0));
  auto server = m_platform.createTcpSocket();
  listener->onConnectionRequest([&](int id) { listener->accept(*server, id); });
  auto client = m_platform.createTcpSocket();
  bool closed = false;
  client->onClose([&] {
    client.reset();
    closed = true;  // the handler's captures are still valid here
  });
  client->connect("127.0.0.1", listener->localPort());
  ASSERT_TRUE(waitFor([&] { return server->state() == SocketState::Connected; }));
  server->close();
  ASSERT_TRUE(waitFor([&] { return closed; }));
  EXPECT_EQ(client, nullptr);

  auto receiver = m_platform.createUdpSocket();
  ASSERT_TRUE(receiver->bind("127.0.0.1", 0));
  int datagrams = 0;
  receiver->onDatagram([&](const Datagram&) {
    ++datagrams;
    receiver.reset();
  });
  auto sender = m_platform.createUdpSocket();
  const std::uint16_t port = receiver->localPort();
  sender->sendTo("127.0.0.1", port, "one");
  sender->sendTo("127.0.0.1", port, "two");
  ASSERT_TRUE(waitFor([&] { return datagrams > 0; }));
  pumpFor(m_platform.loop(), 20);
  EXPECT_EQ(datagrams, 1);
}

}  // namespace
}  // namespace rovalink::platform
