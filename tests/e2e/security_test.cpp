// Attacks on the real `rovalink --headless`, each next to the normal use that must keep working:
// through files planted beside its own (the File device names only files in its folder,
// temporary files never write through links, a start leaves the user's settings file alone),
// from the bus (a flood of malformed datagrams cannot fill the disk, received text echoed into
// outgoing messages cannot add items or lines) and from the network (datagrams that did not come
// through the local hub, forged discovery answers). "Another host" is a socket bound to this
// computer's own network address: the kernel then gives its datagrams that address as the
// sender, as for a datagram from the LAN.
#include <gtest/gtest.h>

#include <QFile>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QUdpSocket>
#include <algorithm>
#include <vector>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

using SecurityE2e = GatewayTest;

TEST_F(SecurityE2e, TheFileDeviceRunsOnlyPathFilesInsideItsFolder) {
  ASSERT_NO_FATAL_FAILURE(write("Data/xapqbtSpykee/led.txt", "HeadLEDOn\t0\t\r\nFile\t0\tEnd\r\n"));
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "0"}}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  // The states the File device reported, in order.
  const auto fileStates = [&] {
    QStringList states;
    for (const QJsonObject& m : events("spykee.File.Relay")) states << item(m, "State");
    return states;
  };

  for (const char* outside : {"/etc/passwd", "../x"}) {
    SCOPED_TRACE(outside);
    const qsizetype reported = fileStates().size();
    sendCommand("spykee.file.relay", "on", outside);
    ASSERT_TRUE(waitUntil([&] { return fileStates().size() > reported; }, kReplyMs));
    EXPECT_EQ(fileStates().last(), "OFF");
    const QString prefix = QStringLiteral("File command file ") + outside;
    EXPECT_EQ(eventData(prefix),
              std::vector<QString>{prefix + " is outside the path folder; refused"});
  }
  EXPECT_TRUE(eventData("Command line").empty());  // no line of /etc/passwd went on the bus
  EXPECT_FALSE(QFile::exists(appPath("Data/xapqbtSpykee/Proof.txt")));

  sendCommand("spykee.file.relay", "on", "led.txt");
  ASSERT_TRUE(waitUntil([&] { return packets().contains("4:0001"); }, kReplyMs));
  ASSERT_TRUE(
      waitUntil([&] { return read("Data/xapqbtSpykee/led_Proof.txt").contains("End"); }, kReplyMs));
  // Its own end line stops the run.
  EXPECT_TRUE(waitUntil(
      [&] {
        return fileStates().mid(2) == QStringList({"ON", "OFF"});
      },
      kReplyMs))
      << fileStates().join(' ').toStdString();
}

TEST_F(SecurityE2e, MalformedDatagramsCannotFillTheDiskAndTemporaryFilesNeverFollowLinks) {
  ASSERT_NO_FATAL_FAILURE(write("victim", "keep"));
  ASSERT_TRUE(QDir().mkpath(appPath("Data/xapqbtSpykee")));
  ASSERT_TRUE(QFile::link(appPath("victim"), appPath("Data/xapqbtSpykee/Video0.jpg.tmp")));
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "20"}}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  const auto privatePort = static_cast<quint16>(registration().captured(1).toUInt());
  ASSERT_NE(privatePort, 0) << m_hub.errorText().toStdString();

  // Each a different parse error quoting 4 KB of the sender's text.
  const auto malformed = [](const QByteArray& name) {
    const QByteArray section = name + "\n{\n}\n";
    return "xap-header\n{\nv=13\nsource=a.b.c\n}\n" + section + section;
  };
  for (int i = 0; i < 1500; ++i) {
    m_sender.send(privatePort, malformed(QByteArray::number(i) + QByteArray(4000, 'A')));
    if (i % 100 == 99) waitUntil([] { return false; }, 20);  // let the gateway keep up
  }
  // Handled in order: once the last one is logged, so are the others.
  ASSERT_TRUE(waitUntil(
      [&] {
        m_sender.send(privatePort, malformed("last"));
        return read("Data/xapqbtSpykee.txt").contains("\"last\"");
      },
      kStartMs));
  const QByteArray log = read("Data/xapqbtSpykee.txt");
  const QByteArray older = read("Data/xapqbtSpykee.1.txt");
  EXPECT_LE(log.size(), 1 << 20);
  EXPECT_LE(older.size(), 1 << 20);
  const QList<QByteArray> lines = (older + log).split('\n');
  EXPECT_EQ(
      std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.size() > 1023; }), 0);

  ASSERT_TRUE(waitUntil([&] { return read("Data/xapqbtSpykee/Video0.jpg").startsWith("\xFF\xD8"); },
                        kReplyMs));
  EXPECT_EQ(read("victim"), "keep");
}

TEST_F(SecurityE2e, AStartLeavesTheUsersSettingsFileAndItsBackupAlone) {
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "0"}}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  // The user name box has been filled before the login; the default name it shows is not saved.
  EXPECT_EQ(read("Config/qbtRovalink.ini"), m_settings);
  EXPECT_FALSE(QFile::exists(appPath("Config/qbtRovalink.ini_bck")));
}

// The watchdog echo sends back a received value: a NUL, code 1 or CR in it neither makes new
// items nor new lines, and a long one is cut so the message keeps to the xAP limit.
TEST_F(SecurityE2e, EchoedTextCannotInjectItemsOrLinesAndStaysWithin1500Bytes) {
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "0"}}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  UdpPeer observer;  // hears the raw datagrams, through the hub
  ASSERT_TRUE(observer.registerWith(m_hubPort));
  const QByteArray query =
      QByteArray("abc") + '\0' + "Injected" + '\1' + "value" + '\r' + QByteArray(3000, 'x');
  m_sender.send(m_hubPort,
                "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=WDT.Echo\n"
                "source=rovalink.e2e.peer\n}\nEcho.Query\n{\nQuery=" +
                    query + "\n}\n");
  QByteArray reply;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const QByteArray& datagram : observer.received()) {
          if (datagram.contains("\nEcho.Response\n")) reply = datagram;
        }
        return !reply.isEmpty();
      },
      kReplyMs));
  EXPECT_LE(reply.size(), 1500);
  const QByteArray body = reply.mid(reply.indexOf("\nEcho.Response\n{\n") + 17);
  const QList<QByteArray> lines = body.split('\n');
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines[1].toStdString(), "}");  // one item only
  EXPECT_TRUE(lines[0].startsWith("Response=abc\\x00injected\\x01value\\x0Dxxx"))
      << lines[0].left(60).toStdString();
  EXPECT_TRUE(lines[0].endsWith("x...")) << lines[0].right(20).toStdString();
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

// A stranger answers discovery first (robot-sim sends its own answer 300 ms later): with
// RobotAddress its answer is not heard, and an empty answer is no robot. Either way the login
// goes to the robot and the choice is published.
struct ForgedAnswer {
  const char* name;
  QByteArray spykeeLines;
  QString text;
};

void PrintTo(const ForgedAnswer& c, std::ostream* os) {
  *os << c.name;
}

class Discovery : public FromTheNetwork, public ::testing::WithParamInterface<ForgedAnswer> {};

TEST_P(Discovery, AForgedAnswerDoesNotGetTheLogin) {
  const ForgedAnswer& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(startAll(
      {.sim = {"--fps", "0", "--forged-reply", m_lan.toString(), "--forged-text=" + c.text},
       .spykeeLines = c.spykeeLines}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  const QString found = "Spykee found at 127.0.0.1";
  EXPECT_TRUE(waitUntil([&] { return std::ranges::count(eventData(found), found) > 0; }, kReplyMs))
      << eventData("").size() << " events";
  EXPECT_FALSE(m_sim.waitForLine("forged-reply", 0) == std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Answers, Discovery,
                         ::testing::Values(ForgedAnswer{"GarbageFromAnotherAddress",
                                                        "RobotAddress=127.0.0.1\r\n",
                                                        "garbage-not-a-robot"},
                                           ForgedAnswer{"EmptyAnswer", "", ""}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace rovalink::e2e
