#include "platform/qt/qt_udp_socket.h"

#include <sys/socket.h>
#include <QNetworkDatagram>
#include <QNetworkProxy>

#include <algorithm>
#include <climits>
#include <utility>

namespace rovalink::platform {

QtUdpSocket::QtUdpSocket(std::shared_ptr<QtEventCore> core)
    : m_core(std::move(core)),
      m_socket(std::make_unique<QUdpSocket>()),
      m_context(std::make_unique<QObject>()) {
  // The bus and the robot are on this network: no proxy ever carries them, and asking the
  // system for one starts a resolver thread that delays the first heartbeat by milliseconds.
  m_socket->setProxy(QNetworkProxy::NoProxy);
  const auto& live = m_liveness;
  QObject::connect(m_socket.get(), &QUdpSocket::readyRead, m_context.get(), [this, live] {
    qt_socket::SignalScope scope(live);
    readPending();
  });
  QObject::connect(m_socket.get(), &QUdpSocket::errorOccurred, m_context.get(),
                   [this, live](QAbstractSocket::SocketError error) {
                     qt_socket::SignalScope scope(live);
                     m_core->noteHandled();
                     emitError(qt_socket::errorNumber(error),
                               qt_socket::toText(m_socket->errorString()));
                   });
}

QtUdpSocket::~QtUdpSocket() {
  m_liveness->alive = false;
  QObject::disconnect(m_socket.get(), nullptr, m_context.get(), nullptr);
  m_socket->abort();
  qt_socket::dispose(m_context, *m_liveness);
  qt_socket::dispose(m_socket, *m_liveness);
}

bool QtUdpSocket::isBound() const {
  return m_socket->state() == QAbstractSocket::BoundState;
}

bool QtUdpSocket::bind(const std::string& address, std::uint16_t port, std::string* error) {
  if (isBound()) {
    if (error) *error = "Socket is already bound";
    return false;
  }
  const auto local = qt_socket::resolve(address, true);
  if (!local) {
    if (error) *error = "Address not available";
    return false;
  }
  if (!m_socket->bind(*local, port, QAbstractSocket::DontShareAddress)) {
    if (error) *error = qt_socket::toText(m_socket->errorString());
    m_socket->abort();
    return false;
  }
  m_port = m_socket->localPort();
  return true;
}

bool QtUdpSocket::sendTo(const std::string& host, std::uint16_t port, std::string_view data,
                         std::string* error) {
  const auto destination = qt_socket::resolve(host, false);
  if (!destination) {
    if (error) *error = "Host not found";
    return false;
  }
  if (!isBound() && !bind("", m_port, error)) return false;
  if (m_socket->writeDatagram(qt_socket::toBytes(data), *destination, port) < 0) {
    if (error) *error = qt_socket::toText(m_socket->errorString());
    return false;
  }
  return true;
}

void QtUdpSocket::close() {
  m_socket->abort();  // the port is kept for the next send
}

std::size_t QtUdpSocket::setReceiveBuffer(std::size_t bytes) {
  const qintptr descriptor = m_socket->socketDescriptor();
  if (descriptor < 0) return 0;
  const int fd = static_cast<int>(descriptor);
  const int wanted = static_cast<int>(std::min<std::size_t>(bytes, INT_MAX / 2));
  const auto granted = [fd] {
    int size = 0;
    socklen_t length = sizeof size;
    return ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length) == 0 ? size : 0;
  };
  // The kernel caps SO_RCVBUF at net.core.rmem_max; SO_RCVBUFFORCE passes the cap where the
  // process may (CAP_NET_ADMIN). Linux reports twice the size asked for (its bookkeeping).
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
#ifdef SO_RCVBUFFORCE
  if (granted() < wanted) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted);
#endif
  return static_cast<std::size_t>(std::max(granted(), 0));
}

void QtUdpSocket::readPending() {
  const auto liveness = m_liveness;
  // A handler may pump events and read the rest of the datagrams in a nested call; the order
  // of delivery is kept because each call takes the oldest datagram.
  while (m_socket->hasPendingDatagrams()) {
    const QNetworkDatagram received = m_socket->receiveDatagram();
    if (!received.isValid()) break;
    const Datagram datagram{qt_socket::toText(received.data()),
                            qt_socket::dotted(received.senderAddress()),
                            static_cast<std::uint16_t>(received.senderPort())};
    m_core->noteHandled();
    emitDatagram(datagram);
    if (!liveness->alive) return;
  }
}

}  // namespace rovalink::platform
