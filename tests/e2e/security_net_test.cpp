// Attacks from the network on the real `rovalink --headless` with tools/robot-sim and
// tools/xap-hub: datagrams that did not come through the local hub, forged discovery answers,
// and received text echoed into outgoing messages. Each attack must fail while normal use goes
// on. "Another host" is a socket bound to this computer's own network address: the kernel then
// gives its datagrams that address as the sender, as for a datagram from the LAN.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <memory>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

// The first IPv4 address of this computer that is not loopback; null when it has none.
QHostAddress networkAddress() {
  for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
    if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
      return address;
  }
  return {};
}

QByteArray bscCommand(const char* subAddress, const char* state, const char* text = nullptr) {
  return QByteArray(
             "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=xAPBSC.cmd\n"
             "source=rovalink.e2e.peer\ntarget=qbt.Spykee.*:") +
         subAddress + "\n}\noutput.state.1\n{\nID=*\nState=" + state + "\n" +
         (text ? QByteArray("Text=") + text + "\n" : QByteArray()) + "}\n";
}

const QString kLoginPacket = QStringLiteral("10:0561646d696e056b656c706f");

class SecurityNet : public ::testing::Test {
 protected:
  void SetUp() override {
    m_lan = networkAddress();
    if (m_lan.isNull()) GTEST_SKIP() << "this computer has no address besides loopback";
  }

  // The hub, an observer registered with it, robot-sim, then the gateway with the given
  // interface pattern and extra [SPYKEE] lines.
  void startAll(const QStringList& simArguments, const QByteArray& interfaceAddress,
                const QByteArray& spykeeLines = {}) {
    ASSERT_TRUE(m_appDir.isValid());
    m_hubPort = startHub(m_hub);
    ASSERT_NE(m_hubPort, 0);
    ASSERT_TRUE(m_observer.registerWith(m_hubPort));
    ASSERT_TRUE(m_sim.start("robot-sim", QStringList{"--port", "0", "--fps", "0"} + simArguments));
    const auto ready = m_sim.waitForLine("robot-sim ready", kStartMs);
    ASSERT_TRUE(ready) << m_sim.errorText().toStdString();
    const QByteArray robotPort = ready->section("tcp=", 1).toLatin1();
    const QDir app(m_appDir.path());
    ASSERT_TRUE(app.mkpath("Config"));
    writeFile(app.filePath("Config/qbtXap.ini"),
              "[Interface]\r\nBusPort=" + QByteArray::number(m_hubPort) +
                  "\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=" + interfaceAddress +
                  "\r\n");
    writeFile(
        app.filePath("Config/qbtRovalink.ini"),
        "[SPYKEE]\r\nDiscoveryAddress=127.0.0.1\r\nRobotPort=" + robotPort + "\r\n" + spykeeLines);
    ASSERT_TRUE(m_gateway.start("rovalink", {"--headless", "--app-dir", m_appDir.path()}));
  }

  static void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(content), content.size());
  }

  // The packets robot-sim received, in order, as "type:payloadhex".
  QStringList packets() const {
    QStringList list;
    for (const QJsonObject& line : m_sim.jsonLines()) {
      if (line.contains("type"))
        list << QStringLiteral("%1:%2").arg(line["type"].toInt()).arg(line["payload"].toString());
    }
    return list;
  }
  void waitForLogin() {
    ASSERT_TRUE(waitUntil([&] { return packets().size() >= 4; }, kStartMs))
        << "robot saw: " << packets().join(' ').toStdString()
        << "\ngateway stderr: " << m_gateway.errorText().toStdString();
    ASSERT_EQ(packets()[0], kLoginPacket);
  }
  // The Data items of the events the gateway published.
  QStringList events() const {
    QStringList found;
    for (const QByteArray& datagram : m_observer.received()) {
      if (!datagram.contains("\nclass=Homeseer.Event\n")) continue;
      const qsizetype at = datagram.indexOf("\nData=");
      if (at >= 0) found << QString::fromLatin1(datagram.mid(at + 6).split('\n').front());
    }
    return found;
  }
  QString errorLog() const {
    QFile file(QDir(m_appDir.path()).filePath("Data/xapqbtSpykee.txt"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
  }

  QTemporaryDir m_appDir;
  Program m_hub;
  UdpPeer m_observer;  // hears all the bus traffic, through the hub
  UdpPeer m_sender;    // sends through the hub, as a legitimate bus client
  Program m_sim;
  Program m_gateway;  // last, so it is stopped first
  QHostAddress m_lan;
  quint16 m_hubPort = 0;
};

// A command sent from the network straight to the private port (on the network address or on
// loopback) or to the socket the program sends from is dropped and logged; the same kind of
// command through the hub works. A pattern of 127.0.0.1 keeps the program on loopback.
class BusSocket : public SecurityNet, public ::testing::WithParamInterface<const char*> {};

TEST_P(BusSocket, OnlyWhatTheLocalHubForwardsDrivesTheRobot) {
  const bool loopbackOnly = QByteArray(GetParam()) == "127.0.0.1";
  ASSERT_NO_FATAL_FAILURE(startAll({}, GetParam()));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  const QRegularExpression registered(
      R"(registered port (\d+) \(qbt\.Spykee\.[^)]*\) from ([\d.]+):(\d+))");
  QRegularExpressionMatch match;
  ASSERT_TRUE(waitUntil(
      [&] {
        match = registered.match(m_hub.errorText());
        return match.hasMatch();
      },
      kReplyMs));
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

  m_sender.send(m_hubPort, bscCommand("spykee.volume.index", "on", "40"));
  ASSERT_TRUE(waitUntil([&] { return packets().size() >= 5; }, kReplyMs))
      << m_gateway.errorText().toStdString();
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

class Discovery : public SecurityNet, public ::testing::WithParamInterface<ForgedAnswer> {};

TEST_P(Discovery, AForgedAnswerDoesNotGetTheLogin) {
  const ForgedAnswer& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(startAll({"--forged-reply", m_lan.toString(), "--forged-text=" + c.text},
                                   "127.0.0.1", c.spykeeLines));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  EXPECT_TRUE(waitUntil([&] { return events().contains("Spykee found at 127.0.0.1"); }, kReplyMs))
      << events().join('|').toStdString();
  EXPECT_FALSE(m_sim.waitForLine("forged-reply", 0) == std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Answers, Discovery,
                         ::testing::Values(ForgedAnswer{"GarbageFromAnotherAddress",
                                                        "RobotAddress=127.0.0.1\r\n",
                                                        "garbage-not-a-robot"},
                                           ForgedAnswer{"EmptyAnswer", "", ""}),
                         [](const auto& p) { return std::string(p.param.name); });

// The watchdog echo sends back a received value: a NUL, code 1 or CR in it neither makes new
// items nor new lines, and a long one is cut so the message keeps to the xAP limit.
TEST_F(SecurityNet, EchoedTextCannotInjectItemsOrLinesAndStaysWithin1500Bytes) {
  ASSERT_NO_FATAL_FAILURE(startAll({}, "127.0.0.1"));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  const QByteArray query =
      QByteArray("abc") + '\0' + "Injected" + '\1' + "value" + '\r' + QByteArray(3000, 'x');
  m_sender.send(m_hubPort,
                "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=WDT.Echo\n"
                "source=rovalink.e2e.peer\n}\nEcho.Query\n{\nQuery=" +
                    query + "\n}\n");
  QByteArray reply;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const QByteArray& datagram : m_observer.received()) {
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

}  // namespace
}  // namespace rovalink::e2e
