#include "platform/qt/qt_tcp_socket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/diag.h"
#include "platform/socket_errors.h"

namespace rovalink::platform {
namespace {

const char* const kWrongState = "Wrong protocol or connection state for the requested transaction";
// A peer that never answers is given up after this long, long before the kernel's own limit.
constexpr int kConnectTimeoutMs = 30'000;
// Bytes taken from the kernel per readiness event, so one busy peer cannot hold the loop.
constexpr std::size_t kReadPerTurn = 1 << 20;
constexpr std::size_t kReadChunk = 64 * 1024;

}  // namespace

QtTcpSocket::QtTcpSocket(std::shared_ptr<QtEventCore> core, Platform& platform)
    : m_core(std::move(core)), m_platform(platform), m_anchor(new QObject) {}

QtTcpSocket::~QtTcpSocket() {
  *m_alive = false;
  m_resolver.reset();
  releaseSocket();
  // The timeout or a queued call may be what is running now.
  m_anchor->deleteLater();
}

template <typename F>
void QtTcpSocket::post(F f) {
  QMetaObject::invokeMethod(
      m_anchor,
      [alive = m_alive, f = std::move(f)] {
        if (*alive) f();
      },
      Qt::QueuedConnection);
}

std::uint16_t QtTcpSocket::localPort() const {
  if (m_localPort != 0) return m_localPort;
  return qt_socket::boundPort(m_fd);
}

bool QtTcpSocket::bind(std::uint16_t localPort, std::string* error) {
  if (m_state != SocketState::Closed) {
    if (error) *error = kWrongState;
    return false;
  }
  qt_socket::Failure failure{};
  const int fd = qt_socket::openSocket(AF_INET, SOCK_STREAM, &failure);
  if (fd < 0) {
    if (error) *error = failure.text;
    return false;
  }
  // A probe: no address sharing, so a port that any socket still uses counts as taken. A
  // failed probe is told by the result alone, never as an error event.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(localPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    if (error) *error = qt_socket::bindFailure(errno).text;
    ::close(fd);
    return false;
  }
  m_fd = fd;
  m_localPort = qt_socket::boundPort(fd);
  m_state = SocketState::Open;
  return true;
}

bool QtTcpSocket::connect(const std::string& host, std::uint16_t port, std::string* error) {
  if (m_state != SocketState::Closed && m_state != SocketState::Open) {
    if (error) *error = kWrongState;
    return false;
  }
  m_remoteAddress = host;
  m_remotePort = port;
  resetSendTracking();
  ++m_attempt;
  m_state = SocketState::ResolvingHost;
  m_inConnect = true;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (host == "localhost") {
    startConnecting("127.0.0.1");
  } else if (qt_socket::numeric(host, port, address, length)) {
    startConnecting(host);
  } else {
    if (!m_resolver) m_resolver = std::make_unique<ThreadHostResolver>(m_platform);
    m_resolver->resolve(host,
                        [this, attempt = m_attempt](const std::string& found, const std::string&) {
                          if (attempt != m_attempt || m_state != SocketState::ResolvingHost) return;
                          if (found.empty()) {
                            fail({socket_error::kHostNotFound, qt_socket::kHostNotFound});
                          } else {
                            startConnecting(found);
                          }
                        });
  }
  m_inConnect = false;
  return true;
}

void QtTcpSocket::startConnecting(const std::string& address) {
  sockaddr_storage to{};
  socklen_t length = 0;
  if (!qt_socket::numeric(address, m_remotePort, to, length)) {
    fail({socket_error::kHostNotFound, qt_socket::kHostNotFound});
    return;
  }
  m_state = SocketState::Connecting;
  const int family = to.ss_family;
  if (m_fd >= 0 && family != AF_INET) releaseSocket();  // bound for IPv4 by a probe
  if (m_fd < 0) {
    qt_socket::Failure failure{};
    int fd = qt_socket::openSocket(family, SOCK_STREAM, &failure);
    if (fd >= 0 && m_localPort != 0) {
      // Reuse-address so that a reconnect from the same port is not refused while an earlier
      // connection of ours from it lingers in TIME_WAIT.
      const int on = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_storage local{};
      local.ss_family = static_cast<sa_family_t>(family);
      // The port sits at the same place in both address families.
      reinterpret_cast<sockaddr_in*>(&local)->sin_port = htons(m_localPort);
      const socklen_t localLength = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
      if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), localLength) != 0) {
        diag::warning("tcp: local port " + std::to_string(m_localPort) + " unavailable (" +
                      qt_socket::bindFailure(errno).text + "); connecting from any port");
        ::close(fd);
        fd = qt_socket::openSocket(family, SOCK_STREAM, &failure);
      }
    }
    if (fd < 0) {
      fail(failure);
      return;
    }
    m_fd = fd;
  }
  watch(m_fd);
  int rc = 0;
  do {
    rc = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), length);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno != EINPROGRESS && errno != EALREADY) {
    fail(qt_socket::connectFailure(errno));
    return;
  }
  // Even a connect that completed at once is reported from the loop, never inside connect().
  m_notifiers->setWrite(true);
  QTimer::singleShot(kConnectTimeoutMs, m_anchor, [this, alive = m_alive, attempt = m_attempt] {
    if (*alive && attempt == m_attempt && m_state == SocketState::Connecting) {
      fail({socket_error::kTimedOut, qt_socket::kConnectionTimedOut});
    }
  });
}

void QtTcpSocket::watch(int fd) {
  m_notifiers = std::make_unique<qt_socket::Notifiers>(
      fd, [this] { onReadable(); }, [this] { onWritable(); });
}

void QtTcpSocket::onWritable() {
  if (m_state == SocketState::Connecting) {
    finishConnect();
  } else if (m_state == SocketState::Connected) {
    writePending(true);
  } else if (m_notifiers) {
    m_notifiers->setWrite(false);
  }
}

void QtTcpSocket::finishConnect() {
  int number = 0;
  socklen_t length = sizeof number;
  if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &number, &length) != 0) number = errno;
  if (number == EINPROGRESS || number == EALREADY) return;
  if (number != 0) {
    fail(qt_socket::connectFailure(number));
    return;
  }
  m_state = SocketState::Connected;
  m_notifiers->setWrite(false);
  m_notifiers->setRead(true);
  if (m_noDelay) {
    int code = 0;
    std::string text;
    if (!applyNoDelay(&code, &text)) {
      diag::warning("tcp: TCP_NODELAY refused: " + std::to_string(code) + " " + text);
    }
  }
  m_core->noteHandled();
  emitConnect();
}

bool QtTcpSocket::applyNoDelay(int* errorCode, std::string* error) {
  if (m_fd < 0) return true;  // applied once connected
  const int on = m_noDelay ? 1 : 0;
  if (::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
    const int number = errno;
    if (errorCode) *errorCode = number;
    if (error) *error = std::strerror(number);
    return false;
  }
  return true;
}

bool QtTcpSocket::setNoDelay(bool on, int* errorCode, std::string* error) {
  m_noDelay = on;
  if (m_state != SocketState::Connected) return true;
  return applyNoDelay(errorCode, error);
}

bool QtTcpSocket::send(std::string_view data) {
  if (m_state != SocketState::Connected) return false;
  m_outgoing.append(data);
  m_pendingSends.push_back(data.size());
  // Hand the bytes to the kernel now rather than on the next loop iteration.
  writePending(false);
  return true;
}

void QtTcpSocket::writePending(bool raiseEvents) {
  std::size_t written = 0;
  while (m_outgoingTaken < m_outgoing.size()) {
    const ssize_t n = ::send(m_fd, m_outgoing.data() + m_outgoingTaken,
                             m_outgoing.size() - m_outgoingTaken, MSG_NOSIGNAL);
    if (n > 0) {
      m_outgoingTaken += static_cast<std::size_t>(n);
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || !raiseEvents) {
      break;  // an error inside send() is met again, and reported, from the loop
    }
    const int number = errno;
    if (number == EPIPE || number == ECONNRESET) {
      peerClosed();
    } else {
      fail(qt_socket::writeFailure(number));
    }
    return;
  }
  if (m_outgoingTaken == m_outgoing.size()) {
    m_outgoing.clear();
    m_outgoingTaken = 0;
  } else if (m_outgoingTaken > kReadChunk && m_outgoingTaken > m_outgoing.size() / 2) {
    m_outgoing.erase(0, m_outgoingTaken);
    m_outgoingTaken = 0;
  }
  m_notifiers->setWrite(!m_outgoing.empty());

  m_writtenTowardsFront += written;
  int completed = 0;
  while (!m_pendingSends.empty() && m_writtenTowardsFront >= m_pendingSends.front()) {
    m_writtenTowardsFront -= m_pendingSends.front();
    m_pendingSends.pop_front();
    ++completed;
  }
  if (completed == 0) return;
  // Completion is an event of its own, after send() has returned, and belongs to this
  // connection: none follows a close, nor reaches the next connection taken into this socket.
  post([this, completed, alive = m_alive, attempt = m_attempt] {
    for (int i = 0; i < completed && *alive && attempt == m_attempt; ++i) {
      m_core->noteHandled();
      emitSendComplete();
    }
  });
}

void QtTcpSocket::deliverReceived() {
  // The loop reaches a readable socket a turn later; a server about to drop this connection
  // reads what is already here first.
  int received = 0;
  if (m_state == SocketState::Connected && ::ioctl(m_fd, FIONREAD, &received) == 0 &&
      received > 0) {
    onReadable();
  }
}

void QtTcpSocket::onReadable() {
  if (m_state != SocketState::Connected) {
    m_notifiers->setRead(false);
    return;
  }
  const auto alive = m_alive;
  const int fd = m_fd;
  std::string data;
  bool ended = false;
  int number = 0;
  char chunk[kReadChunk];
  while (data.size() < kReadPerTurn) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      data.append(chunk, static_cast<std::size_t>(n));
      // A short read took all there was: the notifier reports anything that comes later, so
      // asking again would only cost a system call that fails.
      if (static_cast<std::size_t>(n) < sizeof chunk) break;
      continue;
    }
    if (n == 0 || errno == ECONNRESET) {
      ended = true;
    } else if (errno == EINTR) {
      continue;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
      number = errno;
    }
    break;
  }
  if (!data.empty()) {
    m_core->noteHandled();
    emitData(data);
    if (!*alive || m_fd != fd || m_state != SocketState::Connected) return;
  }
  if (ended) {
    peerClosed();
  } else if (number != 0) {
    fail(qt_socket::readFailure(number));
  }
}

void QtTcpSocket::peerClosed() {
  if (m_state == SocketState::Error || m_state == SocketState::Closed) return;
  releaseSocket();
  m_state = SocketState::Closed;
  resetSendTracking();
  m_core->noteHandled();
  emitClose();
}

void QtTcpSocket::fail(const qt_socket::Failure& failure) {
  releaseSocket();
  m_state = SocketState::Error;
  if (m_inConnect) {
    // Never raise an event inside the caller's connect().
    post([this, failure] {
      m_core->noteHandled();
      emitError(failure.code, failure.text);
    });
    return;
  }
  m_core->noteHandled();
  emitError(failure.code, failure.text);
}

void QtTcpSocket::close() {
  if (m_state == SocketState::Connected && m_outgoingTaken < m_outgoing.size()) {
    // What the kernel takes now still goes out; no event follows an own close.
    [[maybe_unused]] const ssize_t n = ::send(m_fd, m_outgoing.data() + m_outgoingTaken,
                                              m_outgoing.size() - m_outgoingTaken, MSG_NOSIGNAL);
  }
  if (m_resolver) m_resolver->cancel();
  ++m_attempt;
  releaseSocket();
  m_state = SocketState::Closed;
  resetSendTracking();
}

bool QtTcpSocket::adopt(int fd) {
  if (m_state != SocketState::Closed || fd < 0) return false;
  releaseSocket();
  resetSendTracking();
  ++m_attempt;
  m_fd = fd;
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
    releaseSocket();  // gone before it was taken
    return true;
  }
  m_remoteAddress = qt_socket::dotted(reinterpret_cast<const sockaddr*>(&peer));
  m_remotePort = qt_socket::portOf(reinterpret_cast<const sockaddr*>(&peer));
  watch(fd);
  // Bytes that came before the accept are delivered from the loop, as an event of their own.
  m_notifiers->setRead(true);
  m_state = SocketState::Connected;
  if (m_noDelay) applyNoDelay(nullptr, nullptr);
  return true;
}

std::size_t QtTcpSocket::bytesToWrite() const {
  return m_state == SocketState::Connected ? m_outgoing.size() - m_outgoingTaken : 0;
}

void QtTcpSocket::releaseSocket() {
  m_notifiers.reset();
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

void QtTcpSocket::resetSendTracking() {
  m_outgoing.clear();
  m_outgoingTaken = 0;
  m_pendingSends.clear();
  m_writtenTowardsFront = 0;
}

}  // namespace rovalink::platform
