// Attacks on the real `rovalink --headless` from the bus and through files planted beside its
// own, each next to the normal use that must keep working: the File device names only files in
// its folder, a flood of malformed datagrams cannot fill the disk, temporary files never write
// through links, and a start leaves the user's settings file alone.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <optional>
#include <vector>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

QString item(const QJsonObject& message, const char* name) {
  return message["sections"][0]["items"][QLatin1String(name)].toString();
}

class SecurityE2e : public ::testing::Test {
 protected:
  SecurityE2e() : m_app(m_appDir.path()) {}

  // Hub, bus listener and robot simulator; the gateway's settings pin everything to loopback.
  // settingsExtra goes into [SPYKEE] of qbtRovalink.ini, after a comment of the user's own.
  void startAll(const QStringList& simArguments) {
    ASSERT_TRUE(m_appDir.isValid());
    m_hubPort = startHub(m_hub);
    ASSERT_NE(m_hubPort, 0);
    ASSERT_TRUE(m_listener.start("xap-cli", {"listen", "--port", QString::number(m_hubPort)}));
    ASSERT_TRUE(m_listener.waitForStderr("registered on port", kReplyMs));
    ASSERT_TRUE(m_sim.start("robot-sim", QStringList{"--port", "0"} + simArguments));
    const auto ready = m_sim.waitForLine("robot-sim ready", kStartMs);
    ASSERT_TRUE(ready) << m_sim.errorText().toStdString();

    write("Config/qbtXap.ini",
          "[Interface]\r\nBusPort=" + QByteArray::number(m_hubPort) +
              "\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=127.0.0.1\r\n");
    m_settings = "; the user's own notes\r\n[SPYKEE]\r\nusername=admin\r\nRobotPort=" +
                 ready->section("tcp=", 1).toLatin1() + "\r\nDiscoveryAddress=127.0.0.1\r\n";
    write("Config/qbtRovalink.ini", m_settings);
    ASSERT_TRUE(m_gateway.start("rovalink", {"--headless", "--app-dir", m_appDir.path()}));
    ASSERT_TRUE(waitUntil([&] { return robotSaw("9:32"); }, kStartMs))  // the login's last packet
        << m_gateway.errorText().toStdString();
  }

  void write(const QString& relative, const QByteArray& content) {
    ASSERT_TRUE(m_app.mkpath(QFileInfo(m_app.filePath(relative)).path()));
    QFile file(m_app.filePath(relative));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(content), content.size());
  }
  QByteArray read(const QString& relative) const {
    QFile file(m_app.filePath(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  bool robotSaw(const QString& packet) const {
    for (const QJsonObject& line : m_sim.jsonLines()) {
      if (QStringLiteral("%1:%2").arg(line["type"].toInt()).arg(line["payload"].toString()) ==
          packet)
        return true;
    }
    return false;
  }
  std::vector<QString> eventData(const QString& start) const {
    std::vector<QString> found;
    for (const QJsonObject& m : m_listener.jsonLines()) {
      if (m["class"].toString() == "Homeseer.Event" && item(m, "Data").startsWith(start))
        found.push_back(item(m, "Data"));
    }
    return found;
  }
  // The states the File device reported, in order.
  QStringList fileStates() const {
    QStringList states;
    for (const QJsonObject& m : m_listener.jsonLines()) {
      if (m["class"].toString() == "xapBSC.Event" &&
          m["source"].toString().endsWith(":spykee.File.Relay"))
        states << item(m, "State");
    }
    return states;
  }
  void sendFileCommand(const QByteArray& text) {
    m_sender.send(m_hubPort,
                  "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=xAPBSC.cmd\n"
                  "source=acme.intruder.host\ntarget=qbt.Spykee.*:spykee.file.relay\n}\n"
                  "output.state.1\n{\nID=*\nState=on\nText=" +
                      text + "\n}\n");
  }

  QTemporaryDir m_appDir;
  QDir m_app;
  QByteArray m_settings;
  Program m_hub;
  Program m_listener;
  UdpPeer m_sender;
  Program m_sim;
  Program m_gateway;  // last, so it is stopped first
  quint16 m_hubPort = 0;
};

TEST_F(SecurityE2e, TheFileDeviceRunsOnlyPathFilesInsideItsFolder) {
  write("Data/xapqbtSpykee/led.txt", "HeadLEDOn\t0\t\r\nFile\t0\tEnd\r\n");
  ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "0"}));

  for (const QByteArray& outside : {QByteArray("/etc/passwd"), QByteArray("../x")}) {
    SCOPED_TRACE(outside.toStdString());
    const qsizetype reported = fileStates().size();
    sendFileCommand(outside);
    ASSERT_TRUE(waitUntil([&] { return fileStates().size() > reported; }, kReplyMs));
    EXPECT_EQ(fileStates().last(), "OFF");
    const QString prefix = "File command file " + outside;
    EXPECT_EQ(eventData(prefix),
              std::vector<QString>{prefix + " is outside the path folder; refused"});
  }
  EXPECT_TRUE(eventData("Command line").empty());  // no line of /etc/passwd went on the bus
  EXPECT_FALSE(QFile::exists(m_app.filePath("Data/xapqbtSpykee/Proof.txt")));

  sendFileCommand("led.txt");
  ASSERT_TRUE(waitUntil([&] { return robotSaw("4:0001"); }, kReplyMs));
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
  write("victim", "keep");
  ASSERT_TRUE(m_app.mkpath("Data/xapqbtSpykee"));
  ASSERT_TRUE(
      QFile::link(m_app.filePath("victim"), m_app.filePath("Data/xapqbtSpykee/Video0.jpg.tmp")));
  ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "20"}));
  const QRegularExpression registered(R"(registered port (\d+) \(qbt\.Spykee\.)");
  ASSERT_TRUE(waitUntil([&] { return registered.match(m_hub.errorText()).hasMatch(); }, kReplyMs));
  const auto privatePort =
      static_cast<quint16>(registered.match(m_hub.errorText()).captured(1).toUInt());

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
  ASSERT_NO_FATAL_FAILURE(startAll({"--fps", "0"}));
  // The user name box has been filled (and its handler run) before the login.
  EXPECT_EQ(read("Config/qbtRovalink.ini"), m_settings);
  EXPECT_FALSE(QFile::exists(m_app.filePath("Config/qbtRovalink.ini_bck")));
}

}  // namespace
}  // namespace rovalink::e2e
