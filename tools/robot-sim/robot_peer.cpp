#include "robot_peer.h"

#include <QNetworkDatagram>
#include <QTextStream>

#include "test_pattern.h"

namespace robotsim {
namespace {

enum : quint8 {
  kAudio = 1,
  kVideo = 2,
  kPower = 3,
  kLed = 4,
  kMotor = 5,
  kSound = 7,
  kVolume = 9,
  kLogin = 10,
  kLoginReply = 11,
  kMedia = 15,
  kDock = 16,
  kPostLogin = 18,
};

constexpr int kHeaderSize = 5;
constexpr int kMaxPayload = 0xFFFF;
constexpr int kPowerIntervalMs = 1000;
// A frame is skipped rather than queued behind this many unsent writes.
constexpr std::size_t kMaxBacklog = 256;

QByteArray header(quint8 type, int length) {
  QByteArray bytes("PK");
  bytes.append(static_cast<char>(type));
  bytes.append(static_cast<char>((length >> 8) & 0xFF));
  bytes.append(static_cast<char>(length & 0xFF));
  return bytes;
}

constexpr int kForgedLeadMs = 300;

QByteArray fnv1a(const QByteArray& data) {
  quint32 hash = 2166136261u;
  for (unsigned char c : data) hash = (hash ^ c) * 16777619u;
  return QByteArray::number(hash, 16).rightJustified(8, '0');
}

}  // namespace

RobotPeer::RobotPeer(const SimOptions& options, PacketLog& log, QObject* parent)
    : QObject(parent), m_options(options), m_log(log), m_random(options.seed) {
  m_docked = options.docked;
  m_battery = options.battery;
  for (QTimer* timer : {&m_writeTimer, &m_powerTimer, &m_videoTimer, &m_batteryTimer})
    timer->setTimerType(Qt::PreciseTimer);
  // Split parts need a pause, or the kernel joins them again.
  m_writeTimer.setInterval(options.split ? std::max(options.gapMs, 1) : options.gapMs);
  m_coalesceTimer.setTimerType(Qt::PreciseTimer);
  m_coalesceTimer.setSingleShot(true);
  m_coalesceTimer.setInterval(options.coalesceMs);
  connect(&m_coalesceTimer, &QTimer::timeout, this, &RobotPeer::flushCoalesced);
  m_powerTimer.setInterval(kPowerIntervalMs);
  m_batteryTimer.setInterval(options.batteryStepSeconds * 1000);
  if (options.fps > 0) m_videoTimer.setInterval(static_cast<int>(1000.0 / options.fps));

  connect(&m_udp, &QUdpSocket::readyRead, this, &RobotPeer::onDiscovery);
  connect(&m_server, &QTcpServer::newConnection, this, &RobotPeer::onNewConnection);
  connect(&m_writeTimer, &QTimer::timeout, this, &RobotPeer::sendNextWrite);
  connect(&m_powerTimer, &QTimer::timeout, this, &RobotPeer::sendPower);
  connect(&m_videoTimer, &QTimer::timeout, this, &RobotPeer::sendVideoFrame);
  connect(&m_batteryTimer, &QTimer::timeout, this, &RobotPeer::drainBattery);
  m_batteryTimer.start();
}

bool RobotPeer::start() {
  QTextStream err(stderr);
  // Port 0: let TCP pick, then take the same number for UDP, as the robot uses one number.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (!m_server.listen(m_options.address, m_options.port)) {
      err << "robot-sim: cannot listen on TCP " << m_options.port << ": " << m_server.errorString()
          << "\n";
      return false;
    }
    if (m_udp.bind(m_options.address, m_server.serverPort())) return true;
    const QString reason = m_udp.errorString();
    m_server.close();
    if (m_options.port != 0) {
      err << "robot-sim: cannot bind UDP " << m_options.port << ": " << reason << "\n";
      return false;
    }
  }
  err << "robot-sim: no port free for both UDP and TCP\n";
  return false;
}

void RobotPeer::onDiscovery() {
  while (m_udp.hasPendingDatagrams()) {
    const QNetworkDatagram datagram = m_udp.receiveDatagram();
    const QByteArray from = datagram.senderAddress().toString().toLatin1() + ":" +
                            QByteArray::number(datagram.senderPort());
    m_log.event("discovery", "\"from\":" + jsonString(from) + ",\"payload\":\"" +
                                 datagram.data().toHex() + "\"");
    if (m_options.silent || !datagram.data().startsWith("DSCV")) continue;
    const QHostAddress to = datagram.senderAddress();
    const auto port = static_cast<quint16>(datagram.senderPort());
    const auto answer = [this, to, port] {
      m_udp.writeDatagram(QByteArray("DSCV\x02robot-sim", 14), to, port);
    };
    if (!m_options.forgedFrom) {
      answer();
      continue;
    }
    if (m_forger.state() != QAbstractSocket::BoundState) m_forger.bind(*m_options.forgedFrom, 0);
    m_forger.writeDatagram(m_options.forgedText, to, port);
    m_log.event("forged-reply",
                "\"from\":" + jsonString(m_forger.localAddress().toString().toLatin1()));
    // Later, so that the program has surely taken the forged one if it takes the first.
    QTimer::singleShot(kForgedLeadMs, this, answer);
  }
}

void RobotPeer::onNewConnection() {
  while (QTcpSocket* incoming = m_server.nextPendingConnection()) {
    const QByteArray peer = incoming->peerAddress().toString().toLatin1() + ":" +
                            QByteArray::number(incoming->peerPort());
    if (m_client) {
      // The robot serves one controller; a second one is turned away.
      m_log.event("rejected", "\"peer\":" + jsonString(peer));
      incoming->abort();
      incoming->deleteLater();
      continue;
    }
    m_client = incoming;
    incoming->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_inbound.clear();
    m_log.event("connected", "\"peer\":" + jsonString(peer));
    connect(incoming, &QTcpSocket::readyRead, this, &RobotPeer::onReadyRead);
    connect(incoming, &QTcpSocket::disconnected, this, &RobotPeer::onDisconnected);
  }
}

void RobotPeer::onReadyRead() {
  if (!m_client) return;
  m_inbound.append(m_client->readAll());
  while (m_inbound.size() >= kHeaderSize) {
    if (!m_inbound.startsWith("PK")) {
      // Not a packet start: skip to the next "PK" and say how much was lost.
      const qsizetype next = m_inbound.indexOf("PK", 1);
      const qsizetype skipped = next < 0 ? m_inbound.size() - 1 : next;
      m_log.event("garbage", "\"bytes\":\"" + m_inbound.left(skipped).toHex() + "\"");
      m_inbound.remove(0, skipped);
      continue;
    }
    const int length = (static_cast<quint8>(m_inbound[3]) << 8) | static_cast<quint8>(m_inbound[4]);
    if (m_inbound.size() < kHeaderSize + length) break;
    const quint8 type = static_cast<quint8>(m_inbound[2]);
    const QByteArray payload = m_inbound.mid(kHeaderSize, length);
    m_inbound.remove(0, kHeaderSize + length);
    m_log.packet(type, payload);
    handlePacket(type, payload);
    ++m_packetsReceived;
    if (!m_closedOnce && m_options.closeAfter > 0 && m_packetsReceived >= m_options.closeAfter) {
      m_closedOnce = true;
      m_log.event("closing", "\"after\":" + QByteArray::number(m_packetsReceived));
      m_outbound.clear();
      m_client->disconnectFromHost();
      return;
    }
  }
}

void RobotPeer::onDisconnected() {
  m_log.event("disconnected");
  if (m_client) m_client->deleteLater();
  m_client.clear();
  m_inbound.clear();
  m_outbound.clear();
  m_coalesced.clear();
  m_coalescedStarts.clear();
  m_loggedIn = false;
  m_videoOn = false;
  updateStreams();
}

void RobotPeer::handlePacket(quint8 type, const QByteArray& payload) {
  switch (type) {
    case kLogin:
      handleLogin(payload);
      break;
    case kMedia:
      if (payload.size() >= 2 && payload[0] == 1) {
        m_videoOn = payload[1] != 0;
        updateStreams();
      }
      break;
    case kDock:
      if (payload.size() >= 1) {
        const int code = static_cast<quint8>(payload[0]);
        if (code == 6) m_docked = true;
        if (code == 5 || code == 7) m_docked = false;
        sendPacket(kDock, QByteArray(1, m_docked ? 2 : 1));
      }
      break;
    case kLed:
    case kMotor:
    case kSound:
    case kVolume:
    case kPostLogin:
    default:
      break;  // Logged; nothing to answer.
  }
}

void RobotPeer::handleLogin(const QByteArray& payload) {
  bool accepted = false;
  if (!m_options.refuseLogin && payload.size() >= 2) {
    const int userLength = static_cast<quint8>(payload[0]);
    if (payload.size() >= userLength + 2) {
      const QByteArray user = payload.mid(1, userLength);
      const int passwordLength = static_cast<quint8>(payload[userLength + 1]);
      const QByteArray password = payload.mid(userLength + 2);
      accepted = password.size() == passwordLength && user == m_options.user.toLatin1() &&
                 password == m_options.password.toLatin1();
    }
  }
  m_log.event("login", accepted ? "\"accepted\":true" : "\"accepted\":false");
  if (!accepted) {
    sendPacket(kLoginReply, QByteArray(2, '\0'));  // 7 bytes in all: refused
    return;
  }
  m_loggedIn = true;
  // 11 bytes in all; the third byte from the end is the dock state (0 docked, 1 not).
  QByteArray reply(6, '\0');
  reply[0] = 1;
  reply[3] = m_docked ? 0 : 1;
  sendPacket(kLoginReply, reply);
  sendPower();
  updateStreams();
}

void RobotPeer::updateStreams() {
  if (m_loggedIn) {
    if (!m_powerTimer.isActive()) m_powerTimer.start();
  } else {
    m_powerTimer.stop();
  }
  if (m_loggedIn && m_videoOn && m_options.fps > 0) {
    if (!m_videoTimer.isActive()) m_videoTimer.start();
  } else {
    m_videoTimer.stop();
  }
}

int RobotPeer::sendPacket(quint8 type, const QByteArray& payload) {
  if (!m_client || payload.size() > kMaxPayload) return 0;
  const QByteArray packet = header(type, static_cast<int>(payload.size())) + payload;
  const std::size_t queuedBefore = m_outbound.size();
  if (m_options.coalesceMs > 0) {
    m_coalescedStarts.push_back(m_coalesced.size());
    m_coalesced += packet;
    if (!m_coalesceTimer.isActive()) m_coalesceTimer.start();
    return 1;
  }
  if (m_options.chunkMin <= 0) {
    queueWrite(packet, {0});
  } else {
    qsizetype offset = 0;
    while (offset < packet.size()) {
      const int size = m_random.bounded(m_options.chunkMin, m_options.chunkMax + 1);
      m_outbound.push_back(packet.mid(offset, size));
      offset += size;
    }
  }
  const std::size_t writes = m_outbound.size() - queuedBefore;
  if (!m_writeTimer.isActive()) {
    sendNextWrite();
    // Even an empty queue keeps the timer for one gap, so the next write cannot join this one.
    if (m_writeTimer.interval() > 0) m_writeTimer.start();
  }
  return static_cast<int>(writes);
}

void RobotPeer::queueWrite(const QByteArray& bytes, const std::vector<qsizetype>& packetStarts) {
  if (!m_options.split || packetStarts.empty()) {
    m_outbound.push_back(bytes);
    return;
  }
  // Cut inside the last packet's header: after its 1st to 4th byte.
  const qsizetype cut = packetStarts.back() + m_random.bounded(1, 5);
  m_outbound.push_back(bytes.left(cut));
  m_outbound.push_back(bytes.mid(cut));
}

void RobotPeer::flushCoalesced() {
  if (!m_client || m_coalesced.isEmpty()) return;
  m_log.event("write", "\"packets\":" + QByteArray::number(m_coalescedStarts.size()) +
                           ",\"bytes\":" + QByteArray::number(m_coalesced.size()));
  queueWrite(m_coalesced, m_coalescedStarts);
  m_coalesced.clear();
  m_coalescedStarts.clear();
  if (!m_writeTimer.isActive()) {
    sendNextWrite();
    if (m_writeTimer.interval() > 0) m_writeTimer.start();
  }
}

void RobotPeer::sendNextWrite() {
  if (!m_client || m_outbound.empty()) {
    m_writeTimer.stop();
    return;
  }
  if (m_writeTimer.interval() == 0) {
    while (!m_outbound.empty()) {
      m_client->write(m_outbound.front());
      m_outbound.pop_front();
    }
  } else {
    m_client->write(m_outbound.front());
    m_outbound.pop_front();
  }
  m_client->flush();
}

void RobotPeer::sendPower() {
  sendPacket(kPower, QByteArray(1, static_cast<char>(m_battery)));
}

void RobotPeer::drainBattery() {
  if (m_battery > 0) --m_battery;
}

void RobotPeer::sendVideoFrame() {
  if (!m_client) return;
  if (m_outbound.size() > kMaxBacklog) {
    m_log.event("frame-skipped", "\"n\":" + QByteArray::number(m_frameNumber));
    return;
  }
  const QByteArray jpeg = renderTestFrame(m_frameNumber);
  if (jpeg.isEmpty() || jpeg.size() > kMaxPayload) {
    m_log.event("frame-failed", "\"n\":" + QByteArray::number(m_frameNumber));
    return;
  }
  const int writes = sendPacket(kVideo, jpeg);
  m_log.event("frame-sent", "\"n\":" + QByteArray::number(m_frameNumber) +
                                ",\"bytes\":" + QByteArray::number(jpeg.size()) + ",\"fnv\":\"" +
                                fnv1a(jpeg) + "\",\"writes\":" + QByteArray::number(writes));
  ++m_frameNumber;
}

}  // namespace robotsim
