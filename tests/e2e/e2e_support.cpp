#include "e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTimer>
#include <algorithm>

#include <signal.h>

namespace rovalink::e2e {

QString programPath(const QString& name) {
  for (const QString& entry : QStringLiteral(ROVALINK_E2E_PROGRAMS).split(QLatin1Char('|'))) {
    if (entry.section(QLatin1Char('='), 0, 0) == name) return entry.section(QLatin1Char('='), 1);
  }
  return {};
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  // A ticking timer bounds each blocking wait for events, so the deadline is always seen.
  QTimer tick;
  tick.start(20);
  const QDeadlineTimer deadline(timeoutMs);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

Program::~Program() {
  stop();
}

bool Program::start(const QString& name, const QStringList& arguments, const QStringList& unset) {
  const QString path = name.startsWith(QLatin1Char('/')) ? name : programPath(name);
  if (path.isEmpty()) {
    ADD_FAILURE() << "this build has no " << name.toStdString();
    return false;
  }
  QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { collect(); });
  QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
    m_stderr += QString::fromLocal8Bit(m_process.readAllStandardError());
  });
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const QString& variable : unset) environment.remove(variable);
  m_process.setProcessEnvironment(environment);
  m_process.start(path, arguments);
  return m_process.waitForStarted(kStartMs);
}

void Program::collect() {
  m_partial += m_process.readAllStandardOutput();
  qsizetype end;
  while ((end = m_partial.indexOf('\n')) >= 0) {
    m_lines << QString::fromLocal8Bit(m_partial.left(end));
    m_partial.remove(0, end + 1);
  }
}

std::optional<QString> Program::waitForLine(const QString& text, int timeoutMs, int from) {
  std::optional<QString> found;
  waitUntil(
      [&] {
        for (int i = from; i < m_lines.size(); ++i) {
          if (m_lines[i].contains(text)) {
            found = m_lines[i];
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

bool Program::waitForStderr(const QString& text, int timeoutMs) {
  return waitUntil([&] { return m_stderr.contains(text); }, timeoutMs);
}

std::optional<int> Program::waitForExit(int timeoutMs) {
  if (!waitUntil([&] { return m_process.state() == QProcess::NotRunning; }, timeoutMs))
    return std::nullopt;
  collect();
  m_stderr += QString::fromLocal8Bit(m_process.readAllStandardError());
  if (m_process.exitStatus() != QProcess::NormalExit) return -1;
  return m_process.exitCode();
}

void Program::stop() {
  if (m_process.state() == QProcess::NotRunning) return;
  m_process.terminate();
  if (!m_process.waitForFinished(kStartMs)) {
    m_process.kill();
    m_process.waitForFinished(kStartMs);
  }
}

void Program::signal(int number) {
  if (m_process.state() != QProcess::NotRunning)
    ::kill(static_cast<pid_t>(m_process.processId()), number);
}

void Program::kill() {
  m_process.kill();
  m_process.waitForFinished(kStartMs);
}

std::vector<QJsonObject> Program::jsonLines() const {
  std::vector<QJsonObject> objects;
  for (const QString& line : m_lines) {
    const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8());
    if (doc.isObject()) objects.push_back(doc.object());
  }
  return objects;
}

quint16 freeTcpPort() {
  QTcpServer probe;
  return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

quint16 startHub(Program& hub, const QStringList& arguments) {
  if (!hub.start(QStringLiteral("xap-hub"),
                 QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments)) {
    ADD_FAILURE() << "xap-hub did not start";
    return 0;
  }
  const auto line = hub.waitForLine(QStringLiteral("listening on "), kStartMs);
  if (!line) {
    ADD_FAILURE() << "xap-hub did not report its port; stderr: " << hub.errorText().toStdString();
    return 0;
  }
  return static_cast<quint16>(line->section(QLatin1Char(' '), 2).toUInt());
}

UdpPeer::UdpPeer() {
  EXPECT_TRUE(m_socket.bind(QHostAddress::LocalHost, 0));
  QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
    while (m_socket.hasPendingDatagrams()) m_received.push_back(m_socket.receiveDatagram().data());
  });
}

QByteArray UdpPeer::heartbeat(const QString& hbClass, int intervalSeconds) const {
  return "xap-hbeat\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=" + hbClass.toLatin1() +
         "\nsource=rovalink.e2e.peer" + QByteArray::number(port()) +
         "\ninterval=" + QByteArray::number(intervalSeconds) +
         "\nport=" + QByteArray::number(port()) + "\n}\n";
}

bool UdpPeer::registerWith(quint16 hubPort, int intervalSeconds, const QHostAddress& to) {
  const QByteArray beat = heartbeat(QStringLiteral("xap-hbeat.alive"), intervalSeconds);
  send(hubPort, beat, to);
  return waitFor(beat, kReplyMs);
}

void UdpPeer::send(quint16 port, const QByteArray& data, const QHostAddress& to) {
  EXPECT_EQ(m_socket.writeDatagram(data, to, port), data.size());
}

bool UdpPeer::waitFor(const QByteArray& data, int timeoutMs) {
  return waitUntil([&] { return hasReceived(data); }, timeoutMs);
}

bool UdpPeer::hasReceived(const QByteArray& data) const {
  return std::find(m_received.begin(), m_received.end(), data) != m_received.end();
}

QString item(const QJsonObject& message, const char* name) {
  return message["sections"][0]["items"][QLatin1String(name)].toString();
}

void GatewayTest::startAll(const GatewaySetup& setup) {
  ASSERT_TRUE(m_appDir.isValid());
  m_hubPort = startHub(m_hub);
  ASSERT_NE(m_hubPort, 0);
  if (setup.listener) {
    ASSERT_TRUE(m_listener.start("xap-cli", {"listen", "--port", QString::number(m_hubPort)}));
    ASSERT_TRUE(m_listener.waitForStderr("registered on port", kReplyMs));
  }
  ASSERT_TRUE(m_sim.start("robot-sim", QStringList{"--port", "0"} + setup.sim));
  const auto ready = m_sim.waitForLine("robot-sim ready", kStartMs);
  ASSERT_TRUE(ready) << m_sim.errorText().toStdString();
  const QByteArray port = setup.robotPort != 0 ? QByteArray::number(setup.robotPort)
                                               : ready->section("tcp=", 1).toLatin1();
  write("Config/qbtXap.ini", "[Interface]\r\nBusPort=" + QByteArray::number(m_hubPort) +
                                 "\r\nBroadcastAddress=127.0.0.1\r\nInterfaceAddress=" +
                                 setup.interfaceAddress + "\r\n");
  m_settings =
      "; the user's own notes\r\n[SPYKEE]\r\n"
      "DiscoveryAddress=127.0.0.1\r\nRobotPort=" +
      port + "\r\n" + setup.spykeeLines;
  write("Config/qbtRovalink.ini", m_settings);
  if (setup.noDisplay) {
    ASSERT_TRUE(m_gateway.start("rovalink", {"--app-dir=" + m_appDir.path()},
                                {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}));
  } else {
    ASSERT_TRUE(m_gateway.start("rovalink", {"--headless", "--app-dir", m_appDir.path()}));
  }
}

void GatewayTest::write(const QString& relative, const QByteArray& content) {
  ASSERT_TRUE(QDir().mkpath(QFileInfo(appPath(relative)).path()));
  QFile file(appPath(relative));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(content), content.size());
}

QByteArray GatewayTest::read(const QString& relative) const {
  QFile file(appPath(relative));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList GatewayTest::packets() const {
  QStringList list;
  for (const QJsonObject& line : m_sim.jsonLines()) {
    if (line.contains("type"))
      list << QStringLiteral("%1:%2").arg(line["type"].toInt()).arg(line["payload"].toString());
  }
  return list;
}

std::vector<QJsonObject> GatewayTest::simEvents(const QString& name) const {
  std::vector<QJsonObject> found;
  for (const QJsonObject& line : m_sim.jsonLines()) {
    if (line["event"].toString() == name) found.push_back(line);
  }
  return found;
}

bool GatewayTest::waitForPackets(int count, int timeoutMs) {
  return waitUntil([&] { return packets().size() >= count; }, timeoutMs);
}

void GatewayTest::waitForLogin() {
  ASSERT_TRUE(waitForPackets(4, kStartMs))
      << "robot saw: " << packets().join(' ').toStdString()
      << "\ngateway stderr: " << m_gateway.errorText().toStdString();
  ASSERT_EQ(packets().mid(0, 4), kLoginSequence);
  ASSERT_TRUE(waitUntil([&] { return !events("spykee.Volume.Index").empty(); }, kReplyMs));
}

std::vector<QJsonObject> GatewayTest::bus(const QString& msgClass) const {
  std::vector<QJsonObject> found;
  for (const QJsonObject& m : m_listener.jsonLines()) {
    if (m["class"].toString().compare(msgClass, Qt::CaseInsensitive) == 0) found.push_back(m);
  }
  return found;
}

std::vector<QJsonObject> GatewayTest::events(const QString& subAddress) const {
  std::vector<QJsonObject> found;
  for (const QJsonObject& m : bus("xapBSC.Event")) {
    if (m["source"].toString().endsWith(QStringLiteral(":") + subAddress)) found.push_back(m);
  }
  return found;
}

std::vector<QString> GatewayTest::eventData(const QString& start) const {
  std::vector<QString> found;
  for (const QJsonObject& m : bus("Homeseer.Event")) {
    if (item(m, "Data").startsWith(start)) found.push_back(item(m, "Data"));
  }
  return found;
}

QRegularExpressionMatch GatewayTest::registration() const {
  static const QRegularExpression registered(
      R"(registered port (\d+) \(qbt\.Spykee\.[^)]*\) from ([\d.]+):(\d+))");
  QRegularExpressionMatch match;
  waitUntil(
      [&] {
        match = registered.match(m_hub.errorText());
        return match.hasMatch();
      },
      kReplyMs);
  return match;
}

QByteArray bscCommand(const char* subAddress, const char* state, const char* text, const char* id) {
  return QByteArray(
             "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=xAPBSC.cmd\n"
             "source=rovalink.e2e.peer\ntarget=qbt.Spykee.*:") +
         subAddress + "\n}\noutput.state.1\n{\nID=" + id + "\nState=" + state + "\n" +
         (text ? QByteArray("Text=") + text + "\n" : QByteArray()) + "}\n";
}

void GatewayTest::sendCommand(const char* subAddress, const char* state, const char* text,
                              const char* id) {
  m_sender.send(m_hubPort, bscCommand(subAddress, state, text, id));
}

void GatewayTest::sendQuery(const QByteArray& subAddress) {
  m_sender.send(m_hubPort,
                "xap-header\n{\nv=13\nhop=1\nuid=FF.00EE:00\nclass=xAPBSC.query\n"
                "source=rovalink.e2e.peer\ntarget=qbt.Spykee.*:" +
                    subAddress + "\n}\nrequest\n{\n}\n");
}

}  // namespace rovalink::e2e
