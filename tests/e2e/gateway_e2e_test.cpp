// The real `rovalink --headless` against tools/robot-sim and tools/xap-hub on loopback ports
// picked per test: xAP commands reach the robot as exact packets, state changes come back on the
// bus, queries are answered, a dropped robot connection is re-made, and the process ends cleanly.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

// One received xAP datagram: header fields by lower-case name, then the body sections in order.
struct XapText {
  QMap<QString, QString> header;
  std::vector<std::pair<QString, QMap<QString, QString>>> sections;

  QString field(const QString& name) const { return header.value(name); }
  std::optional<QMap<QString, QString>> section(const QString& name) const {
    for (const auto& [sectionName, items] : sections) {
      if (sectionName.compare(name, Qt::CaseInsensitive) == 0) return items;
    }
    return std::nullopt;
  }
};

XapText parseXap(const QByteArray& datagram) {
  XapText text;
  const QList<QByteArray> lines = datagram.split('\n');
  QString name;
  QMap<QString, QString> items;
  bool inHeader = true;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QByteArray line = lines[i].trimmed();
    if (line == "{" || line.isEmpty()) continue;
    if (line == "}") {
      if (!inHeader) text.sections.emplace_back(name, items);
      inHeader = false;
      items.clear();
    } else if (const qsizetype eq = line.indexOf('='); eq >= 0) {
      const QString key = QString::fromLatin1(line.left(eq));
      const QString value = QString::fromLatin1(line.mid(eq + 1));
      if (inHeader) {
        text.header.insert(key.toLower(), value);
      } else {
        items.insert(key, value);
      }
    } else {
      name = QString::fromLatin1(line);
    }
  }
  return text;
}

// A robot packet given as its full bytes in hex, as robot-sim logs it: "type:payloadhex".
QString loggedForm(const QByteArray& packetHex) {
  const QByteArray bytes = QByteArray::fromHex(packetHex);
  if (bytes.size() < 5 || !bytes.startsWith("PK")) return QStringLiteral("not a packet");
  const int length =
      (static_cast<unsigned char>(bytes[3]) << 8) | static_cast<unsigned char>(bytes[4]);
  if (length != bytes.size() - 5) return QStringLiteral("bad length");
  return QStringLiteral("%1:%2")
      .arg(static_cast<unsigned char>(bytes[2]))
      .arg(QString::fromLatin1(bytes.mid(5).toHex()));
}

const QString kLogin = QStringLiteral("10:0561646d696e056b656c706f");  // admin / kelpo
const QStringList kLoginSequence{kLogin, QStringLiteral("15:0101"), QStringLiteral("18:"),
                                 QStringLiteral("9:32")};

class GatewayE2e : public ::testing::Test {
 protected:
  // Starts the hub, a bus listener, robot-sim (with extra arguments) and then the gateway on a
  // fresh application folder whose settings keep every datagram on loopback.
  void startAll(const QStringList& simArguments = {}) {
    ASSERT_TRUE(m_appDir.isValid());
    m_hubPort = startHub(m_hub);
    ASSERT_NE(m_hubPort, 0);
    ASSERT_TRUE(m_bus.registerWith(m_hubPort));

    const QString sim = programPath(QStringLiteral("robot-sim"));
    ASSERT_FALSE(sim.isEmpty());
    ASSERT_TRUE(m_sim.start(
        sim, QStringList{QStringLiteral("--port"), QStringLiteral("0")} + simArguments));
    const auto ready = m_sim.waitForLine(QStringLiteral("robot-sim ready"), kStartMs);
    ASSERT_TRUE(ready) << m_sim.errorText().toStdString();
    m_robotPort = ready->section(QStringLiteral("tcp="), 1).toUShort();
    ASSERT_NE(m_robotPort, 0);

    const QDir app(m_appDir.path());
    ASSERT_TRUE(app.mkpath(QStringLiteral("Config")));
    writeFile(app.filePath(QStringLiteral("Config/qbtXap.ini")),
              "[Interface]\r\nBusPort=" + QByteArray::number(m_hubPort) +
                  "\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    writeFile(app.filePath(QStringLiteral("Config/qbtRovalink.ini")),
              "[SPYKEE]\r\nDiscoveryAddress=127.0.0.1\r\nRobotPort=" +
                  QByteArray::number(m_robotPort) + "\r\n");

    const QString gateway = programPath(QStringLiteral("rovalink"));
    ASSERT_FALSE(gateway.isEmpty());
    ASSERT_TRUE(m_gateway.start(
        gateway, {QStringLiteral("--headless"), QStringLiteral("--app-dir"), m_appDir.path()}));
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
      if (line.contains(QStringLiteral("type"))) {
        list << QStringLiteral("%1:%2")
                    .arg(line.value(QStringLiteral("type")).toInt())
                    .arg(line.value(QStringLiteral("payload")).toString());
      }
    }
    return list;
  }
  int simEvents(const QString& name) const {
    int count = 0;
    for (const QJsonObject& line : m_sim.jsonLines()) {
      if (line.value(QStringLiteral("event")).toString() == name) ++count;
    }
    return count;
  }
  bool waitForPackets(int count, int timeoutMs = kReplyMs) {
    return waitUntil([&] { return packets().size() >= count; }, timeoutMs);
  }
  // Discovery, connect and the four packets of the login sequence.
  void waitForLogin() {
    ASSERT_TRUE(waitForPackets(4, kStartMs))
        << "robot saw: " << packets().join(' ').toStdString()
        << "\ngateway stderr: " << m_gateway.errorText().toStdString();
    ASSERT_EQ(packets().mid(0, 4), kLoginSequence);
    // The volume report closes the sequence on the bus; it may trail the robot's packet.
    ASSERT_TRUE(waitUntil(
        [&] {
          return !statusOf(QStringLiteral("xapBSC.Event"), QStringLiteral("spykee.Volume.Index"))
                      .empty();
        },
        kReplyMs));
  }

  // Every datagram the bus listener got, parsed, whose class matches.
  std::vector<XapText> busMessages(const QString& msgClass) const {
    std::vector<XapText> found;
    for (const QByteArray& datagram : m_bus.received()) {
      XapText text = parseXap(datagram);
      if (text.field(QStringLiteral("class")).compare(msgClass, Qt::CaseInsensitive) == 0) {
        found.push_back(std::move(text));
      }
    }
    return found;
  }
  // Status messages of class msgClass whose source ends in the device's sub-address.
  std::vector<XapText> statusOf(const QString& msgClass, const QString& subAddress) const {
    std::vector<XapText> found;
    for (XapText& text : busMessages(msgClass)) {
      if (text.field(QStringLiteral("source")).endsWith(QLatin1Char(':') + subAddress)) {
        found.push_back(std::move(text));
      }
    }
    return found;
  }
  // The State item of the device's latest xapBSC.Event, empty when none came.
  QString lastState(const QString& subAddress) const {
    const auto events = statusOf(QStringLiteral("xapBSC.Event"), subAddress);
    if (events.empty()) return {};
    const auto items = events.back().section(QStringLiteral("output.state"));
    return items ? items->value(QStringLiteral("State")) : QString();
  }
  std::optional<QString> loggedEvent(const QString& startOfData) const {
    for (const XapText& text : busMessages(QStringLiteral("Homeseer.Event"))) {
      const auto log = text.section(QStringLiteral("Event.Log"));
      if (log && log->value(QStringLiteral("Data")).startsWith(startOfData)) {
        return log->value(QStringLiteral("Data"));
      }
    }
    return std::nullopt;
  }

  void sendCommand(const QString& subAddress, const QString& id, const QString& state,
                   const std::optional<QString>& text = std::nullopt) {
    QByteArray message =
        "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=xAPBSC.cmd\nsource=rovalink.e2e.peer\n"
        "target=acme.robot.host:" +
        subAddress.toLatin1() + "\n}\noutput.state.1\n{\nID=" + id.toLatin1() +
        "\nState=" + state.toLatin1() + "\n";
    if (text) message += "Text=" + text->toLatin1() + "\n";
    m_bus.send(m_hubPort, message + "}\n");
  }
  void sendQuery(const QString& subAddress) {
    m_bus.send(m_hubPort,
               "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=xAPBSC.query\n"
               "source=rovalink.e2e.peer\ntarget=qbt.Spykee.*:" +
                   subAddress.toLatin1() + "\n}\nrequest\n{\n}\n");
  }

  QString errorLog() const {
    QFile file(QDir(m_appDir.path()).filePath(QStringLiteral("Data/xapqbtSpykee.txt")));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(file.readAll());
  }

  QTemporaryDir m_appDir;
  Program m_hub;
  UdpPeer m_bus;
  Program m_sim;
  Program m_gateway;  // last, so it is stopped first
  quint16 m_hubPort = 0;
  quint16 m_robotPort = 0;
};

struct CommandCase {
  const char* name;
  const char* subAddress;
  const char* id;
  const char* state;
  const char* text;       // nullptr: no Text item
  const char* packetHex;  // what the robot must receive, whole
  const char* reported;   // the device whose xapBSC.Event follows
  const char* section;
  const char* reportedState;
  const char* reportedText;  // nullptr: not checked (it moves with the robot)
};

void PrintTo(const CommandCase& c, std::ostream* os) {
  *os << c.name;
}

class GatewayCommand : public GatewayE2e, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(GatewayCommand, ReachesTheRobotAsItsPacketAndTheNewStateIsPublished) {
  const CommandCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(startAll({QStringLiteral("--fps"), QStringLiteral("0")}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());

  const QString device = QString::fromLatin1(c.reported);
  // The login sequence reports some devices already; only what follows the command counts.
  const std::size_t before = statusOf(QStringLiteral("xapBSC.Event"), device).size();
  sendCommand(QString::fromLatin1(c.subAddress), QString::fromLatin1(c.id),
              QString::fromLatin1(c.state),
              c.text ? std::optional<QString>(QString::fromLatin1(c.text)) : std::nullopt);
  ASSERT_TRUE(waitForPackets(5)) << m_gateway.errorText().toStdString();
  EXPECT_EQ(packets().mid(4), QStringList{loggedForm(c.packetHex)});
  EXPECT_EQ(simEvents(QStringLiteral("garbage")), 0);

  ASSERT_TRUE(waitUntil(
      [&] { return statusOf(QStringLiteral("xapBSC.Event"), device).size() > before; }, kReplyMs))
      << "no xapBSC.Event from " << c.reported;
  const XapText event = statusOf(QStringLiteral("xapBSC.Event"), device)[before];
  EXPECT_TRUE(event.field(QStringLiteral("source")).startsWith(QStringLiteral("qbt.Spykee.")));
  EXPECT_FALSE(event.header.contains(QStringLiteral("target")));
  const auto items = event.section(QString::fromLatin1(c.section));
  ASSERT_TRUE(items) << "no section " << c.section;
  EXPECT_EQ(items->value(QStringLiteral("State")), QString::fromLatin1(c.reportedState));
  if (c.reportedText) {
    EXPECT_EQ(items->value(QStringLiteral("Text")), QString::fromLatin1(c.reportedText));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, GatewayCommand,
    ::testing::Values(
        CommandCase{"HeadLedOn", "spykee.headled.relay", "*", "on", nullptr, "504B0400020001",
                    "spykee.HeadLED.Relay", "output.state", "ON", "0"},
        CommandCase{"RightLedOffById", "spykee.>", "1C", "off", nullptr, "504B0400020200",
                    "spykee.RightLED.Relay", "output.state", "OFF", "0"},
        CommandCase{"MoveForwardStartsMotion", "spykee.moveforward.switch", "*", "on", nullptr,
                    "504B0500023434", "spykee.Movement.Switch", "input.state", "ON", "1"},
        CommandCase{"VolumeFromText", "spykee.volume.index", "17", "on", "40", "504B09000128",
                    "spykee.Volume.Index", "output.state", "ON", "40"},
        CommandCase{"SoundLaugh", "spykee.soundlaugh.switch", "*", "on", nullptr, "504B07000103",
                    "spykee.SoundLaugh.Switch", "output.state", "ON", "0"},
        CommandCase{"Dock", "spykee.docked.relay", "*", "on", nullptr, "504B10000106",
                    "spykee.Docked.Relay", "output.state", "ON", "0"}),
    [](const ::testing::TestParamInfo<CommandCase>& param) {
      return std::string(param.param.name);
    });

const QStringList kDeviceNames{"LoginSequence",
                               "MoveForward",
                               "MoveBackward",
                               "MoveRight",
                               "MoveLeft",
                               "MoveForwardRight",
                               "MoveBackwardRight",
                               "MoveForwardLeft",
                               "MoveBackwardLeft",
                               "MoveStop",
                               "Movement",
                               "SoundCamera",
                               "SoundAlarm",
                               "SoundBomb",
                               "SoundLazer",
                               "SoundLaugh",
                               "SoundEngine",
                               "SoundRobot",
                               "SoundLove",
                               "SoundCall",
                               "StopDock",
                               "Battery",
                               "Volume",
                               "Speed",
                               "File",
                               "HeadLED",
                               "LeftLED",
                               "RightLED",
                               "Docked",
                               "VOIP",
                               "Audio",
                               "Video",
                               "Turbo",
                               "Connected"};

TEST_F(GatewayE2e, QueriesAreAnsweredWithOneInfoMessagePerMatchingDeviceInTableOrder) {
  ASSERT_NO_FATAL_FAILURE(startAll({QStringLiteral("--fps"), QStringLiteral("0")}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());

  struct Query {
    const char* subAddress;
    QStringList names;
  };
  const std::vector<Query> queries{
      {"spykee.*", kDeviceNames},
      {"spykee.*.relay", kDeviceNames.mid(24)},
      {"spykee.headled.relay", {"HeadLED"}},
      {"spykee.nosuchdevice.relay", {}},
      {">", kDeviceNames},
  };
  // Each query is followed by one for the last device: the gateway handles messages in order,
  // so once that answer is in, every answer to the query before it is in too.
  for (const Query& query : queries) {
    SCOPED_TRACE(query.subAddress);
    const std::size_t before = busMessages(QStringLiteral("xapBSC.Info")).size();
    sendQuery(QString::fromLatin1(query.subAddress));
    sendQuery(QStringLiteral("spykee.connected.relay"));
    ASSERT_TRUE(waitUntil(
        [&] {
          const auto infos = busMessages(QStringLiteral("xapBSC.Info"));
          return infos.size() > before &&
                 infos.back().field(QStringLiteral("uid")) == QLatin1String("FF.0065:22") &&
                 infos.size() >= before + static_cast<std::size_t>(query.names.size()) + 1;
        },
        kReplyMs));
    std::vector<XapText> infos = busMessages(QStringLiteral("xapBSC.Info"));
    infos.erase(infos.begin(), infos.begin() + static_cast<std::ptrdiff_t>(before));
    infos.pop_back();  // the answer to the marker query
    QStringList names;
    for (std::size_t i = 0; i < infos.size(); ++i) {
      const QString source = infos[i].field(QStringLiteral("source"));
      names << source.section(QLatin1Char(':'), 1).section(QLatin1Char('.'), 1, 1);
      EXPECT_TRUE(infos[i].section(QStringLiteral("output.state")) ||
                  infos[i].section(QStringLiteral("input.state")))
          << source.toStdString();
    }
    EXPECT_EQ(names, query.names);
  }

  // The device number is its place in the table, in hex, within the program's UID.
  const auto all = busMessages(QStringLiteral("xapBSC.Info"));
  ASSERT_GE(all.size(), 34u);
  for (int i = 0; i < 34; ++i) {
    EXPECT_EQ(all[static_cast<std::size_t>(i)].field(QStringLiteral("uid")),
              QStringLiteral("FF.0065:%1").arg(i + 1, 2, 16, QLatin1Char('0')).toUpper());
  }
}

TEST_F(GatewayE2e, AfterTheRobotHangsUpTheNextCommandReconnectsAndLogsInAgain) {
  // The login sequence is four packets; the fifth makes the simulator hang up, once.
  ASSERT_NO_FATAL_FAILURE(startAll({QStringLiteral("--close-after"), QStringLiteral("5"),
                                    QStringLiteral("--fps"), QStringLiteral("0")}));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  const QString connected = QStringLiteral("spykee.Connected.Relay");
  ASSERT_TRUE(waitUntil([&] { return lastState(connected) == QLatin1String("ON"); }, kReplyMs));

  sendCommand(QStringLiteral("spykee.headled.relay"), QStringLiteral("*"), QStringLiteral("on"));
  ASSERT_TRUE(waitUntil([&] { return simEvents(QStringLiteral("disconnected")) == 1; }, kReplyMs));
  // The status refresh notices the lost connection and says so on the bus.
  ASSERT_TRUE(waitUntil([&] { return lastState(connected) == QLatin1String("OFF"); }, kReplyMs));
  EXPECT_EQ(simEvents(QStringLiteral("connected")), 1);

  sendCommand(QStringLiteral("spykee.headled.relay"), QStringLiteral("*"), QStringLiteral("off"));
  ASSERT_TRUE(waitForPackets(10, kStartMs)) << packets().join(' ').toStdString();
  // The command that found the connection down is sent on the new one, then the login runs.
  const QStringList expected =
      QStringList{QStringLiteral("4:0001"), QStringLiteral("4:0000")} + kLoginSequence;
  EXPECT_EQ(packets().mid(4), expected);
  EXPECT_EQ(simEvents(QStringLiteral("connected")), 2);
  EXPECT_EQ(simEvents(QStringLiteral("login")), 2);
}

TEST_F(GatewayE2e, StartsAnnouncingItsPortAndEndsCleanlyOnSigterm) {
  ASSERT_NO_FATAL_FAILURE(startAll());
  ASSERT_TRUE(waitUntil([&] { return loggedEvent(QStringLiteral("Using xAP port")).has_value(); },
                        kStartMs))
      << m_gateway.errorText().toStdString();
  // The announced port is the one the program's heartbeat registered with the hub.
  const QRegularExpression registered(QStringLiteral("registered port (\\d+) \\(qbt\\.Spykee\\."));
  ASSERT_TRUE(waitUntil([&] { return registered.match(m_hub.errorText()).hasMatch(); }, kReplyMs));
  EXPECT_EQ(*loggedEvent(QStringLiteral("Using xAP port")),
            QStringLiteral("Using xAP port  ") + registered.match(m_hub.errorText()).captured(1));
  ASSERT_NO_FATAL_FAILURE(waitForLogin());
  ASSERT_TRUE(waitUntil([&] { return simEvents(QStringLiteral("frame-sent")) >= 3; }, kReplyMs));

  m_gateway.stop();
  EXPECT_EQ(m_gateway.waitForExit(0), 0) << m_gateway.errorText().toStdString();
  EXPECT_TRUE(waitUntil([&] { return simEvents(QStringLiteral("disconnected")) == 1; }, kReplyMs));
  EXPECT_EQ(errorLog(), QString());
  EXPECT_FALSE(m_gateway.errorText().contains(QStringLiteral("rovalink[error]")))
      << m_gateway.errorText().toStdString();
}

// Costs the full 30 s discovery wait in real time.
TEST_F(GatewayE2e, WithoutAnAnsweringRobotTheProgramEndsWithSpykeeNotFound) {
  ASSERT_NO_FATAL_FAILURE(startAll({QStringLiteral("--silent")}));
  ASSERT_TRUE(waitUntil([&] { return loggedEvent(QStringLiteral("Using xAP port")).has_value(); },
                        kStartMs));
  const std::optional<int> code = m_gateway.waitForExit(30000 + 2 * kStartMs);
  ASSERT_TRUE(code) << "still running after the discovery wait";
  EXPECT_NE(*code, 0);
  EXPECT_TRUE(m_gateway.errorText().contains(QStringLiteral("Spykee not found")))
      << m_gateway.errorText().toStdString();
  EXPECT_TRUE(errorLog().contains(QStringLiteral("Spykee not found"))) << errorLog().toStdString();
  EXPECT_EQ(simEvents(QStringLiteral("discovery")), 1);
  EXPECT_EQ(simEvents(QStringLiteral("connected")), 0);
}

}  // namespace
}  // namespace rovalink::e2e
