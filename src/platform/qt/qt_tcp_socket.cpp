#include "platform/qt/qt_tcp_socket.h"

#include <QMetaObject>
#include <QNetworkProxy>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/diag.h"
#include "platform/socket_errors.h"

namespace rovalink::platform {
namespace {

const char* const kWrongState = "Wrong protocol or connection state for the requested transaction";

}  // namespace

QtTcpSocket::QtTcpSocket(std::shared_ptr<QtEventCore> core)
    : m_core(std::move(core)), m_socket(new QTcpSocket) {
  // The robot is on this network: no proxy ever carries it (see QtUdpSocket).
  m_socket->setProxy(QNetworkProxy::NoProxy);
  wire();
}

QtTcpSocket::~QtTcpSocket() {
  m_liveness->alive = false;
  QObject::disconnect(m_socket.get(), nullptr, m_context.get(), nullptr);
  m_socket->abort();
  qt_socket::dispose(m_context, *m_liveness);
  qt_socket::dispose(m_socket, *m_liveness);
}

template <typename F>
void QtTcpSocket::post(F f) {
  QMetaObject::invokeMethod(
      m_context.get(),
      [this, liveness = m_liveness, f = std::move(f)] {
        if (!liveness->alive) return;
        qt_socket::SignalScope scope(liveness);
        f();
      },
      Qt::QueuedConnection);
}

void QtTcpSocket::wire() {
  m_context = std::make_unique<QObject>();
  QTcpSocket* socket = m_socket.get();
  QObject* context = m_context.get();
  const auto& live = m_liveness;
  QObject::connect(socket, &QTcpSocket::connected, context, [this, live] {
    qt_socket::SignalScope scope(live);
    onConnected();
  });
  QObject::connect(socket, &QTcpSocket::disconnected, context, [this, live] {
    qt_socket::SignalScope scope(live);
    onDisconnected();
  });
  QObject::connect(socket, &QTcpSocket::errorOccurred, context,
                   [this, live](QAbstractSocket::SocketError error) {
                     qt_socket::SignalScope scope(live);
                     onError(error);
                   });
  QObject::connect(socket, &QTcpSocket::stateChanged, context,
                   [this, live](QAbstractSocket::SocketState state) {
                     qt_socket::SignalScope scope(live);
                     onStateChanged(state);
                   });
  QObject::connect(socket, &QTcpSocket::bytesWritten, context, [this, live](qint64 bytes) {
    qt_socket::SignalScope scope(live);
    onBytesWritten(bytes);
  });
  QObject::connect(socket, &QTcpSocket::readyRead, context, [this, live] {
    qt_socket::SignalScope scope(live);
    readAvailable();
  });
}

std::uint16_t QtTcpSocket::localPort() const {
  if (m_localPort != 0) return m_localPort;
  return m_socket->localPort();
}

bool QtTcpSocket::bind(std::uint16_t localPort, std::string* error) {
  if (m_state != SocketState::Closed) {
    if (error) *error = kWrongState;
    return false;
  }
  // A probe: no address sharing, so a port that any socket still uses counts as taken.
  if (!bindQuietly(localPort, QAbstractSocket::DontShareAddress)) {
    if (error) *error = qt_socket::toText(m_socket->errorString());
    m_socket->abort();
    return false;
  }
  m_localPort = m_socket->localPort();
  m_state = SocketState::Open;
  return true;
}

bool QtTcpSocket::bindQuietly(std::uint16_t localPort, QAbstractSocket::BindMode mode) {
  // A failed bind is reported by the result; Qt's error signal for it must not become an
  // error event (or the Error state) of a socket that is still usable.
  m_binding = true;
  const bool bound = m_socket->bind(QHostAddress(QHostAddress::AnyIPv4), localPort, mode);
  m_binding = false;
  return bound;
}

bool QtTcpSocket::connect(const std::string& host, std::uint16_t port, std::string* error) {
  if (m_state != SocketState::Closed && m_state != SocketState::Open) {
    if (error) *error = kWrongState;
    return false;
  }
  if (m_state == SocketState::Closed && m_localPort != 0) {
    // Reuse-address so that a reconnect from the same port is not refused while an earlier
    // connection of ours from it lingers in TIME_WAIT.
    if (!bindQuietly(m_localPort,
                     QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
      diag::warning("tcp: local port " + std::to_string(m_localPort) + " unavailable (" +
                    qt_socket::toText(m_socket->errorString()) + "); connecting from any port");
      m_socket->abort();
    }
  }
  m_remoteAddress = host;
  m_remotePort = port;
  resetSendTracking();
  m_state = SocketState::Connecting;
  m_inConnect = true;
  m_socket->connectToHost(QString::fromLatin1(host.data(), static_cast<qsizetype>(host.size())),
                          port);
  m_inConnect = false;
  return true;
}

bool QtTcpSocket::applyNoDelay(int* errorCode, std::string* error) {
  const qintptr descriptor = m_socket->socketDescriptor();
  if (descriptor < 0) return true;  // applied once connected
  const int on = m_noDelay ? 1 : 0;
  if (::setsockopt(static_cast<int>(descriptor), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
    const int number = errno;
    if (errorCode) *errorCode = number;
    if (error) *error = std::strerror(number);
    return false;
  }
  return true;
}

bool QtTcpSocket::setNoDelay(bool on, int* errorCode, std::string* error) {
  m_noDelay = on;
  // Qt drops this option when it is set before connecting, so it is (re)applied on connect.
  if (m_state != SocketState::Connected) return true;
  return applyNoDelay(errorCode, error);
}

bool QtTcpSocket::send(std::string_view data) {
  if (m_state != SocketState::Connected) return false;
  const QByteArray bytes = qt_socket::toBytes(data);
  if (m_socket->write(bytes) != bytes.size()) return false;
  m_pendingSends.push_back(bytes.size());
  // Hand the bytes to the kernel now rather than on the next loop iteration.
  m_socket->flush();
  return true;
}

std::size_t QtTcpSocket::bytesToWrite() const {
  return m_state == SocketState::Connected ? static_cast<std::size_t>(m_socket->bytesToWrite()) : 0;
}

void QtTcpSocket::close() {
  m_closingLocally = true;
  if (m_socket->state() == QAbstractSocket::ConnectedState && m_socket->bytesToWrite() > 0) {
    m_socket->flush();
  }
  m_socket->abort();
  m_closingLocally = false;
  m_state = SocketState::Closed;
  resetSendTracking();
}

void QtTcpSocket::deliverReceived() {
  if (m_state != SocketState::Connected) return;
  // Qt reads a socket only on its notifier, a loop turn later (and its bytesAvailable() counts
  // only what it has read); a wait reads it now. A wait that found nothing would count as a
  // timeout error, so it is made only for bytes the system holds.
  int received = 0;
  const qintptr descriptor = m_socket->socketDescriptor();
  if (descriptor >= 0 && ::ioctl(static_cast<int>(descriptor), FIONREAD, &received) == 0 &&
      received > 0) {
    m_socket->waitForReadyRead(0);  // its readyRead delivers them
  } else if (m_socket->bytesAvailable() > 0) {
    readAvailable();
  }
}

bool QtTcpSocket::adopt(QTcpSocket* accepted) {
  if (m_state != SocketState::Closed || accepted == nullptr) return false;
  QObject::disconnect(m_socket.get(), nullptr, m_context.get(), nullptr);
  m_socket->abort();
  qt_socket::dispose(m_context, *m_liveness);
  qt_socket::dispose(m_socket, *m_liveness);
  accepted->setParent(nullptr);
  m_socket.reset(accepted);
  wire();
  resetSendTracking();
  m_remoteAddress = qt_socket::dotted(accepted->peerAddress());
  m_remotePort = accepted->peerPort();
  m_state = accepted->state() == QAbstractSocket::ConnectedState ? SocketState::Connected
                                                                 : SocketState::Closed;
  if (m_state == SocketState::Connected && m_noDelay) applyNoDelay(nullptr, nullptr);
  if (accepted->bytesAvailable() > 0) {
    // Bytes that came before the accept are delivered as an event of their own.
    post([this] { readAvailable(); });
  }
  return true;
}

void QtTcpSocket::onConnected() {
  m_state = SocketState::Connected;
  if (m_noDelay) {
    int number = 0;
    std::string text;
    if (!applyNoDelay(&number, &text)) {
      diag::warning("tcp: TCP_NODELAY refused: " + std::to_string(number) + " " + text);
    }
  }
  m_core->noteHandled();
  emitConnect();
}

void QtTcpSocket::onDisconnected() {
  if (m_closingLocally || m_state == SocketState::Error || m_state == SocketState::Closed) return;
  m_state = SocketState::Closed;
  resetSendTracking();
  m_core->noteHandled();
  emitClose();
}

void QtTcpSocket::onError(QAbstractSocket::SocketError error) {
  // A peer close arrives as this error while still connected; disconnected() follows and is
  // reported as the close event.
  if (m_closingLocally || m_binding || error == QAbstractSocket::RemoteHostClosedError) return;
  m_state = SocketState::Error;
  const int number = qt_socket::errorNumber(error);
  const std::string text = qt_socket::toText(m_socket->errorString());
  if (m_inConnect) {
    // Never raise an event inside the caller's connect().
    post([this, number, text] {
      m_core->noteHandled();
      emitError(number, text);
    });
    return;
  }
  m_core->noteHandled();
  emitError(number, text);
}

void QtTcpSocket::onStateChanged(QAbstractSocket::SocketState qtState) {
  if (m_closingLocally || m_state == SocketState::Error) return;
  switch (qtState) {
    case QAbstractSocket::HostLookupState:
      m_state = SocketState::ResolvingHost;
      break;
    case QAbstractSocket::ConnectingState:
      m_state = SocketState::Connecting;
      break;
    case QAbstractSocket::ClosingState:
      m_state = SocketState::Closing;
      break;
    default:
      break;  // connected, closed and bound are set where their events are raised
  }
}

void QtTcpSocket::onBytesWritten(qint64 bytes) {
  m_writtenTowardsFront += bytes;
  int completed = 0;
  while (!m_pendingSends.empty() && m_writtenTowardsFront >= m_pendingSends.front()) {
    m_writtenTowardsFront -= m_pendingSends.front();
    m_pendingSends.pop_front();
    ++completed;
  }
  if (completed == 0) return;
  // Qt may report the write inside send()'s flush; the event must come afterwards.
  post([this, completed, liveness = m_liveness] {
    for (int i = 0; i < completed && liveness->alive; ++i) {
      m_core->noteHandled();
      emitSendComplete();
    }
  });
}

void QtTcpSocket::readAvailable() {
  const QByteArray data = m_socket->readAll();
  if (data.isEmpty()) return;
  m_core->noteHandled();
  emitData(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
}

void QtTcpSocket::resetSendTracking() {
  m_pendingSends.clear();
  m_writtenTowardsFront = 0;
}

}  // namespace rovalink::platform
