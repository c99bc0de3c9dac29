#include "platform/qt/qt_tcp_listener.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QTimer>

#include <cerrno>
#include <utility>

#include "platform/qt/qt_tcp_socket.h"

namespace rovalink::platform {
namespace {

// The common default of 50 overflows when a crowd of clients reconnects at once, and each
// dropped handshake costs its client a one-second retransmission.
constexpr int kListenBacklog = 1024;
// Out of descriptors: accepting again at once would spin; a moment later some may be free.
constexpr int kAcceptPauseMs = 100;
// A crowd of new connections must not hold the loop: the rest are taken on the next turn (the
// notifier stays ready), after the events of the ones taken so far.
constexpr int kAcceptsPerTurn = 16;

}  // namespace

QtTcpListener::QtTcpListener(std::shared_ptr<QtEventCore> core) : m_core(std::move(core)) {}

QtTcpListener::~QtTcpListener() {
  *m_alive = false;
  close();
}

bool QtTcpListener::listen(const std::string& address, std::uint16_t port, std::string* error) {
  if (m_fd >= 0) {
    if (error) *error = "Already listening";
    return false;
  }
  const auto local = qt_socket::ipv4(address, port, true);
  if (!local) {
    if (error) *error = "Address not available";
    return false;
  }
  qt_socket::Failure failure{};
  const int fd = qt_socket::openSocket(AF_INET, SOCK_STREAM, &failure);
  if (fd < 0) {
    if (error) *error = failure.text;
    return false;
  }
  // A restarted server must not wait for its old connections to leave TIME_WAIT.
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&*local), sizeof *local) != 0) {
    failure = qt_socket::bindFailure(errno);
  } else if (::listen(fd, kListenBacklog) != 0) {
    failure = qt_socket::listenFailure(errno);
  } else {
    m_fd = fd;
    m_notifiers = std::make_unique<qt_socket::Notifiers>(
        fd, [this] { takeConnections(); }, [] {});
    m_notifiers->setRead(true);
    return true;
  }
  ::close(fd);
  if (error) *error = failure.text;
  return false;
}

void QtTcpListener::takeConnections() {
  const auto alive = m_alive;
  for (int taken = 0; m_fd >= 0 && taken < kAcceptsPerTurn; ++taken) {
    const int connection = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (connection < 0) {
      const int number = errno;
      if (number == EINTR || number == ECONNABORTED) continue;
      if (number != EAGAIN && number != EWOULDBLOCK) {
        m_notifiers->setRead(false);
        QTimer::singleShot(kAcceptPauseMs, m_notifiers->context(), [this, alive] {
          if (*alive && m_notifiers) m_notifiers->setRead(true);
        });
      }
      return;
    }
    const int requestId = m_nextRequestId++;
    m_pending[requestId] = connection;
    m_core->noteHandled();
    emitConnectionRequest(requestId);
    if (!*alive) return;
    const auto left = m_pending.find(requestId);
    if (left != m_pending.end()) {
      ::close(left->second);
      m_pending.erase(left);
    }
  }
}

bool QtTcpListener::accept(TcpSocket& socket, int requestId) {
  auto* target = dynamic_cast<QtTcpSocket*>(&socket);
  const auto found = m_pending.find(requestId);
  if (target == nullptr || found == m_pending.end()) return false;
  if (!target->adopt(found->second)) return false;
  m_pending.erase(found);
  return true;
}

void QtTcpListener::close() {
  m_notifiers.reset();
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  for (const auto& [id, connection] : m_pending) ::close(connection);
  m_pending.clear();
}

}  // namespace rovalink::platform
