#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_platform.h"
#include "platform/sim/sim_platform.h"
#include "platform/socket_errors.h"
#include "platform/test_util.h"
#include "platform/wait.h"

namespace rovalink::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Real time and loopback on a possibly loaded machine: every wait has a generous bound and ends
// as soon as its condition holds, and orders are chosen so that only a tick more than a period
// late could change them.
class QtPlatformTest : public ::testing::Test {
 protected:
  bool waitFor(const std::function<bool()>& done) { return waitUntil(m_loop, 10'000, done); }
  std::unique_ptr<UdpSocket> udp() {
    auto socket = m_platform.createUdpSocket();
    EXPECT_TRUE(socket->bind("127.0.0.1", 0));
    return socket;
  }
  // A listener on a free loopback port that accepts every request into m_server, and a client
  // whose events go to m_clientEvents.
  void listen() {
    ASSERT_TRUE(m_listener->listen("127.0.0.1", 0));
    m_listener->onConnectionRequest([this](int id) {
      m_server->close();
      m_listener->accept(*m_server, id);
    });
    m_serverEvents.attach(*m_server);
    m_clientEvents.attach(*m_client);
  }
  bool connectClient(const std::function<void()>& whileConnecting = [] {}) {
    if (!m_client->connect("127.0.0.1", m_listener->localPort())) return false;
    whileConnecting();
    return waitFor([&] {
      return m_client->state() == SocketState::Connected &&
             m_server->state() == SocketState::Connected;
    });
  }

  int m_argc = 1;
  char* m_argv[2] = {const_cast<char*>("qt_platform"), nullptr};
  QCoreApplication m_app{m_argc, m_argv};
  QtPlatform m_platform;
  EventLoop& m_loop = m_platform.loop();
  Strings m_events;
  std::unique_ptr<TcpListener> m_listener = m_platform.createTcpListener();
  std::unique_ptr<TcpSocket> m_server = m_platform.createTcpSocket();
  std::unique_ptr<TcpSocket> m_client = m_platform.createTcpSocket();
  TcpRecorder m_serverEvents, m_clientEvents;
};

// The same story on virtual and on real time. Orders have a margin of whole periods, so only a
// tick more than a period late could change them.
template <class Platform>
class EventLoopContract : public ::testing::Test {
 protected:
  int m_argc = 1;
  char* m_argv[2] = {const_cast<char*>("qt_platform"), nullptr};
  QCoreApplication m_app{m_argc, m_argv};
  Platform m_each;
};
using Platforms = ::testing::Types<SimPlatform, QtPlatform>;
TYPED_TEST_SUITE(EventLoopContract, Platforms);

TYPED_TEST(EventLoopContract, TimersTickInOrderAndAHandlerWaitsReentrantlyWhileAnotherTicks) {
  EventLoop& loop = this->m_each.loop();
  Strings events;
  auto zero = startTimer(loop, 0, [&] { events.emplace_back("zero"); });
  auto slow = startTimer(loop, 150, [&] { events.emplace_back("slow"); });
  auto inner = startTimer(loop, 5, [&] { events.emplace_back("inner"); });
  inner->setEnabled(false);
  std::unique_ptr<Timer> outer;
  outer = startTimer(loop, 10, [&] {
    outer->setEnabled(false);
    events.emplace_back("outer-begin");
    inner->setEnabled(true);
    const bool reached = waitUntil(loop, 5000, [&] { return events.size() >= 4; });
    inner->setEnabled(false);
    events.emplace_back(reached ? "outer-end" : "outer-timeout");
  });
  waitUntil(loop, 10'000, [&] { return events.size() >= 6; });
  EXPECT_EQ(events, (Strings{"outer-begin", "inner", "inner", "inner", "outer-end", "slow"}));
}

// The dispatcher paces with short waits; on a loaded machine what holds is that no wait ends
// early and none is wildly late.
TEST_F(QtPlatformTest, WaitsNeverEndEarlyAndEndAtOnceWhenNothingIsScheduled) {
  EXPECT_FALSE(m_loop.waitForEvent()) << "nothing is scheduled";
  auto t = m_loop.createTimer();
  t->onTick([&] { t->setEnabled(false); });
  for (const int delay : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 1, 2, 3, 5, 10}) {
    t->setInterval(delay);
    const auto started = Clock::now();
    t->setEnabled(true);
    while (t->enabled()) m_loop.waitForEvent();
    const double late =
        std::chrono::duration<double, std::milli>(Clock::now() - started).count() - delay;
    EXPECT_GE(late, 0.0) << "a " << delay << " ms timer fired early";
    EXPECT_LT(late, 500.0) << delay;
  }
  auto far = startTimer(m_loop, 60'000, [] {});
  const auto started = Clock::now();
  EXPECT_TRUE(m_loop.waitForEvent(30));
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(30));
  auto quit = startTimer(m_loop, 5, [&] { m_loop.quit(3); });
  EXPECT_EQ(m_loop.run(), 3);
  quit.reset();
  // Exit from a window or a signal is a Qt event, not one of ours: it ends a wait all the same,
  // and every wait after it.
  const auto exitAt = Clock::now();
  QTimer::singleShot(20, [&] { m_loop.quit(4); });
  EXPECT_FALSE(m_loop.waitForEvent());
  EXPECT_FALSE(m_loop.waitForEvent(10'000)) << "a wait after Exit";
  EXPECT_LT(Clock::now() - exitAt, std::chrono::milliseconds(5000));
  EXPECT_EQ(m_loop.run(), 4);
}

// A path run's high priority also asks for a short time slice; normal priority gives it back.
TEST_F(QtPlatformTest, HighPriorityAsksForAShortSliceAndNormalGivesItBack) {
  const auto slice = [] {
    std::uint64_t attr[6] = {};  // the kernel's sched_attr: the slice is the fourth word
    return ::syscall(SYS_sched_getattr, 0, attr, sizeof attr, 0) == 0 ? attr[3] : 0;
  };
  const std::uint64_t system = slice();
  if (system == 0) GTEST_SKIP() << "this kernel has no per-thread slices";
  m_platform.process().setPriority(PriorityClass::High);
  EXPECT_EQ(slice(), 100'000u);
  m_platform.process().setPriority(PriorityClass::Normal);
  EXPECT_EQ(slice(), system);
}

TEST_F(QtPlatformTest, UdpRoundTripCarriesTheSenderAndAClosedSocketResendsFromItsPort) {
  auto a = udp(), b = udp();
  const std::string aPort = std::to_string(a->localPort());
  a->onDatagram([&](const Datagram& d) { m_events.push_back("a<-" + d.data); });
  b->onDatagram([&](const Datagram& d) {
    m_events.push_back("b<-" + d.data + " " + d.senderAddress + ":" + std::to_string(d.senderPort));
    b->sendTo(d.senderAddress, d.senderPort, "pong");
  });
  const std::string binary("p\0i\xffng", 6);
  ASSERT_TRUE(a->sendTo("127.0.0.1", b->localPort(), binary));
  ASSERT_TRUE(waitFor([&] { return m_events.size() == 2; }));
  a->close();
  ASSERT_TRUE(a->sendTo("127.0.0.1", b->localPort(), "again"));
  ASSERT_TRUE(waitFor([&] { return m_events.size() == 4; }));
  EXPECT_EQ(m_events, (Strings{"b<-" + binary + " 127.0.0.1:" + aPort, "a<-pong",
                               "b<-again 127.0.0.1:" + aPort, "a<-pong"}));
}

TEST_F(QtPlatformTest, TcpConnectSendPeerCloseAndRefusalShowTheClassicStatesAndEvents) {
  listen();
  ASSERT_TRUE(m_client->setNoDelay(true));
  ASSERT_TRUE(connectClient([&] {
    EXPECT_EQ(m_client->state(), SocketState::Connecting);
    EXPECT_TRUE(m_clientEvents.events.empty());
  }));
  EXPECT_EQ(m_server->remoteAddress(), "127.0.0.1");

  const std::string packet("PK\x0a\x00\x05hello", 10);
  ASSERT_TRUE(m_client->send(packet));
  EXPECT_EQ(m_clientEvents.events, Strings{"connect (7)"}) << "an event was raised inside send()";
  ASSERT_TRUE(
      waitFor([&] { return m_serverEvents.data == packet && m_clientEvents.events.size() == 2; }));

  // Asked for, bytes the system holds come at once, without a loop turn; asked with none there,
  // nothing is raised (Qt calls an empty wait a timeout error).
  m_server->deliverReceived();
  ASSERT_TRUE(m_client->send("more"));
  for (int i = 0; i < 10'000 && m_serverEvents.data == packet; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_server->deliverReceived();
  }
  EXPECT_EQ(m_serverEvents.data, packet + "more");

  ASSERT_TRUE(m_server->send("bye"));  // its completion must not outlive the close
  m_server->close();
  ASSERT_TRUE(waitFor([&] { return m_client->state() == SocketState::Closed; }));
  EXPECT_EQ(m_clientEvents.events,
            (Strings{"connect (7)", "sendComplete (7)", "sendComplete (7)", "close (0)"}));
  EXPECT_TRUE(m_serverEvents.events.empty()) << "own close raised an event";

  const std::uint16_t port = m_listener->localPort();
  m_listener.reset();  // nobody listening now
  m_clientEvents.events.clear();
  m_clientEvents.errorTexts = false;
  ASSERT_TRUE(m_client->connect("127.0.0.1", port));
  ASSERT_TRUE(waitFor([&] { return !m_clientEvents.events.empty(); }));
  pumpFor(m_loop, 20);
  EXPECT_EQ(m_clientEvents.events,
            Strings{"error " + std::to_string(socket_error::kConnectionRefused) + " (9)"});
  EXPECT_FALSE(m_client->connect("127.0.0.1", port)) << "connect allowed in state 9";

  // A name is looked up off the loop; the reserved .invalid domain never resolves.
  m_client->close();
  m_clientEvents.events.clear();
  m_clientEvents.errorTexts = true;
  ASSERT_TRUE(m_client->connect("no-such-host.invalid", port));
  EXPECT_EQ(m_client->state(), SocketState::ResolvingHost);
  ASSERT_TRUE(waitUntil(m_loop, 30'000, [&] { return !m_clientEvents.events.empty(); }));
  EXPECT_EQ(m_clientEvents.events, Strings{"error 11001 Host not found (9)"});
}

TEST_F(QtPlatformTest, PortsInUseAreRefusedAndAProbedTcpPortServesEveryReconnect) {
  auto taken = udp();
  for (const char* address : {"127.0.0.1", "0.0.0.0"}) {
    auto rival = m_platform.createUdpSocket();
    std::vector<int> codes;
    rival->onError([&](int code, const std::string&) { codes.push_back(code); });
    std::string error;
    EXPECT_FALSE(rival->bind(address, taken->localPort(), &error));
    EXPECT_EQ(error, "The bound address is already in use") << address;
    EXPECT_EQ(codes, std::vector<int>{socket_error::kAddressInUse}) << address;
  }
  listen();

  ASSERT_TRUE(m_client->bind(0));
  const std::uint16_t port = m_client->localPort();
  // A failed probe is told by its result alone: no error event, and the socket stays usable.
  auto rival = m_platform.createTcpSocket();
  TcpRecorder rivalEvents;
  rivalEvents.attach(*rival);
  EXPECT_FALSE(rival->bind(port)) << "a probe found a port in use free";
  pumpFor(m_loop, 20);
  EXPECT_TRUE(rivalEvents.events.empty());
  EXPECT_EQ(rival->state(), SocketState::Closed);
  EXPECT_TRUE(rival->bind(0));

  m_client->close();
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(connectClient()) << round;
    EXPECT_EQ(m_server->remotePort(), port) << round;
    m_client->close();  // we close first: our side of the old connection lingers
    ASSERT_TRUE(waitFor([&] { return m_server->state() == SocketState::Closed; })) << round;
  }
}

// A crowd of new connections is taken a few per loop turn, so it cannot starve timers and the
// connections already taken (their answers, their closes) while it lasts.
TEST_F(QtPlatformTest, ACrowdOfConnectionsIsTakenAFewPerTurn) {
  ASSERT_TRUE(m_listener->listen("127.0.0.1", 0));
  int requests = 0;
  m_listener->onConnectionRequest([&](int) { ++requests; });  // not taken: closed by the listener
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(m_listener->localPort());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<int> crowd;
  for (int i = 0; i < 40; ++i) {
    crowd.push_back(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(::connect(crowd.back(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
              0);
  }
  m_loop.pumpOnce();
  EXPECT_GT(requests, 0);
  EXPECT_LT(requests, 40);
  EXPECT_TRUE(waitFor([&] { return requests == 40; }));
  for (const int fd : crowd) ::close(fd);
}

TEST_F(QtPlatformTest, SocketDestroyedInItsOwnHandlerIsSafe) {
  listen();
  m_client->onClose([&] {
    m_client.reset();
    m_events.emplace_back("closed");  // the handler's captures are still valid here
  });
  ASSERT_TRUE(connectClient());
  m_server->close();
  ASSERT_TRUE(waitFor([&] { return !m_events.empty(); }));
  EXPECT_EQ(m_client, nullptr);

  auto receiver = udp();
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

// A client library's socket: readiness comes through the loop (ending a wait), writing only while
// asked for, and a watch may delete itself from its own handler.
TEST_F(QtPlatformTest, DescriptorWatchReportsReadinessThroughTheLoop) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
  auto watch = m_platform.createFdWatch(fds[0]);
  int writable = 0;
  std::string got;
  watch->onWritable([&] {
    ++writable;
    watch->setWriteEnabled(false);
  });
  watch->onReadable([&] {
    char buffer[16];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    if (got == "ping") watch.reset();
  });
  watch->setReadEnabled(true);
  watch->setWriteEnabled(true);
  EXPECT_TRUE(waitFor([&] { return writable == 1; }));
  ASSERT_EQ(::write(fds[1], "ping", 4), 4);
  EXPECT_TRUE(waitFor([&] { return watch == nullptr; }));
  EXPECT_EQ(got, "ping");
  EXPECT_EQ(writable, 1);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace rovalink::platform
