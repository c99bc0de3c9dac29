#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

// Datagrams from one sender are handled by the hub in order, so once a later marker has come
// through, anything the hub would have forwarded for an earlier datagram has arrived too.
bool barrier(UdpPeer& from, UdpPeer& witness, quint16 hubPort, const QByteArray& marker) {
  from.send(hubPort, marker);
  return witness.waitFor(marker, kReplyMs);
}

class XapHub : public ::testing::Test {
 protected:
  void SetUp() override {
    m_hubPort = startHub(m_hub);
    ASSERT_NE(m_hubPort, 0);
  }

  Program m_hub;
  quint16 m_hubPort = 0;
};

TEST_F(XapHub, ForwardsEachDatagramUnchangedToEveryRegisteredClientIncludingTheSender) {
  UdpPeer a;
  UdpPeer b;
  UdpPeer outsider;  // never registers
  ASSERT_TRUE(a.registerWith(m_hubPort));
  ASSERT_TRUE(b.registerWith(m_hubPort));
  EXPECT_TRUE(m_hub.waitForStderr(QStringLiteral("registered port %1").arg(b.port()), kReplyMs));

  const QByteArray fromA("xap-header\n{\nclass=test.one\nsource=a.b.c\n}\nbody\n{\nx= 1 \n}\n");
  a.send(m_hubPort, fromA);
  EXPECT_TRUE(a.waitFor(fromA, kReplyMs));
  EXPECT_TRUE(b.waitFor(fromA, kReplyMs));

  const QByteArray binary("\x00\x01\xff not xap at all", 19);
  outsider.send(m_hubPort, binary);
  EXPECT_TRUE(a.waitFor(binary, kReplyMs));
  EXPECT_TRUE(b.waitFor(binary, kReplyMs));
  ASSERT_TRUE(barrier(a, b, m_hubPort, "marker"));
  EXPECT_TRUE(outsider.received().empty()) << "a plain datagram must not register its sender";
}

TEST_F(XapHub, RegistersAClientWhoseHeartbeatWasBroadcast) {
  UdpPeer a;
  ASSERT_TRUE(a.registerWith(m_hubPort, 60, QHostAddress(QStringLiteral("127.255.255.255"))));
  EXPECT_TRUE(m_hub.waitForStderr(QStringLiteral("registered port %1").arg(a.port()), kReplyMs));
}

class XapHubStop : public XapHub, public ::testing::WithParamInterface<const char*> {};

TEST_P(XapHubStop, DropsAClientAtOnceWhenItsHeartbeatSaysItStopped) {
  UdpPeer leaving;
  UdpPeer staying;
  ASSERT_TRUE(leaving.registerWith(m_hubPort));
  ASSERT_TRUE(staying.registerWith(m_hubPort));

  leaving.send(m_hubPort, leaving.heartbeat(QString::fromLatin1(GetParam())));
  ASSERT_TRUE(barrier(staying, staying, m_hubPort, "after stop"));
  EXPECT_FALSE(leaving.hasReceived("after stop"));
  EXPECT_TRUE(m_hub.errorText().contains(QStringLiteral("dropped port %1").arg(leaving.port())));
}

INSTANTIATE_TEST_SUITE_P(Classes, XapHubStop,
                         ::testing::Values("xap-hbeat.stopped", "xap-hbeat.stop",
                                           "XAP-HBEAT.STOPPED"));

TEST_F(XapHub, DropsAClientAfterTwiceItsIntervalWithoutAHeartbeat) {
  UdpPeer quiet;
  UdpPeer steady;
  QElapsedTimer sinceHeartbeat;
  ASSERT_TRUE(steady.registerWith(m_hubPort));
  sinceHeartbeat.start();
  ASSERT_TRUE(quiet.registerWith(m_hubPort, 1));

  ASSERT_TRUE(m_hub.waitForStderr(QStringLiteral("dropped port %1").arg(quiet.port()), kReplyMs));
  // Two 1 s intervals must pass first; later is fine on a loaded machine, earlier is a fault.
  EXPECT_GE(sinceHeartbeat.elapsed(), 2000);
  ASSERT_TRUE(barrier(steady, steady, m_hubPort, "after expiry"));
  EXPECT_FALSE(quiet.hasReceived("after expiry"));
}

TEST_F(XapHub, AHeartbeatRenewsTheRegistration) {
  UdpPeer renewing;
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(renewing.registerWith(m_hubPort, 1));
  // Beat every ~0.3 s for 3 s: well past the 2 s after which a silent client is dropped.
  while (clock.elapsed() < 3000) {
    waitUntil([] { return false; }, 300);
    renewing.send(m_hubPort, renewing.heartbeat(QStringLiteral("xap-hbeat.alive"), 1));
  }
  ASSERT_TRUE(barrier(renewing, renewing, m_hubPort, "still here"));
  EXPECT_FALSE(m_hub.errorText().contains(QStringLiteral("dropped port %1").arg(renewing.port())));
}

TEST_F(XapHub, IgnoresAHeartbeatThatAnnouncesTheHubsOwnPort) {
  UdpPeer a;
  ASSERT_TRUE(a.registerWith(m_hubPort));
  const QByteArray loop = "xap-hbeat\n{\nclass=xap-hbeat.alive\nsource=x.y.z\ninterval=60\nport=" +
                          QByteArray::number(m_hubPort) + "\n}\n";
  a.send(m_hubPort, loop);
  ASSERT_TRUE(barrier(a, a, m_hubPort, "no loop"));
  EXPECT_FALSE(m_hub.errorText().contains(QStringLiteral("registered port %1").arg(m_hubPort)));
  // A forwarding loop would repeat the heartbeat endlessly; exactly one copy reached us.
  EXPECT_EQ(std::count(a.received().begin(), a.received().end(), loop), 1);
}

}  // namespace
}  // namespace rovalink::e2e
