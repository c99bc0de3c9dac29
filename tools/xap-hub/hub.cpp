#include "hub.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QVariant>
#include <cstdio>
#include <string>

#include "heartbeat_info.h"

namespace rovalink::tools {
namespace {

// Used when a heartbeat announces no interval: the usual xAP heartbeat period.
constexpr int kDefaultIntervalSeconds = 60;
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

void logLine(const QString& text) {
  std::fprintf(stderr, "xap-hub: %s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

}  // namespace

Hub::Hub(QObject* parent) : QObject(parent) {
  m_clock.start();
  connect(&m_socket, &QUdpSocket::readyRead, this, &Hub::readPending);
  m_expiryTimer.setTimerType(Qt::PreciseTimer);
  m_expiryTimer.setInterval(200);
  connect(&m_expiryTimer, &QTimer::timeout, this, &Hub::dropExpired);
  m_heartbeatTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_heartbeatTimer, &QTimer::timeout, this, &Hub::sendHeartbeat);
}

bool Hub::listen(quint16 port, QString* error) {
  if (!m_socket.bind(QHostAddress::AnyIPv4, port)) {
    if (error) *error = m_socket.errorString();
    return false;
  }
  // A burst from a bus client waits in the kernel instead of being dropped (capped by the
  // system's net.core.rmem_max).
  m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                           QVariant(kReceiveBufferBytes));
  m_expiryTimer.start();
  m_heartbeatTimer.start(m_heartbeatSeconds * 1000);
  return true;
}

void Hub::sendHeartbeat() {
  const QByteArray text =
      "xap-hbeat\n{\nv=13\nhop=1\nuid=FF.00EF:00\nclass=xap-hbeat.alive\n"
      "source=rovalink.xaphub." +
      QHostInfo::localHostName().section(QLatin1Char('.'), 0, 0).toLatin1() +
      "\ninterval=" + QByteArray::number(m_heartbeatSeconds) +
      "\nport=" + QByteArray::number(port()) + "\n}\n";
  for (const auto& [clientPort, client] : m_clients) {
    m_socket.writeDatagram(text, QHostAddress::LocalHost, clientPort);
  }
}

void Hub::readPending() {
  while (m_socket.hasPendingDatagrams()) {
    const QNetworkDatagram datagram = m_socket.receiveDatagram();
    if (!datagram.isValid()) continue;
    handleDatagram(datagram.data(), datagram.senderAddress(),
                   static_cast<quint16>(datagram.senderPort()));
  }
}

void Hub::handleDatagram(const QByteArray& data, const QHostAddress& sender, quint16 senderPort) {
  const auto heartbeat = parseHeartbeat(std::string_view(data.constData(), data.size()));
  // Only a client on this computer can be reached at 127.0.0.1, and a client announcing the
  // hub's own port would make the hub forward to itself forever.
  if (heartbeat && heartbeat->port != 0 && heartbeat->port != port() && isLocal(sender)) {
    const auto clientPort = static_cast<quint16>(heartbeat->port);
    const QString source = QString::fromLatin1(heartbeat->source.c_str());
    if (heartbeat->stops()) {
      if (m_clients.erase(clientPort) > 0)
        logLine(QStringLiteral("dropped port %1 (%2): stopped").arg(clientPort).arg(source));
    } else {
      const int interval =
          heartbeat->intervalSeconds > 0 ? heartbeat->intervalSeconds : kDefaultIntervalSeconds;
      auto [it, added] = m_clients.try_emplace(clientPort);
      it->second.source = source;
      it->second.intervalSeconds = interval;
      it->second.lastSeenMs = m_clock.elapsed();
      if (added) {
        logLine(QStringLiteral("registered port %1 (%2) from %3:%4, interval %5 s")
                    .arg(clientPort)
                    .arg(source, sender.toString())
                    .arg(senderPort)
                    .arg(interval));
      }
    }
  }

  for (const auto& [clientPort, client] : m_clients) {
    if (m_socket.writeDatagram(data, QHostAddress::LocalHost, clientPort) < 0) {
      logLine(QStringLiteral("forward to port %1 failed: %2")
                  .arg(clientPort)
                  .arg(m_socket.errorString()));
    }
  }
}

void Hub::dropExpired() {
  const qint64 now = m_clock.elapsed();
  for (auto it = m_clients.begin(); it != m_clients.end();) {
    if (now - it->second.lastSeenMs > 2000LL * it->second.intervalSeconds) {
      logLine(QStringLiteral("dropped port %1 (%2): no heartbeat for %3 s")
                  .arg(it->first)
                  .arg(it->second.source)
                  .arg(2 * it->second.intervalSeconds));
      it = m_clients.erase(it);
    } else {
      ++it;
    }
  }
}

bool Hub::isLocal(const QHostAddress& address) const {
  if (address.isLoopback()) return true;
  const QHostAddress v4(address.toIPv4Address());
  const auto all = QNetworkInterface::allAddresses();
  return all.contains(address) || all.contains(v4);
}

}  // namespace rovalink::tools
