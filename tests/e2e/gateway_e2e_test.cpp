// The real `rovalink --headless` against tools/robot-sim, tools/xap-hub and a tools/xap-cli
// listener on loopback ports picked per test: xAP commands reach the robot as exact packets,
// state changes come back on the bus, queries are answered, a dropped robot connection is re-made,
// video frames land whole in the frame file, and the process ends cleanly.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <iostream>
#include <optional>
#include <vector>

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

// The first section's item of an xap-cli JSON line.
QString item(const QJsonObject& message, const char* name) {
  return message["sections"][0]["items"][QLatin1String(name)].toString();
}

const QStringList kLoginSequence{"10:0561646d696e056b656c706f", "15:0101", "18:", "9:32"};

class GatewayE2e : public ::testing::Test {
 protected:
  // Starts the hub, a listening xap-cli, robot-sim (with extra arguments) and then the gateway on
  // a fresh application folder whose settings keep every datagram on loopback.
  void startAll(const QStringList& simArguments, quint16 robotPort = 0) {
    ASSERT_TRUE(m_appDir.isValid());
    m_hubPort = startHub(m_hub);
    ASSERT_NE(m_hubPort, 0);
    ASSERT_TRUE(m_listener.start("xap-cli", {"listen", "--port", QString::number(m_hubPort)}));
    ASSERT_TRUE(m_listener.waitForStderr("registered on port", kReplyMs));

    ASSERT_TRUE(m_sim.start("robot-sim", QStringList{"--port", "0"} + simArguments));
    const auto ready = m_sim.waitForLine("robot-sim ready", kStartMs);
    ASSERT_TRUE(ready) << m_sim.errorText().toStdString();
    const QByteArray port =
        robotPort != 0 ? QByteArray::number(robotPort) : ready->section("tcp=", 1).toLatin1();

    const QDir app(m_appDir.path());
    ASSERT_TRUE(app.mkpath("Config"));
    writeFile(app.filePath("Config/qbtXap.ini"),
              "[Interface]\r\nBusPort=" + QByteArray::number(m_hubPort) +
                  "\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    writeFile(app.filePath("Config/qbtRovalink.ini"),
              "[SPYKEE]\r\nDiscoveryAddress=127.0.0.1\r\nRobotPort=" + port + "\r\n");
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
  std::vector<QJsonObject> simEvents(const QString& name) const {
    std::vector<QJsonObject> found;
    for (const QJsonObject& line : m_sim.jsonLines()) {
      if (line["event"].toString() == name) found.push_back(line);
    }
    return found;
  }
  bool waitForPackets(int count, int timeoutMs = kReplyMs) {
    return waitUntil([&] { return packets().size() >= count; }, timeoutMs);
  }
  // The four packets of the login sequence, and the volume report that closes it on the bus.
  void waitForLogin() {
    ASSERT_TRUE(waitForPackets(4, kStartMs))
        << "robot saw: " << packets().join(' ').toStdString()
        << "\ngateway stderr: " << m_gateway.errorText().toStdString();
    ASSERT_EQ(packets().mid(0, 4), kLoginSequence);
    ASSERT_TRUE(waitUntil([&] { return !events("spykee.Volume.Index").empty(); }, kReplyMs));
  }

  // The messages of class msgClass the listener printed.
  std::vector<QJsonObject> bus(const QString& msgClass) const {
    std::vector<QJsonObject> found;
    for (const QJsonObject& m : m_listener.jsonLines()) {
      if (m["class"].toString().compare(msgClass, Qt::CaseInsensitive) == 0) found.push_back(m);
    }
    return found;
  }
  // The xapBSC.Event messages of one device, given by its sub-address.
  std::vector<QJsonObject> events(const QString& subAddress) const {
    std::vector<QJsonObject> found;
    for (const QJsonObject& m : bus("xapBSC.Event")) {
      if (m["source"].toString().endsWith(QStringLiteral(":") + subAddress)) found.push_back(m);
    }
    return found;
  }
  QString lastState(const QString& subAddress) const {
    const auto all = events(subAddress);
    return all.empty() ? QString() : item(all.back(), "State");
  }
  std::optional<QString> loggedEvent(const QString& startOfData) const {
    for (const QJsonObject& m : bus("Homeseer.Event")) {
      if (item(m, "Data").startsWith(startOfData)) return item(m, "Data");
    }
    return std::nullopt;
  }

  void sendCommand(const char* subAddress, const char* id, const char* state,
                   const char* text = nullptr) {
    m_sender.send(m_hubPort,
                  QByteArray("xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=xAPBSC.cmd\n"
                             "source=rovalink.e2e.peer\ntarget=qbt.Spykee.*:") +
                      subAddress + "\n}\noutput.state.1\n{\nID=" + id + "\nState=" + state + "\n" +
                      (text ? QByteArray("Text=") + text + "\n" : QByteArray()) + "}\n");
  }
  void sendQuery(const QByteArray& subAddress) {
    m_sender.send(m_hubPort,
                  "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=xAPBSC.query\n"
                  "source=rovalink.e2e.peer\ntarget=qbt.Spykee.*:" +
                      subAddress + "\n}\nrequest\n{\n}\n");
  }

  // A path file in the folder the recorder uses.
  QString pathFile(const QByteArray& content) {
    const QDir folder(QDir(m_appDir.path()).filePath("Data/xapqbtSpykee"));
    EXPECT_TRUE(folder.mkpath("."));
    writeFile(folder.filePath("long.txt"), content);
    return folder.filePath("long.txt");
  }

  QString errorLog() const {
    QFile file(QDir(m_appDir.path()).filePath("Data/xapqbtSpykee.txt"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
  }

  QTemporaryDir m_appDir;
  Program m_hub;
  Program m_listener;
  UdpPeer m_sender;  // not registered: the hub passes on datagrams from anyone
  Program m_sim;
  Program m_gateway;  // last, so it is stopped first
  quint16 m_hubPort = 0;
};

TEST_F(GatewayE2e, CommandsReachTheRobotAsItsExactPacketsAndTheNewStateIsPublished) {
  ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "0"}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());

  struct Case {
    const char *subAddress, *id, *state, *text;
    const char* packetHex;  // what the robot must receive, whole
    const char *device, *section, *reportedState, *reportedText;
  };
  const Case cases[] = {
      {"spykee.headled.relay", "*", "on", nullptr, "504B0400020001", "spykee.HeadLED.Relay",
       "output.state", "ON", "0"},
      {"spykee.>", "1C", "off", nullptr, "504B0400020200", "spykee.RightLED.Relay", "output.state",
       "OFF", "0"},
      {"spykee.volume.index", "17", "on", "40", "504B09000128", "spykee.Volume.Index",
       "output.state", "ON", "40"},
      {"spykee.moveforward.switch", "*", "on", nullptr, "504B0500023434", "spykee.Movement.Switch",
       "input.state", "ON", "1"},
  };
  int sent = 4;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    // Some devices were reported during the login; only what follows the command counts.
    const std::size_t before = events(c.device).size();
    sendCommand(c.subAddress, c.id, c.state, c.text);
    ASSERT_TRUE(waitForPackets(++sent)) << m_gateway.errorText().toStdString();
    EXPECT_EQ(packets().mid(sent - 1), QStringList{loggedForm(c.packetHex)});
    ASSERT_TRUE(waitUntil([&] { return events(c.device).size() > before; }, kReplyMs));
    const QJsonObject event = events(c.device)[before];
    EXPECT_TRUE(event["source"].toString().startsWith("qbt.Spykee."));
    EXPECT_EQ(event["target"].toString(), QString());
    EXPECT_EQ(event["sections"][0]["name"].toString(), c.section);
    EXPECT_EQ(item(event, "State"), c.reportedState);
    EXPECT_EQ(item(event, "Text"), c.reportedText);
  }
  EXPECT_TRUE(simEvents("garbage").empty());
}

TEST_F(GatewayE2e, AQueryForEveryDeviceIsAnsweredWithOneInfoEachInTableOrder) {
  ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "0"}));
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
  // The device number is its place in the table, in hex, within the program's UID.
  for (int i = 0; i < 34; ++i) {
    EXPECT_EQ(infos[i]["uid"].toString(),
              QStringLiteral("FF.0065:%1").arg(i + 1, 2, 16, QLatin1Char('0')).toUpper());
    EXPECT_TRUE(infos[i]["sections"][0]["name"].toString().endsWith(".state"));
  }
}

TEST_F(GatewayE2e, AfterTheRobotHangsUpTheNextCommandReconnectsAndLogsInAgain) {
  // The login sequence is four packets; the fifth makes the simulator hang up, once.
  ASSERT_NO_FATAL_FAILURE(startAll({"--close-after", "5", "--fps", "0"}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  const QString connected = "spykee.Connected.Relay";
  ASSERT_TRUE(waitUntil([&] { return lastState(connected) == "ON"; }, kReplyMs));

  sendCommand("spykee.headled.relay", "*", "on");
  ASSERT_TRUE(waitUntil([&] { return simEvents("disconnected").size() == 1; }, kReplyMs));
  // The status refresh notices the lost connection and says so on the bus.
  ASSERT_TRUE(waitUntil([&] { return lastState(connected) == "OFF"; }, kReplyMs));
  EXPECT_EQ(simEvents("connected").size(), 1u);

  sendCommand("spykee.headled.relay", "*", "off");
  ASSERT_TRUE(waitForPackets(10, kStartMs)) << packets().join(' ').toStdString();
  // The new connection hears the login first, then the command that found the connection down.
  EXPECT_EQ(packets().mid(4), QStringList{"4:0001"} + kLoginSequence + QStringList{"4:0000"});
  EXPECT_EQ(simEvents("connected").size(), 2u);
  EXPECT_EQ(simEvents("login").size(), 2u);
}

TEST_F(GatewayE2e, RegistersStoresChunkedFramesWholeAndEndsCleanlyOnSigterm) {
  ASSERT_NO_FATAL_FAILURE(startAll({"--chunk", "500:2500", "--fps", "20"}));
  ASSERT_TRUE(waitUntil([&] { return loggedEvent("Using xAP port").has_value(); }, kStartMs))
      << m_gateway.errorText().toStdString();
  // The announced port is the one the program's heartbeat registered with the hub.
  const QRegularExpression registered(R"(registered port (\d+) \(qbt\.Spykee\.)");
  ASSERT_TRUE(waitUntil([&] { return registered.match(m_hub.errorText()).hasMatch(); }, kReplyMs));
  EXPECT_EQ(*loggedEvent("Using xAP port"),
            "Using xAP port  " + registered.match(m_hub.errorText()).captured(1));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());

  // The frame file holds exactly one picture the simulator sent in several writes.
  const QString frameFile = QDir(m_appDir.path()).filePath("Data/xapqbtSpykee/Video0.jpg");
  ASSERT_TRUE(waitUntil(
      [&] { return QFile::exists(frameFile) && simEvents("frame-sent").size() >= 3; }, kReplyMs));
  QFile frame(frameFile);
  ASSERT_TRUE(frame.open(QIODevice::ReadOnly));
  const QByteArray bytes = frame.readAll();
  EXPECT_TRUE(bytes.startsWith("\xFF\xD8") && bytes.endsWith("\xFF\xD9"));
  int matches = 0;
  for (const QJsonObject& sent : simEvents("frame-sent")) {
    if (sent["fnv"].toString() == fnv1a(bytes) && sent["bytes"].toInt() == bytes.size()) {
      ++matches;
      EXPECT_GE(sent["writes"].toInt(), 2);
    }
  }
  EXPECT_GE(matches, 1) << "frame file of " << bytes.size() << " bytes matches no sent frame";

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
      [&] {
        return m_hub.errorText().contains(
            QStringLiteral("dropped port %1 ")
                .arg(registered.match(m_hub.errorText()).captured(1)));
      },
      kReplyMs))
      << m_hub.errorText().toStdString();
  EXPECT_TRUE(m_hub.errorText().contains("): stopped"));
  EXPECT_TRUE(waitUntil([&] { return simEvents("disconnected").size() == 1; }, kReplyMs));
  EXPECT_EQ(errorLog(), QString());
  EXPECT_FALSE(m_gateway.errorText().contains("rovalink[error]"))
      << m_gateway.errorText().toStdString();
}

// Writes that join several packets and cut headers in two, as TCP may deliver them: every frame
// still counts in the rate the gateway publishes.
TEST_F(GatewayE2e, FramesJoinedInWritesAndCutInsideTheirHeadersAllCount) {
  ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "20", "--coalesce", "--split"}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  waitUntil([] { return false; }, 1000);
  std::vector<int> rates;
  for (int i = 0; i < 12; ++i) {
    const std::size_t before = bus("xapBSC.Info").size();
    sendQuery("spykee.video.relay");
    ASSERT_TRUE(waitUntil([&] { return bus("xapBSC.Info").size() > before; }, kReplyMs));
    rates.push_back(item(bus("xapBSC.Info").back(), "Text").toInt());
    waitUntil([] { return false; }, 150);
  }
  double mean = 0;
  for (const int rate : rates) mean += rate / static_cast<double>(rates.size());
  // 20 frames/s sent; a reader that lost packets sharing a read saw 6 to 9.
  EXPECT_GT(mean, 16.0);
  EXPECT_LT(mean, 24.0);
  EXPECT_TRUE(simEvents("garbage").empty());
}

// Costs the full 30 s discovery wait in real time.
TEST_F(GatewayE2e, WithoutAnAnsweringRobotTheProgramEndsWithSpykeeNotFound) {
  ASSERT_NO_FATAL_FAILURE(startAll({"--silent"}));
  ASSERT_TRUE(waitUntil([&] { return loggedEvent("Using xAP port").has_value(); }, kStartMs));
  const std::optional<int> code = m_gateway.waitForExit(30000 + 2 * kStartMs);
  ASSERT_TRUE(code) << "still running after the discovery wait";
  EXPECT_NE(*code, 0);
  EXPECT_TRUE(m_gateway.errorText().contains("Spykee not found"))
      << m_gateway.errorText().toStdString();
  EXPECT_TRUE(errorLog().contains("Spykee not found")) << errorLog().toStdString();
  EXPECT_EQ(simEvents("discovery").size(), 1u);
  EXPECT_TRUE(simEvents("connected").empty());
}

}  // namespace
}  // namespace rovalink::e2e

namespace rovalink::e2e {
namespace {

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
  const QString forward = loggedForm("504B0500023434"), stop = loggedForm("504B0500020000");
  switch (c.state) {
    case Waiting::Discovery:
      ASSERT_NO_FATAL_FAILURE(startAll({"--silent"}));
      ASSERT_TRUE(waitUntil([&] { return !simEvents("discovery").empty(); }, kStartMs));
      break;
    case Waiting::Connect:
      ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "0"}, answerDiscoveryOnly()));
      ASSERT_TRUE(waitUntil([&] { return m_discoveries > 0; }, kStartMs));
      waitUntil([] { return false; }, 2500);  // past the 1 s pause, into the 30 s wait
      break;
    case Waiting::Login:
      ASSERT_NO_FATAL_FAILURE(startAll({"--refuse-login", "--fps", "0"}));
      ASSERT_TRUE(waitForPackets(1, kStartMs));
      ASSERT_TRUE(
          waitUntil([&] { return loggedEvent("Robot refused the login").has_value(); }, kReplyMs));
      break;
    case Waiting::PathRun: {
      ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "0"}));
      ASSERT_NO_FATAL_FAILURE(waitForLogin());
      const QString path = pathFile("MoveForward\t86400\t\r\nMoveLeft\t1\t\r\n");
      sendCommand("spykee.file.relay", "*", "on", path.toLatin1().constData());
      ASSERT_TRUE(waitUntil([&] { return packets().contains(forward); }, kReplyMs));
      break;
    }
    case Waiting::XapFlood:
      ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "20"}));
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
  EXPECT_EQ(after, c.state == Waiting::PathRun ? QStringList{stop} : QStringList{})
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

// A path line holding the queue for a day: an xAP MoveStop stops the robot and the run at once.
TEST_F(GatewayE2e, AnXapMoveStopEndsALongPathRunAtOnce) {
  ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "0"}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  const QString path = pathFile("MoveForward\t86400\t\r\nMoveLeft\t1\t\r\nFile\t0\tEnd\r\n");
  sendCommand("spykee.file.relay", "*", "on", path.toLatin1().constData());
  const QString forward = loggedForm("504B0500023434"), stop = loggedForm("504B0500020000");
  ASSERT_TRUE(waitUntil([&] { return packets().contains(forward); }, kReplyMs));
  ASSERT_TRUE(waitUntil([&] { return lastState("spykee.File.Relay") == "ON"; }, kReplyMs));
  sendCommand("spykee.movestop.switch", "*", "on");
  ASSERT_TRUE(waitUntil([&] { return packets().contains(stop); }, 2000));
  ASSERT_TRUE(waitUntil([&] { return lastState("spykee.File.Relay") == "OFF"; }, 2000));
  EXPECT_EQ(packets().mid(packets().indexOf(forward)), (QStringList{forward, stop}));
  QFile proof(QDir(m_appDir.path()).filePath("Data/xapqbtSpykee/long_Proof.txt"));
  ASSERT_TRUE(proof.open(QIODevice::ReadOnly));
  EXPECT_TRUE(proof.readAll().contains("\tMoveStop\t0\t\r\n"));
}

}  // namespace
}  // namespace rovalink::e2e
