#include "e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
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

bool Program::start(const QString& name, const QStringList& arguments) {
  const QString path = name.startsWith(QLatin1Char('/')) ? name : programPath(name);
  if (path.isEmpty()) {
    ADD_FAILURE() << "this build has no " << name.toStdString();
    return false;
  }
  QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { collect(); });
  QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
    m_stderr += QString::fromLocal8Bit(m_process.readAllStandardError());
  });
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

}  // namespace rovalink::e2e
