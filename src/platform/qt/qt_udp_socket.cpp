#include "platform/qt/qt_udp_socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

namespace rovalink::platform {
namespace {

constexpr std::size_t kLargestDatagram = 65536;

}  // namespace

QtUdpSocket::QtUdpSocket(std::shared_ptr<QtEventCore> core) : m_core(std::move(core)) {}

QtUdpSocket::~QtUdpSocket() {
  *m_alive = false;
  close();
}

bool QtUdpSocket::fail(const qt_socket::Failure& failure, std::string* error) {
  if (error) *error = failure.text;
  m_core->noteHandled();
  emitError(failure.code, failure.text);
  return false;
}

bool QtUdpSocket::bind(const std::string& address, std::uint16_t port, std::string* error) {
  if (isBound()) {
    if (error) *error = "Socket is already bound";
    return false;
  }
  const auto local = qt_socket::ipv4(address, port, true);
  if (!local) {
    if (error) *error = "Address not available";
    return false;
  }
  qt_socket::Failure failure{};
  const int fd = qt_socket::openSocket(AF_INET, SOCK_DGRAM, &failure);
  if (fd < 0) return fail(failure, error);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&*local), sizeof *local) != 0) {
    failure = qt_socket::bindFailure(errno);
    ::close(fd);
    return fail(failure, error);
  }
  m_fd = fd;
  m_port = qt_socket::boundPort(fd);
  m_notifiers = std::make_unique<qt_socket::Notifiers>(
      fd, [this] { readPending(); }, [] {});
  m_notifiers->setRead(true);
  return true;
}

bool QtUdpSocket::sendTo(const std::string& host, std::uint16_t port, std::string_view data,
                         std::string* error) {
  const auto destination = qt_socket::ipv4(host, port, false);
  if (!destination) {
    if (error) *error = qt_socket::kHostNotFound;
    return false;
  }
  if (!isBound() && !bind("", m_port, error)) return false;
  ssize_t sent = 0;
  do {
    sent = ::sendto(m_fd, data.data(), data.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&*destination), sizeof *destination);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) return fail(qt_socket::sendToFailure(errno), error);
  return true;
}

void QtUdpSocket::close() {
  m_notifiers.reset();
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;  // the port is kept for the next send
}

std::size_t QtUdpSocket::setReceiveBuffer(std::size_t bytes) {
  const int fd = m_fd;
  if (fd < 0) return 0;
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
  const auto alive = m_alive;
  m_buffer.resize(kLargestDatagram);
  // A handler may pump events and read the rest of the datagrams in a nested call; the order
  // of delivery is kept because each call takes the oldest datagram.
  while (m_fd >= 0) {
    sockaddr_storage from{};
    socklen_t length = sizeof from;
    const ssize_t got = ::recvfrom(m_fd, m_buffer.data(), m_buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &length);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      const qt_socket::Failure failure = qt_socket::receiveFailure(errno);
      m_core->noteHandled();
      emitError(failure.code, failure.text);
      return;
    }
    const auto* sender = reinterpret_cast<const sockaddr*>(&from);
    const Datagram datagram{std::string(m_buffer.data(), static_cast<std::size_t>(got)),
                            qt_socket::dotted(sender), qt_socket::portOf(sender)};
    m_core->noteHandled();
    emitDatagram(datagram);
    if (!*alive) return;
  }
}

}  // namespace rovalink::platform
