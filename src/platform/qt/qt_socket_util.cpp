#include "platform/qt/qt_socket_util.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/socket_errors.h"

namespace rovalink::platform::qt_socket {
namespace {

const char* const kUnknownError = "Unknown error";
const char* const kUnsupported = "Operation on socket is not supported";

}  // namespace

Failure createFailure(int number) {
  switch (number) {
    case EPROTONOSUPPORT:
    case EAFNOSUPPORT:
    case EINVAL:
      return {socket_error::kUnsupported, "Protocol type not supported"};
    case ENFILE:
    case EMFILE:
    case ENOBUFS:
    case ENOMEM:
      return {socket_error::kNoBufferSpace, "Out of resources"};
    case EACCES:
      return {socket_error::kAccessDenied, "Permission denied"};
    default:
      return {socket_error::kUnknown, kUnknownError};
  }
}

Failure bindFailure(int number) {
  switch (number) {
    case EADDRINUSE:
      return {socket_error::kAddressInUse, "The bound address is already in use"};
    case EACCES:
      return {socket_error::kAccessDenied, "The address is protected"};
    case EINVAL:
      return {socket_error::kUnsupported, kUnsupported};
    case EADDRNOTAVAIL:
      return {socket_error::kAddressNotAvailable, "The address is not available"};
    default:
      return {socket_error::kUnknown, kUnknownError};
  }
}

Failure listenFailure(int number) {
  if (number == EADDRINUSE) {
    return {socket_error::kAddressInUse, "Another socket is already listening on the same port"};
  }
  return {socket_error::kUnknown, kUnknownError};
}

Failure connectFailure(int number) {
  switch (number) {
    case ECONNREFUSED:
    case EINVAL:
    case ENOENT:
      return {socket_error::kConnectionRefused, "Connection refused"};
    case ETIMEDOUT:
      return {socket_error::kNetworkDown, kConnectionTimedOut};
    case EHOSTUNREACH:
      return {socket_error::kNetworkDown, "Host unreachable"};
    case ENETUNREACH:
      return {socket_error::kNetworkDown, "Network unreachable"};
    case EADDRINUSE:
      return {socket_error::kNetworkDown, "The bound address is already in use"};
    case EACCES:
    case EPERM:
      return {socket_error::kAccessDenied, "Permission denied"};
    case EAFNOSUPPORT:
    case EBADF:
    case EFAULT:
    case ENOTSOCK:
      return {socket_error::kUnsupported, kUnsupported};
    default:
      return {socket_error::kUnknown, kUnknownError};
  }
}

Failure sendToFailure(int number) {
  switch (number) {
    case EMSGSIZE:
      return {socket_error::kMessageTooBig, "Datagram was too large to send"};
    case ECONNRESET:
      return {socket_error::kConnectionReset, "The remote host closed the connection"};
    case EAGAIN:
      return {socket_error::kUnknown, "Unable to send a datagram"};
    default:
      return {socket_error::kNetworkDown, "Unable to send a message"};
  }
}

Failure receiveFailure(int number) {
  if (number == ECONNREFUSED) return {socket_error::kConnectionRefused, "Connection refused"};
  return {socket_error::kNetworkDown, "Unable to receive a message"};
}

Failure writeFailure(int /*number*/) {
  return {socket_error::kNetworkDown, "Unable to write"};
}

Failure readFailure(int /*number*/) {
  return {socket_error::kNetworkDown, "Network error"};
}

int openSocket(int family, int type, Failure* failure) {
  const int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0 && failure) *failure = createFailure(errno);
  return fd;
}

std::optional<sockaddr_in> ipv4(const std::string& host, std::uint16_t port, bool allowAny) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (host.empty() || host == "0.0.0.0") {
    if (!allowAny) return std::nullopt;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return address;
  }
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1) return address;
  if (host == "localhost") {
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return address;
}

bool numeric(const std::string& host, std::uint16_t port, sockaddr_storage& address,
             socklen_t& length) {
  address = {};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof(sockaddr_in);
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

std::string dotted(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                sizeof text);
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
      ::inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
    } else {
      ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    }
  }
  return text;
}

std::uint16_t portOf(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
  }
  if (address->sa_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
  }
  return 0;
}

std::uint16_t boundPort(int fd) {
  if (fd < 0) return 0;
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return portOf(reinterpret_cast<const sockaddr*>(&address));
}

Notifiers::Notifiers(int fd, std::function<void()> onReadable, std::function<void()> onWritable)
    : m_read(new QSocketNotifier(fd, QSocketNotifier::Read)),
      m_write(new QSocketNotifier(fd, QSocketNotifier::Write)) {
  m_read->setEnabled(false);
  m_write->setEnabled(false);
  const std::shared_ptr<bool> alive = m_alive;
  QObject::connect(m_read, &QSocketNotifier::activated, m_read,
                   [alive, handler = std::move(onReadable)] {
                     if (*alive) handler();
                   });
  QObject::connect(m_write, &QSocketNotifier::activated, m_write,
                   [alive, handler = std::move(onWritable)] {
                     if (*alive) handler();
                   });
}

Notifiers::~Notifiers() {
  *m_alive = false;
  // Destroyed from inside a notifier's own signal as often as not: Qt deletes them afterwards.
  for (QSocketNotifier* notifier : {m_read, m_write}) {
    notifier->setEnabled(false);
    notifier->deleteLater();
  }
}

void Notifiers::setRead(bool enabled) {
  if (m_read->isEnabled() != enabled) m_read->setEnabled(enabled);
}

void Notifiers::setWrite(bool enabled) {
  if (m_write->isEnabled() != enabled) m_write->setEnabled(enabled);
}

QObject* Notifiers::context() const {
  return m_read;
}

}  // namespace rovalink::platform::qt_socket
