#include "client.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <cstdio>

namespace rovalink::tools {
namespace {

constexpr int kHeartbeatSeconds = 60;
// How long to wait for the hub to echo our heartbeat before sending anyway.
constexpr int kRegisterTimeoutMs = 2000;
// Exit code when --count messages did not arrive within --wait.
constexpr int kExitTimedOut = 3;

void note(const QString& text) {
  std::fprintf(stderr, "xap-cli: %s\n", qPrintable(text));
  std::fflush(stderr);
}

}  // namespace

Client::Client(ClientOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)) {
  m_me.source = m_options.source;
  m_me.uid = m_options.uid;
  connect(&m_socket, &QUdpSocket::readyRead, this, &Client::readPending);

  m_registerTimeout.setSingleShot(true);
  m_registerTimeout.setInterval(kRegisterTimeoutMs);
  connect(&m_registerTimeout, &QTimer::timeout, this, [this] { registered(false); });

  m_waitTimer.setSingleShot(true);
  m_waitTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_waitTimer, &QTimer::timeout, this, [this] {
    finish(m_options.count > 0 && m_printed < m_options.count ? kExitTimedOut : 0);
  });

  m_heartbeatTimer.setInterval(kHeartbeatSeconds * 1000);
  connect(&m_heartbeatTimer, &QTimer::timeout, this, [this] { sendToBus(m_heartbeat); });
}

bool Client::start(QString* error) {
  if (!m_socket.bind(QHostAddress::LocalHost, 0)) {
    if (error) *error = m_socket.errorString();
    return false;
  }
  m_me.port = m_socket.localPort();
  m_heartbeat = heartbeatText(m_me, QStringLiteral("xap-hbeat.alive"), kHeartbeatSeconds);
  sendToBus(m_heartbeat);
  m_heartbeatTimer.start();
  m_registerTimeout.start();
  return true;
}

void Client::readPending() {
  while (m_socket.hasPendingDatagrams()) {
    const QNetworkDatagram datagram = m_socket.receiveDatagram();
    if (datagram.isValid()) handleDatagram(datagram.data());
  }
}

void Client::handleDatagram(const QByteArray& data) {
  if (m_finished) return;
  // The hub forwards everything to every client, our own datagrams included.
  if (data == m_heartbeat) {
    if (!m_registered) registered(true);
    return;
  }
  if (!m_sent.isEmpty() && data == m_sent) return;

  const QJsonObject message = describeDatagram(data);
  if (!m_options.heartbeats && message.value("kind").toString() == "xap-hbeat") return;
  std::printf("%s\n", QJsonDocument(message).toJson(QJsonDocument::Compact).constData());
  std::fflush(stdout);
  if (m_options.count > 0 && ++m_printed >= m_options.count) finish(0);
}

void Client::registered(bool confirmed) {
  if (m_registered) return;
  m_registered = true;
  m_registerTimeout.stop();
  if (confirmed) {
    note(QStringLiteral("registered on port %1").arg(m_me.port));
  } else {
    note(QStringLiteral("no hub echoed our heartbeat on port %1; going on without it")
             .arg(m_options.busPort));
  }

  switch (m_options.mode) {
    case ClientOptions::Mode::Query:
      m_sent = queryText(m_me, m_options.target);
      break;
    case ClientOptions::Mode::Command:
      m_sent = commandText(m_me, m_options.target, m_options.id, m_options.state, m_options.text);
      break;
    case ClientOptions::Mode::Listen:
      break;
  }
  if (!m_sent.isEmpty()) sendToBus(m_sent);
  if (m_options.waitSeconds > 0) m_waitTimer.start(static_cast<int>(m_options.waitSeconds * 1000));
}

void Client::sendToBus(const QByteArray& data) {
  if (m_socket.writeDatagram(data, QHostAddress::LocalHost, m_options.busPort) < 0)
    note(QStringLiteral("send failed: %1").arg(m_socket.errorString()));
}

void Client::finish(int exitCode) {
  if (m_finished) return;
  m_finished = true;
  if (m_me.port != 0) {
    sendToBus(heartbeatText(m_me, QStringLiteral("xap-hbeat.stopped"), kHeartbeatSeconds));
    // Let the datagram leave before the socket closes with the process.
    m_socket.waitForBytesWritten(100);
  }
  QCoreApplication::exit(exitCode);
}

}  // namespace rovalink::tools
