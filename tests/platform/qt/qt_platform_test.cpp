#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/qt_platform.h"
#include "platform/socket_errors.h"
#include "platform/tcp_recorder.h"
#include "platform/wait.h"

namespace rovalink::platform {
namespace {

using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

// Real time and loopback on a possibly loaded machine: every wait has a generous bound and ends
// as soon as its condition holds, and orders are chosen so that only a tick more than a period
// late could change them.
class QtPlatformTest : public ::testing::Test {
 protected:
  std::unique_ptr<Timer> timer(int intervalMs, std::function<void()> onTick) {
    auto t = m_loop.createTimer();
    t->setInterval(intervalMs);
    t->onTick(std::move(onTick));
    t->setEnabled(true);
    return t;
  }
  bool waitFor(const std::function<bool()>& done) { return waitUntil(m_loop, 10'000, done); }
  // A listener on a free loopback port that accepts every request into m_server.
  void listen() {
    ASSERT_TRUE(m_listener->listen("127.0.0.1", 0));
    m_listener->onConnectionRequest([this](int id) {
      m_server->close();
      m_listener->accept(*m_server, id);
    });
    m_serverEvents.attach(*m_server);
  }
  bool connectToListener(TcpSocket& client) {
    return client.connect("127.0.0.1", m_listener->localPort()) && waitFor([&] {
             return client.state() == SocketState::Connected &&
                    m_server->state() == SocketState::Connected;
           });
  }

  int m_argc = 1;
  char m_name[16] = "qt_platform";
  char* m_argv[2] = {m_name, nullptr};
  QCoreApplication m_app{m_argc, m_argv};
  QtPlatform m_platform;
  EventLoop& m_loop = m_platform.loop();
  Strings m_events;
  std::unique_ptr<TcpListener> m_listener = m_platform.createTcpListener();
  std::unique_ptr<TcpSocket> m_server = m_platform.createTcpSocket();
  TcpRecorder m_serverEvents;
};

TEST_F(QtPlatformTest, TimersTickInDeadlineOrderAndIntervalZeroNeverTicks) {
  auto zero = timer(0, [&] { m_events.emplace_back("zero"); });
  auto slow = timer(150, [&] { m_events.emplace_back("slow"); });
  auto fast = timer(60, [&] { m_events.emplace_back("fast"); });
  std::unique_ptr<Timer> once;
  once = timer(5, [&] {
    m_events.emplace_back("once");
    once->setEnabled(false);
  });
  waitFor([&] { return m_events.size() >= 4; });
  EXPECT_EQ(m_events, (Strings{"once", "fast", "fast", "slow"}));
}

TEST_F(QtPlatformTest, HandlerWaitsReentrantlyWhileAnotherTimerTicks) {
  auto inner = timer(5, [&] { m_events.emplace_back("inner"); });
  inner->setEnabled(false);
  std::unique_ptr<Timer> outer;
  outer = timer(10, [&] {
    outer->setEnabled(false);
    m_events.emplace_back("outer-begin");
    inner->setEnabled(true);
    const bool reached = waitUntil(m_loop, 5000, [&] { return m_events.size() >= 4; });
    inner->setEnabled(false);
    m_events.emplace_back(reached ? "outer-end" : "outer-timeout");
  });
  waitFor([&] { return m_events.size() >= 5; });
  EXPECT_EQ(m_events, (Strings{"outer-begin", "inner", "inner", "inner", "outer-end"}));
}

TEST_F(QtPlatformTest, WaitsEndAtTheirBoundOrAtOnceWhenNothingIsScheduled) {
  auto started = Clock::now();
  EXPECT_FALSE(m_loop.waitForEvent());
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(2000));

  auto far = timer(60'000, [] {});
  started = Clock::now();
  EXPECT_TRUE(m_loop.waitForEvent(30));
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(30));
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(2000));

  auto quit = timer(5, [&] { m_loop.quit(3); });
  EXPECT_EQ(m_loop.run(), 3);
}

// Lateness of the short waits the dispatcher's pacing uses (about 0.1 ms when idle). On a
// loaded machine what holds is that no wait ends early and none is wildly late.
TEST_F(QtPlatformTest, ShortTimerWaitsNeverEndEarly) {
  double earliest = 1e9, latest = -1e9;
  auto t = m_loop.createTimer();
  t->onTick([&] { t->setEnabled(false); });
  for (const int delay : {1, 2, 3, 5, 7, 10, 1, 2, 3, 5, 7, 10, 4, 4, 6, 6, 8, 8, 9, 9}) {
    t->setInterval(delay);
    const auto started = Clock::now();
    t->setEnabled(true);
    while (t->enabled()) m_loop.waitForEvent();
    const double late =
        std::chrono::duration<double, std::milli>(Clock::now() - started).count() - delay;
    earliest = std::min(earliest, late);
    latest = std::max(latest, late);
  }
  std::printf("timer lateness: min %.3f ms, max %.3f ms\n", earliest, latest);
  EXPECT_GE(earliest, 0.0) << "a timer fired early";
  EXPECT_LT(latest, 500.0);
}

TEST_F(QtPlatformTest, ClockTellsTheLocalTimeOfDay) {
  const double tod = m_platform.clock().timeOfDay();
  const LocalDateTime now = m_platform.clock().localNow();
  EXPECT_NEAR(tod, now.hour * 3600.0 + now.minute * 60 + now.second, 2.0);
  EXPECT_GE(now.year, 2024);
}

TEST_F(QtPlatformTest, UdpRoundTripCarriesTheSenderAndAClosedSocketResendsFromItsPort) {
  auto a = m_platform.createUdpSocket();
  auto b = m_platform.createUdpSocket();
  ASSERT_TRUE(a->bind("127.0.0.1", 0));
  ASSERT_TRUE(b->bind("127.0.0.1", 0));
  const std::string aPort = std::to_string(a->localPort()), bPort = std::to_string(b->localPort());
  a->onDatagram([&](const Datagram& d) {
    m_events.push_back("a<-" + d.data + ":" + std::to_string(d.senderPort));
  });
  b->onDatagram([&](const Datagram& d) {
    m_events.push_back("b<-" + d.data + " from " + d.senderAddress + ":" +
                       std::to_string(d.senderPort));
    b->sendTo(d.senderAddress, d.senderPort, "pong");
  });
  const std::string binary("p\0i\xffng", 6);
  ASSERT_TRUE(a->sendTo("127.0.0.1", b->localPort(), binary));
  ASSERT_TRUE(waitFor([&] { return m_events.size() == 2; }));
  a->close();
  EXPECT_FALSE(a->isBound());
  ASSERT_TRUE(a->sendTo("127.0.0.1", b->localPort(), "again"));
  EXPECT_TRUE(a->isBound());
  ASSERT_TRUE(waitFor([&] { return m_events.size() == 4; }));
  EXPECT_EQ(m_events, (Strings{"b<-" + binary + " from 127.0.0.1:" + aPort, "a<-pong:" + bPort,
                               "b<-again from 127.0.0.1:" + aPort, "a<-pong:" + bPort}));
}

TEST_F(QtPlatformTest, TcpConnectSendAndPeerCloseShowTheClassicStatesAndEvents) {
  listen();
  auto client = m_platform.createTcpSocket();
  TcpRecorder clientEvents;
  clientEvents.attach(*client);
  ASSERT_TRUE(client->setNoDelay(true));
  ASSERT_TRUE(client->connect("127.0.0.1", m_listener->localPort()));
  EXPECT_EQ(client->state(), SocketState::Connecting);
  EXPECT_TRUE(clientEvents.events.empty());
  ASSERT_TRUE(waitFor([&] {
    return client->state() == SocketState::Connected && m_server->state() == SocketState::Connected;
  }));
  EXPECT_EQ(m_server->remotePort(), client->localPort());
  EXPECT_EQ(m_server->remoteAddress(), "127.0.0.1");

  const std::string packet("PK\x0a\x00\x05hello", 10);
  ASSERT_TRUE(client->send(packet));
  EXPECT_EQ(clientEvents.events, Strings{"connect (7)"}) << "an event was raised inside send()";
  ASSERT_TRUE(waitFor([&] { return m_serverEvents.data == packet; }));
  ASSERT_TRUE(waitFor([&] { return clientEvents.events.size() == 2; }));

  m_server->close();
  EXPECT_EQ(m_server->state(), SocketState::Closed);
  ASSERT_TRUE(waitFor([&] { return client->state() == SocketState::Closed; }));
  EXPECT_EQ(clientEvents.events, (Strings{"connect (7)", "sendComplete (7)", "close (0)"}));
  EXPECT_TRUE(m_serverEvents.events.empty()) << "own close raised an event";
  EXPECT_FALSE(client->send("late"));
}

TEST_F(QtPlatformTest, TcpConnectToAClosedPortIsRefusedAndStaysInErrorUntilClosed) {
  ASSERT_TRUE(m_listener->listen("127.0.0.1", 0));
  const std::uint16_t port = m_listener->localPort();
  m_listener.reset();  // free a moment ago, nobody listening now
  auto client = m_platform.createTcpSocket();
  TcpRecorder events;
  events.errorTexts = false;
  events.attach(*client);
  ASSERT_TRUE(client->connect("127.0.0.1", port));
  ASSERT_TRUE(waitFor([&] { return !events.events.empty(); }));
  pumpFor(m_loop, 20);
  EXPECT_EQ(events.events,
            Strings{"error " + std::to_string(socket_error::kConnectionRefused) + " (9)"});
  EXPECT_EQ(client->state(), SocketState::Error);
  EXPECT_FALSE(client->connect("127.0.0.1", port));
  client->close();
  EXPECT_EQ(client->state(), SocketState::Closed);
}

TEST_F(QtPlatformTest, PortsInUseAreRefusedAndAProbedTcpPortServesEveryReconnect) {
  auto udp = m_platform.createUdpSocket();
  ASSERT_TRUE(udp->bind("127.0.0.1", 0));
  for (const char* address : {"127.0.0.1", "0.0.0.0"}) {
    std::string error;
    EXPECT_FALSE(m_platform.createUdpSocket()->bind(address, udp->localPort(), &error)) << address;
    EXPECT_FALSE(error.empty());
  }
  listen();
  std::string error;
  EXPECT_FALSE(
      m_platform.createTcpListener()->listen("127.0.0.1", m_listener->localPort(), &error));
  EXPECT_FALSE(error.empty());

  auto client = m_platform.createTcpSocket();
  ASSERT_TRUE(client->bind(0));
  EXPECT_EQ(client->state(), SocketState::Open);
  const std::uint16_t port = client->localPort();
  ASSERT_NE(port, 0);

  // A failed probe is told by its result alone: no error event, and the socket stays usable.
  auto rival = m_platform.createTcpSocket();
  TcpRecorder rivalEvents;
  rivalEvents.attach(*rival);
  EXPECT_FALSE(rival->bind(port)) << "a probe found a port in use free";
  pumpFor(m_loop, 20);
  EXPECT_TRUE(rivalEvents.events.empty());
  EXPECT_EQ(rival->state(), SocketState::Closed);
  EXPECT_TRUE(rival->bind(0));

  client->close();
  EXPECT_EQ(client->state(), SocketState::Closed);
  EXPECT_EQ(client->localPort(), port);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(connectToListener(*client)) << round;
    EXPECT_EQ(m_server->remotePort(), port) << round;
    client->close();  // we close first: our side of the old connection lingers
    ASSERT_TRUE(waitFor([&] { return m_server->state() == SocketState::Closed; })) << round;
  }
}

TEST_F(QtPlatformTest, BytesSentBeforeTheAcceptAreDelivered) {
  ASSERT_TRUE(m_listener->listen("127.0.0.1", 0));
  m_serverEvents.attach(*m_server);
  bool accepted = false;
  m_listener->onConnectionRequest([&](int id) {
    pumpFor(m_loop, 200);  // lets the client's request reach the kernel first
    accepted = m_listener->accept(*m_server, id);
  });
  auto client = m_platform.createTcpSocket();
  client->onConnect([&] { client->send("GET /spykee HTTP/1.1\r\n\r\n"); });
  ASSERT_TRUE(client->connect("localhost", m_listener->localPort()));
  ASSERT_TRUE(waitFor([&] { return m_serverEvents.data.size() == 24; }));
  EXPECT_TRUE(accepted);
  EXPECT_EQ(m_serverEvents.data, "GET /spykee HTTP/1.1\r\n\r\n");
}

TEST_F(QtPlatformTest, SocketDestroyedInItsOwnHandlerIsSafe) {
  listen();
  auto client = m_platform.createTcpSocket();
  client->onClose([&] {
    client.reset();
    m_events.emplace_back("closed");  // the handler's captures are still valid here
  });
  ASSERT_TRUE(connectToListener(*client));
  m_server->close();
  ASSERT_TRUE(waitFor([&] { return !m_events.empty(); }));
  EXPECT_EQ(client, nullptr);

  auto receiver = m_platform.createUdpSocket();
  ASSERT_TRUE(receiver->bind("127.0.0.1", 0));
  receiver->onDatagram([&](const Datagram& d) {
    receiver.reset();
    m_events.push_back(d.data);
  });
  const std::uint16_t port = receiver->localPort();
  auto sender = m_platform.createUdpSocket();
  for (const char* text : {"one", "two"}) sender->sendTo("127.0.0.1", port, text);
  ASSERT_TRUE(waitFor([&] { return m_events.size() == 2; }));
  pumpFor(m_loop, 20);
  EXPECT_EQ(m_events, (Strings{"closed", "one"}));
}

}  // namespace
}  // namespace rovalink::platform
