// Attacks on the real `rovalink --headless`, each next to the normal use that must keep working:
// a start leaves the user's settings file alone, and from the network datagrams that did not
// come through the local hub get nowhere (that a forged discovery answer does not get the login
// is Discovery.RobotAddressHearsOnlyThatAddress's, in the robot link tests). "Another host" is a
// socket bound to this computer's own network address: the kernel then gives its datagrams that
// address as the sender, as for a datagram from the LAN.
#include <gtest/gtest.h>

#include <QFile>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QUdpSocket>
#include <vector>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

using SecurityE2e = GatewayTest;

TEST_F(SecurityE2e, AStartLeavesTheUsersSettingsFileAndItsBackupAlone) {
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "0"}}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  // The user name box has been filled before the login; the default name it shows is not saved.
  EXPECT_EQ(read("Config/qbtRovalink.ini"), m_settings);
  EXPECT_FALSE(QFile::exists(appPath("Config/qbtRovalink.ini_bck")));
}

// Attacks that need a second host: skipped when this computer has no address besides loopback.
class FromTheNetwork : public GatewayTest {
 protected:
  void SetUp() override {
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
      if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()) {
        m_lan = address;
        return;
      }
    }
    GTEST_SKIP() << "this computer has no address besides loopback";
  }
  QHostAddress m_lan;
};

// A command sent from the network straight to the private port (on the network address or on
// loopback) or to the socket the program sends from is dropped and logged; the same kind of
// command through the hub works. A pattern of 127.0.0.1 keeps the program on loopback.
class BusSocket : public FromTheNetwork, public ::testing::WithParamInterface<const char*> {};

TEST_P(BusSocket, OnlyWhatTheLocalHubForwardsDrivesTheRobot) {
  const bool loopbackOnly = QByteArray(GetParam()) == "127.0.0.1";
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "0"}, .interfaceAddress = GetParam()}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  const QRegularExpressionMatch match = registration();
  ASSERT_TRUE(match.hasMatch()) << m_hub.errorText().toStdString();
  const auto privatePort = static_cast<quint16>(match.captured(1).toUInt());
  const QHostAddress heartbeatFrom(match.captured(2));
  EXPECT_EQ(heartbeatFrom.isLoopback(), loopbackOnly) << match.captured(0).toStdString();

  const auto attack = [&](const QByteArray& datagram, const QHostAddress& to, quint16 port) {
    // One socket each: an ICMP answer to one send must not fail the next.
    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(m_lan, 0));
    EXPECT_EQ(stranger.writeDatagram(datagram, to, port), datagram.size());
  };
  attack(bscCommand("spykee.leftled.relay", "on"), QHostAddress::LocalHost, privatePort);
  if (!heartbeatFrom.isLoopback()) {
    attack(bscCommand("spykee.rightled.relay", "on"), heartbeatFrom,
           static_cast<quint16>(match.captured(3).toUInt()));
  }
  attack(bscCommand("spykee.headled.relay", "on"), m_lan, privatePort);
  waitUntil([&] { return errorLog().contains("xAP datagrams dropped"); }, kReplyMs);

  sendCommand("spykee.volume.index", "on", "40");
  ASSERT_TRUE(waitForPackets(5)) << m_gateway.errorText().toStdString();
  EXPECT_EQ(packets().mid(4), QStringList{"9:28"});
  EXPECT_TRUE(errorLog().contains(" not forwarded by the local hub, last from " + m_lan.toString()))
      << errorLog().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Interfaces, BusSocket, ::testing::Values("Default", "127.0.0.1"),
                         [](const auto& p) {
                           return std::string(p.param[0] == 'D' ? "Default" : "Loopback");
                         });

}  // namespace
}  // namespace rovalink::e2e
