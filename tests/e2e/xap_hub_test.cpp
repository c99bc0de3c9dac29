// tools/xap-hub with bare UDP clients on loopback: forwarding, registration and expiry.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

class XapHub : public HubTest {
 protected:
  // The hub handles one sender's datagrams in order, so once a later marker has come back,
  // anything the hub would have forwarded for an earlier datagram has arrived too.
  bool barrier(UdpPeer& peer, const QByteArray& marker) {
    peer.send(m_hubPort, marker);
    return peer.waitFor(marker, kReplyMs);
  }
  bool logged(const QString& what, quint16 port) const {
    return m_hub.errorText().contains(QStringLiteral("%1 port %2 ").arg(what).arg(port));
  }
  // The hub's stderr reaches us through a pipe that can lag behind its datagrams.
  bool logs(const QString& what, quint16 port) {
    return waitUntil([&] { return logged(what, port); }, kReplyMs);
  }
};

TEST_F(XapHub, ForwardsEachDatagramUnchangedToEveryRegisteredClientIncludingTheSender) {
  UdpPeer a;
  UdpPeer b;
  UdpPeer outsider;  // never registers
  ASSERT_TRUE(a.registerWith(m_hubPort));
  // A heartbeat sent to the broadcast address registers its sender as well.
  ASSERT_TRUE(b.registerWith(m_hubPort, 60, QHostAddress(QStringLiteral("127.255.255.255"))));
  EXPECT_TRUE(logs("registered", b.port()));

  const QByteArray fromA("xap-header\n{\nclass=test.one\nsource=a.b.c\n}\nbody\n{\nx= 1 \n}\n");
  a.send(m_hubPort, fromA);
  EXPECT_TRUE(a.waitFor(fromA, kReplyMs));
  EXPECT_TRUE(b.waitFor(fromA, kReplyMs));

  const QByteArray binary("\x00\x01\xff not xap at all", 19);
  outsider.send(m_hubPort, binary);
  EXPECT_TRUE(a.waitFor(binary, kReplyMs));
  EXPECT_TRUE(b.waitFor(binary, kReplyMs));
  ASSERT_TRUE(barrier(a, "marker"));
  EXPECT_TRUE(outsider.received().empty()) << "a plain datagram must not register its sender";
}

TEST_F(XapHub, DropsAClientAtOnceWhenItsHeartbeatSaysItStopped) {
  UdpPeer staying;
  ASSERT_TRUE(staying.registerWith(m_hubPort));
  for (const char* stopClass : {"xap-hbeat.stopped", "xap-hbeat.stop", "XAP-HBEAT.STOPPED"}) {
    SCOPED_TRACE(stopClass);
    UdpPeer leaving;
    ASSERT_TRUE(leaving.registerWith(m_hubPort));
    leaving.send(m_hubPort, leaving.heartbeat(stopClass));
    ASSERT_TRUE(barrier(staying, stopClass));
    EXPECT_FALSE(leaving.hasReceived(stopClass));
    EXPECT_TRUE(logs("dropped", leaving.port()));
  }
}

TEST_F(XapHub, DropsAClientAfterTwiceItsIntervalButNotOneThatKeepsBeating) {
  UdpPeer quiet;
  UdpPeer beating;
  QElapsedTimer sinceHeartbeat;
  ASSERT_TRUE(beating.registerWith(m_hubPort, 1));
  sinceHeartbeat.start();
  ASSERT_TRUE(quiet.registerWith(m_hubPort, 1));
  // Beat every ~0.3 s for 3 s, well past the 2 s after which the silent client goes.
  QElapsedTimer sinceBeat;
  sinceBeat.start();
  qint64 droppedAfterMs = -1;
  ASSERT_TRUE(waitUntil(
      [&] {
        if (sinceBeat.elapsed() >= 300) {
          beating.send(m_hubPort, beating.heartbeat("xap-hbeat.alive", 1));
          sinceBeat.restart();
        }
        if (droppedAfterMs < 0 && logged("dropped", quiet.port()))
          droppedAfterMs = sinceHeartbeat.elapsed();
        return droppedAfterMs >= 0 && sinceHeartbeat.elapsed() >= 3000;
      },
      kReplyMs));
  // Two 1 s intervals must pass first; later is fine on a loaded machine, earlier is a fault.
  EXPECT_GE(droppedAfterMs, 2000);
  ASSERT_TRUE(barrier(beating, "after expiry"));
  EXPECT_FALSE(quiet.hasReceived("after expiry"));
  EXPECT_FALSE(logged("dropped", beating.port()));
}

TEST(XapHubHeartbeat, TheHubAnnouncesItselfToItsClientsEveryPeriod) {
  Program hub;
  const quint16 hubPort = startHub(hub, {QStringLiteral("--heartbeat"), QStringLiteral("1")});
  ASSERT_NE(hubPort, 0);
  UdpPeer client;
  ASSERT_TRUE(client.registerWith(hubPort));
  const auto hubBeats = [&] {
    return std::count_if(client.received().begin(), client.received().end(), [](const auto& d) {
      return d.startsWith("xap-hbeat\n") && d.contains("\nsource=rovalink.xaphub.") &&
             d.contains("\ninterval=1\n");
    });
  };
  EXPECT_TRUE(waitUntil([&] { return hubBeats() >= 2; }, kReplyMs));
}

TEST_F(XapHub, IgnoresAHeartbeatThatAnnouncesTheHubsOwnPort) {
  UdpPeer a;
  ASSERT_TRUE(a.registerWith(m_hubPort));
  const QByteArray loop = "xap-hbeat\n{\nclass=xap-hbeat.alive\nsource=x.y.z\ninterval=60\nport=" +
                          QByteArray::number(m_hubPort) + "\n}\n";
  a.send(m_hubPort, loop);
  ASSERT_TRUE(barrier(a, "no loop"));
  EXPECT_FALSE(logged("registered", m_hubPort));
  // A forwarding loop would repeat the heartbeat endlessly; exactly one copy reached us.
  EXPECT_EQ(std::count(a.received().begin(), a.received().end(), loop), 1);
}

}  // namespace
}  // namespace rovalink::e2e
