// The real robot link on the Qt platform against tools/robot-sim on loopback: discovery, login,
// exact command bytes at the robot, and a chunked video frame arriving whole in the frame file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <fstream>
#include <memory>

#include "commands/command_dispatcher.h"
#include "devices/device_table.h"
#include "e2e/e2e_support.h"
#include "platform/qt/qt_platform.h"
#include "robot/fakes.h"
#include "robot/robot_link.h"
#include "settings/hs.h"
#include "support/fake_ui_port.h"

namespace rovalink::e2e {
namespace {

QString fnv1a(const QByteArray& data) {
  quint32 hash = 2166136261u;
  for (unsigned char c : data) hash = (hash ^ c) * 16777619u;
  return QString::number(hash, 16).rightJustified(8, QLatin1Char('0'));
}

class RobotLinkE2e : public ::testing::Test {
 protected:
  // Starts robot-sim with extra arguments and wires a link to it; false on failure.
  bool startSimAndLink(const QStringList& simArguments) {
    const QString path = programPath(QStringLiteral("robot-sim"));
    if (path.isEmpty() || !m_folder.isValid()) return false;
    QStringList arguments{QStringLiteral("--port"), QStringLiteral("0")};
    arguments += simArguments;
    if (!m_sim.start(path, arguments)) return false;
    const auto ready = m_sim.waitForLine(QStringLiteral("robot-sim ready"), kStartMs);
    if (!ready) return false;
    m_port = ready->section(QStringLiteral("tcp="), 1).toUShort();
    if (m_port == 0) return false;

    QDir(m_folder.path()).mkpath(QStringLiteral("Config"));
    std::ofstream(QDir(m_folder.path()).filePath("Config/qbtRovalink.ini").toStdString())
        << "[SPYKEE]\r\nDiscoveryAddress=127.0.0.1\r\nRobotPort=" << m_port << "\r\n";
    m_settings.setAppPath(m_folder.path().toStdString());
    m_link = std::make_unique<robot::RobotLink>(robot::RobotLink::Wiring{
        m_platform, m_settings, m_services, m_ui, m_dispatcher, m_devices,
        [this](const std::string& name, bool) { m_reports.push_back(name); }, m_credentials,
        m_window, m_state, frameFolder().toStdString()});
    m_dispatcher.setProcedureRunner(m_link.get());
    return true;
  }

  QString frameFolder() const {
    return QDir(m_folder.path()).filePath(QStringLiteral("Data/xapqbtSpykee"));
  }

  // The packets the simulator received, in order, as "type:payloadhex".
  QStringList receivedPackets() const {
    QStringList packets;
    for (const QJsonObject& line : m_sim.jsonLines()) {
      if (line.contains(QStringLiteral("type"))) {
        packets << QStringLiteral("%1:%2")
                       .arg(line.value(QStringLiteral("type")).toInt())
                       .arg(line.value(QStringLiteral("payload")).toString());
      }
    }
    return packets;
  }
  int events(const QString& name) const {
    int count = 0;
    for (const QJsonObject& line : m_sim.jsonLines()) {
      if (line.value(QStringLiteral("event")).toString() == name) ++count;
    }
    return count;
  }
  bool waitForPackets(int count) {
    return waitUntil([&] { return receivedPackets().size() >= count; }, kReplyMs);
  }

  QTemporaryDir m_folder;
  Program m_sim;
  quint16 m_port = 0;
  platform::QtPlatform m_platform;
  robot::test::RecordingServices m_services;
  settings::hs m_settings{m_services};
  rovalink::test::FakeUiPort m_ui;
  commands::CommandDispatcher m_dispatcher{m_platform.loop(), m_platform.clock()};
  devices::Devices m_devices = devices::BuildDeviceTable();
  devices::RobotCredentials m_credentials{"admin", "kelpo"};
  app::MainWindowModel m_window;
  robot::RobotState m_state;
  std::vector<std::string> m_reports;
  std::unique_ptr<robot::RobotLink> m_link;
};

const QString kLogin = QStringLiteral("10:0561646d696e056b656c706f");

TEST_F(RobotLinkE2e, DiscoversLogsInAndTheRobotSeesTheExactCommandBytes) {
  ASSERT_TRUE(startSimAndLink({QStringLiteral("--fps"), QStringLiteral("0")}))
      << m_sim.errorText().toStdString();
  ASSERT_TRUE(m_link->Start()) << (m_ui.messageBoxes.empty() ? "" : m_ui.messageBoxes[0]);
  EXPECT_EQ(m_link->RobotAddress(), "127.0.0.1");
  ASSERT_TRUE(waitForPackets(4));
  EXPECT_TRUE(waitUntil([&] { return m_state.LoggedIn; }, kReplyMs));
  EXPECT_EQ(receivedPackets(), (QStringList{kLogin, QStringLiteral("15:0101"),
                                            QStringLiteral("18:"), QStringLiteral("9:32")}));

  m_dispatcher.QueueCommand("MoveForward");
  m_dispatcher.QueueCommand("HeadLEDOn");
  m_dispatcher.QueueCommand(commands::Command{"Volume", "80", 0});
  m_dispatcher.QueueCommand("MoveStop");
  ASSERT_TRUE(waitForPackets(8));
  EXPECT_EQ(receivedPackets().mid(4),
            (QStringList{QStringLiteral("5:3434"), QStringLiteral("4:0001"), QStringLiteral("9:50"),
                         QStringLiteral("5:0000")}));
  EXPECT_EQ(events(QStringLiteral("connected")), 1);
  EXPECT_EQ(m_window.aHeadStatus, app::MainWindowModel::kHeadOn);
  EXPECT_TRUE(m_services.errors.empty()) << m_services.errors.front();
}

TEST_F(RobotLinkE2e, AFrameSplitIntoChunksArrivesWholeInTheFrameFile) {
  ASSERT_TRUE(startSimAndLink({QStringLiteral("--chunk"), QStringLiteral("500:2500"),
                               QStringLiteral("--fps"), QStringLiteral("20")}))
      << m_sim.errorText().toStdString();
  std::vector<std::string> shown;
  m_link->setFrameViewer([&](const std::string& path) { shown.push_back(path); });
  ASSERT_TRUE(m_link->Start());
  const QString file = QDir(frameFolder()).filePath(QStringLiteral("Video0.jpg"));
  ASSERT_TRUE(waitUntil([&] { return QFile::exists(file) && m_window.FrameCount >= 3; }, kReplyMs));

  QFile frame(file);
  ASSERT_TRUE(frame.open(QIODevice::ReadOnly));
  const QByteArray bytes = frame.readAll();
  ASSERT_GT(bytes.size(), 4);
  EXPECT_TRUE(bytes.startsWith("\xFF\xD8"));
  EXPECT_TRUE(bytes.endsWith("\xFF\xD9"));
  // The file is exactly one of the pictures the simulator sent, and that one went out in
  // several writes.
  bool matched = false;
  for (const QJsonObject& line : m_sim.jsonLines()) {
    if (line.value(QStringLiteral("event")).toString() != QLatin1String("frame-sent")) continue;
    if (line.value(QStringLiteral("fnv")).toString() == fnv1a(bytes) &&
        line.value(QStringLiteral("bytes")).toInt() == bytes.size()) {
      matched = true;
      EXPECT_GE(line.value(QStringLiteral("writes")).toInt(), 2);
    }
  }
  EXPECT_TRUE(matched) << "frame file of " << bytes.size() << " bytes matches no sent frame";
  EXPECT_EQ(shown, std::vector<std::string>{file.toStdString()});
  EXPECT_FALSE(QFile::exists(file + QStringLiteral(".part")));
}

TEST_F(RobotLinkE2e, AfterTheRobotClosesTheNextCommandReconnectsAndLogsInAgain) {
  // The login sequence is four packets; the fifth makes the simulator hang up.
  ASSERT_TRUE(startSimAndLink({QStringLiteral("--close-after"), QStringLiteral("5"),
                               QStringLiteral("--fps"), QStringLiteral("0")}))
      << m_sim.errorText().toStdString();
  ASSERT_TRUE(m_link->Start());
  ASSERT_TRUE(waitForPackets(4));
  m_dispatcher.QueueCommand("LeftLEDOn");
  ASSERT_TRUE(waitUntil([&] { return m_link->RobotClosed(); }, kReplyMs));

  m_dispatcher.QueueCommand("RightLEDOn");
  ASSERT_TRUE(waitForPackets(10));
  EXPECT_EQ(
      receivedPackets().mid(4),
      (QStringList{QStringLiteral("4:0101"), QStringLiteral("4:0201"), kLogin,
                   QStringLiteral("15:0101"), QStringLiteral("18:"), QStringLiteral("9:32")}));
  EXPECT_EQ(events(QStringLiteral("connected")), 2);
}

}  // namespace
}  // namespace rovalink::e2e
