// The real `rovalink --headless` against tools/robot-sim, tools/xap-hub and a tools/xap-cli
// listener on loopback ports picked per test: xAP commands reach the robot as exact packets,
// state changes come back on the bus, queries are answered, video frames delivered in joined and
// cut writes land whole in the frame file, and the process ends cleanly.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <csignal>
#include <iostream>
#include <optional>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

// A robot packet given as its full bytes in hex, in robot-sim's log form "type:payloadhex".
QString loggedForm(const char* packetHex) {
  const QByteArray bytes = QByteArray::fromHex(packetHex);
  return QStringLiteral("%1:%2").arg(uchar(bytes[2])).arg(QLatin1String(bytes.mid(5).toHex()));
}

QString fnv1a(const QByteArray& data) {
  quint32 hash = 2166136261u;
  for (unsigned char c : data) hash = (hash ^ c) * 16777619u;
  return QString::number(hash, 16).rightJustified(8, QLatin1Char('0'));
}

const QString kForward = loggedForm("504B0500023434");
const QString kStop = loggedForm("504B0500020000");

class GatewayE2e : public GatewayTest {
 protected:
  // Starts a path run whose first line drives forward for a day; returns once the robot drives.
  void startLongPathRun() {
    const QString path = appPath("Data/xapqbtSpykee/long.txt");
    ASSERT_NO_FATAL_FAILURE(
        write("Data/xapqbtSpykee/long.txt", "MoveForward\t86400\t\r\nMoveLeft\t1\t\r\n"));
    sendCommand("spykee.file.relay", "on", path.toLatin1().constData());
    ASSERT_TRUE(waitUntil([&] { return packets().contains(kForward); }, kReplyMs));
  }
};

TEST_F(GatewayE2e, ACommandReachesTheRobotAsItsExactPacketAndTheNewStateIsPublished) {
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "0"}}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  // The volume was reported during the login; only what follows the command counts.
  const QString volume = "spykee.Volume.Index";
  const std::size_t before = events(volume).size();
  sendCommand("spykee.volume.index", "on", "40", "17");
  ASSERT_TRUE(waitForPackets(5)) << m_gateway.errorText().toStdString();
  EXPECT_EQ(packets().mid(4), QStringList{loggedForm("504B09000128")});
  ASSERT_TRUE(waitUntil([&] { return events(volume).size() > before; }, kReplyMs));
  const QJsonObject event = events(volume)[before];
  EXPECT_TRUE(event["source"].toString().startsWith("qbt.Spykee."));
  EXPECT_EQ(event["target"].toString(), QString());
  EXPECT_EQ(event["sections"][0]["name"].toString(), "output.state");
  EXPECT_EQ(item(event, "State"), "ON");
  EXPECT_EQ(item(event, "Text"), "40");
  EXPECT_TRUE(simEvents("garbage").empty());
}

TEST_F(GatewayE2e, AQueryForEveryDeviceIsAnsweredWithOneInfoEachInTableOrder) {
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "0"}}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  // The gateway handles messages in order: once the answer to a query for the last device is
  // in, every answer to the query before it is in too.
  sendQuery("spykee.*");
  sendQuery("spykee.connected.relay");
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto infos = bus("xapBSC.Info");
        return infos.size() >= 35 && infos.back()["uid"].toString() == "FF.0065:22";
      },
      kReplyMs));
  const auto infos = bus("xapBSC.Info");
  ASSERT_EQ(infos.size(), 35u);
  EXPECT_EQ(infos.front()["uid"].toString(), "FF.0065:01");
}

// The simulator joins the packets of each 100 ms into one write and cuts each write inside a
// packet header, as TCP may deliver them.
TEST_F(GatewayE2e, RegistersStoresJoinedAndCutFramesWholeAndEndsCleanlyOnSigterm) {
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "20", "--coalesce", "--split"}}));
  ASSERT_TRUE(waitUntil([&] { return !eventData("Using xAP port").empty(); }, kStartMs))
      << m_gateway.errorText().toStdString();
  // The announced port is the one the program's heartbeat registered with the hub.
  const QString privatePort = registration().captured(1);
  ASSERT_FALSE(privatePort.isEmpty()) << m_hub.errorText().toStdString();
  EXPECT_EQ(eventData("Using xAP port").front(), "Using xAP port  " + privatePort);
  ASSERT_NO_FATAL_FAILURE(waitForLogin());

  // The frame file holds exactly one picture the simulator sent. That every joined or cut frame
  // counts is RobotLinkTest.TelemetryArrivesWholeHoweverTheNetworkJoinsAndCutsIt's, and the
  // rate published from the count GatewayTest.TheStatusRefresh...As24Hz's.
  const QString frameFile = appPath("Data/xapqbtSpykee/Video0.jpg");
  ASSERT_TRUE(waitUntil(
      [&] { return QFile::exists(frameFile) && simEvents("frame-sent").size() >= 3; }, kReplyMs));
  QFile frame(frameFile);
  ASSERT_TRUE(frame.open(QIODevice::ReadOnly));
  const QByteArray bytes = frame.readAll();
  EXPECT_TRUE(bytes.startsWith("\xFF\xD8") && bytes.endsWith("\xFF\xD9"));
  int matches = 0;
  for (const QJsonObject& sent : simEvents("frame-sent")) {
    matches += sent["fnv"].toString() == fnv1a(bytes) && sent["bytes"].toInt() == bytes.size();
  }
  EXPECT_GE(matches, 1) << "frame file of " << bytes.size() << " bytes matches no sent frame";
  EXPECT_TRUE(simEvents("garbage").empty());

  // The role answer names the executable that runs, not a file below the application folder.
  m_sender.send(m_hubPort,
                "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=Homeseer.Role\n"
                "source=rovalink.e2e.peer\n}\nRole.Query\n{\nRole=Any\n}\n");
  QString path;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const QJsonObject& m : bus("Homeseer.Role")) {
          if (item(m, "Role") == "Interface") path = item(m, "Path");
        }
        return !path.isEmpty();
      },
      kReplyMs));
  EXPECT_EQ(path, QFileInfo(programPath("rovalink")).canonicalFilePath());

  m_gateway.stop();
  EXPECT_EQ(m_gateway.waitForExit(0), 0) << m_gateway.errorText().toStdString();
  // Its goodbye heartbeat makes the hub drop the port at once.
  EXPECT_TRUE(waitUntil(
      [&] { return m_hub.errorText().contains("dropped port " + privatePort + " "); }, kReplyMs))
      << m_hub.errorText().toStdString();
  EXPECT_TRUE(m_hub.errorText().contains("): stopped"));
  EXPECT_TRUE(waitUntil([&] { return simEvents("disconnected").size() == 1; }, kReplyMs));
  EXPECT_EQ(errorLog(), QString());
  EXPECT_FALSE(m_gateway.errorText().contains("rovalink[error]"))
      << m_gateway.errorText().toStdString();
}

// A first start as people do it: no display, a password the robot does not take. The program
// says it runs headless and why the robot is not usable. The refused line's words, its event and
// that nothing but logins follow are RobotLinkTest.ARefusedLoginIsRetriedAtADoublingBackOff...'s.
TEST_F(GatewayE2e, WithoutADisplayAndWithAWrongPasswordItRunsHeadlessAndSaysTheLoginWasRefused) {
  ASSERT_NO_FATAL_FAILURE(
      startAll({.sim = {"--password", "other", "--fps", "0"}, .noDisplay = true}));
  ASSERT_TRUE(
      m_gateway.waitForStderr("rovalink: login refused by the robot at 127.0.0.1", kStartMs))
      << m_gateway.errorText().toStdString();
  EXPECT_TRUE(m_gateway.errorText().contains("rovalink: no display ("));
}

// Costs the full 30 s discovery wait in real time.
TEST_F(GatewayE2e, WithoutAnAnsweringRobotTheProgramEndsWithSpykeeNotFound) {
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--silent"}}));
  ASSERT_TRUE(waitUntil([&] { return !eventData("Using xAP port").empty(); }, kStartMs));
  const std::optional<int> code = m_gateway.waitForExit(30000 + 2 * kStartMs);
  ASSERT_TRUE(code) << "still running after the discovery wait";
  EXPECT_NE(*code, 0);
  EXPECT_TRUE(m_gateway.errorText().contains("Spykee not found"))
      << m_gateway.errorText().toStdString();
  EXPECT_TRUE(errorLog().contains("Spykee not found")) << errorLog().toStdString();
  EXPECT_TRUE(m_gateway.errorText().contains("rovalink: searching for the robot (20 s)\n"))
      << m_gateway.errorText().toStdString();
  EXPECT_TRUE(simEvents("connected").empty());
}

// Exit in every state the program can wait in ends the process within 2 s of the signal, and
// the robot hears nothing after it but the stop of a robot left moving.
enum class Waiting { Discovery, Connect, Login, PathRun, XapFlood };
struct ExitCase {
  const char* name;
  Waiting state;
  int signal;
};

class ExitE2e : public GatewayE2e, public ::testing::WithParamInterface<ExitCase> {
 protected:
  // Answers the discovery from a port on which no robot accepts TCP: the connect wait runs.
  quint16 answerDiscoveryOnly() {
    EXPECT_TRUE(m_mute.bind(QHostAddress::LocalHost, 0));
    QObject::connect(&m_mute, &QUdpSocket::readyRead, [this] {
      while (m_mute.hasPendingDatagrams()) {
        const QNetworkDatagram d = m_mute.receiveDatagram();
        m_mute.writeDatagram(QByteArray("DSCV\x02mute", 9), d.senderAddress(),
                             static_cast<quint16>(d.senderPort()));
        ++m_discoveries;
      }
    });
    return m_mute.localPort();
  }
  QUdpSocket m_mute;
  int m_discoveries = 0;
};

TEST_P(ExitE2e, TheProcessEndsWithinTwoSecondsOfTheSignal) {
  const ExitCase& c = GetParam();
  switch (c.state) {
    case Waiting::Discovery:
      ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--silent"}}));
      ASSERT_TRUE(waitUntil([&] { return !simEvents("discovery").empty(); }, kStartMs));
      break;
    case Waiting::Connect:
      ASSERT_NO_FATAL_FAILURE(
          startAll({.sim = {"--fps", "0"}, .robotPort = answerDiscoveryOnly()}));
      ASSERT_TRUE(waitUntil([&] { return m_discoveries > 0; }, kStartMs));
      waitUntil([] { return false; }, 2500);  // past the 1 s pause, into the 30 s wait
      break;
    case Waiting::Login:
      ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--refuse-login", "--fps", "0"}}));
      ASSERT_TRUE(waitForPackets(1, kStartMs));
      ASSERT_TRUE(
          waitUntil([&] { return !eventData("Robot refused the login").empty(); }, kReplyMs));
      break;
    case Waiting::PathRun:
      ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "0"}}));
      ASSERT_NO_FATAL_FAILURE(waitForLogin());
      ASSERT_NO_FATAL_FAILURE(startLongPathRun());
      break;
    case Waiting::XapFlood:
      ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "20"}}));
      ASSERT_NO_FATAL_FAILURE(waitForLogin());
      for (int i = 0; i < 3000; ++i) sendQuery("spykee.*");
      break;
  }
  const int packetsBefore = static_cast<int>(packets().size());
  QElapsedTimer clock;
  clock.start();
  m_gateway.signal(c.signal);
  const std::optional<int> code = m_gateway.waitForExit(kStartMs);
  const qint64 ms = clock.elapsed();
  std::cout << "[ measured ] " << c.name << ": exit " << ms << " ms after the signal\n";
  ASSERT_TRUE(code) << "still running";
  EXPECT_EQ(*code, 0) << m_gateway.errorText().toStdString();
  EXPECT_LT(ms, 2000);
  // Nothing after the signal but the stop of a robot that was driving.
  waitUntil([] { return false; }, 300);
  const QStringList after = packets().mid(packetsBefore);
  EXPECT_EQ(after, c.state == Waiting::PathRun ? QStringList{kStop} : QStringList{})
      << packets().join(' ').toStdString();
  EXPECT_LE(simEvents("connected").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(States, ExitE2e,
                         ::testing::Values(ExitCase{"DiscoveryWait", Waiting::Discovery, SIGTERM},
                                           ExitCase{"ConnectWait", Waiting::Connect, SIGINT},
                                           ExitCase{"LoginWait", Waiting::Login, SIGHUP},
                                           ExitCase{"PathRunPacingWait", Waiting::PathRun, SIGTERM},
                                           ExitCase{"XapFlood", Waiting::XapFlood, SIGTERM}),
                         [](const auto& p) { return std::string(p.param.name); });

// A burst of MoveForward through the hub, then one MoveStop: the stop reaches the robot and
// nothing drives it after; the motions still queued behind it were dropped.
TEST_F(GatewayE2e, AStopAfterABurstOfMotionsIsTheLastThingTheRobotHears) {
  ASSERT_NO_FATAL_FAILURE(startAll({.sim = {"--fps", "0"}}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  // The last motor packet robot-sim logged, "" before any.
  const auto lastMotor = [&] {
    const QStringList& lines = m_sim.lines();
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
      if (line->contains(QLatin1String("\"type\":5,"))) return *line;
    }
    return QString();
  };
  const QByteArray forward = bscCommand("spykee.moveforward.switch", "on");
  QElapsedTimer clock;
  clock.start();
  for (qint64 sent = 0; clock.elapsed() < 500;) {  // about 20,000 a second
    for (; sent < clock.elapsed() * 20; ++sent) m_sender.send(m_hubPort, forward);
    QCoreApplication::processEvents();
  }
  sendCommand("spykee.movestop.switch", "on");
  const qint64 stopSentMs = clock.elapsed();
  ASSERT_TRUE(waitUntil([&] { return lastMotor().contains(QLatin1String("\"0000\"")); }, kStartMs))
      << lastMotor().toStdString();
  std::cout << "[ measured ] stop reached the robot " << clock.elapsed() - stopSentMs
            << " ms after it was sent\n";
  // A command queued after the stop comes after everything before it: no motion in between.
  sendCommand("spykee.headled.relay", "on");
  ASSERT_TRUE(waitUntil([&] { return packets().contains("4:0001"); }, kReplyMs));
  const QStringList all = packets();
  EXPECT_TRUE(all.contains(kForward));
  EXPECT_EQ(all.mid(all.lastIndexOf(kStop)), (QStringList{kStop, "4:0001"}));
}

// A second instance on this computer, whose web port the first holds while it holds the robot:
// SIGTERM while the port's failure event goes out ends it cleanly (it used to crash here when
// the login it started inside that send finished after the shutdown).
TEST_F(GatewayE2e, ASecondInstanceWithItsWebPortTakenEndsCleanlyOnSigterm) {
  ASSERT_NO_FATAL_FAILURE(
      startAll({.sim = {"--fps", "0"},
                .spykeeLines = "ServerPort=" + QByteArray::number(freeTcpPort()) + "\r\n"}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  QTemporaryDir second;
  ASSERT_TRUE(QDir().mkpath(second.filePath("Config")));
  QFile::copy(appPath("Config/qbtXap.ini"), second.filePath("Config/qbtXap.ini"));
  QFile::copy(appPath("Config/qbtRovalink.ini"), second.filePath("Config/qbtRovalink.ini"));
  // The race is the login starting inside that send: a few rounds make it near certain.
  for (int round = 0; round < 3; ++round) {
    const std::size_t reported = eventData("Server Form_Load").size();
    Program instance;
    ASSERT_TRUE(instance.start("rovalink", {"--headless", "--app-dir", second.path()}));
    ASSERT_TRUE(
        waitUntil([&] { return eventData("Server Form_Load").size() > reported; }, kStartMs));
    instance.signal(SIGTERM);
    EXPECT_EQ(instance.waitForExit(kStartMs), std::optional<int>(0))
        << instance.errorText().toStdString();
  }
}

}  // namespace
}  // namespace rovalink::e2e
