#include "platform/thread_host_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>

namespace rovalink::platform {

// Shared by the loop and the lookup thread; whoever lets go last closes the eventfd.
struct ThreadHostResolver::Lookup {
  int fd = -1;
  std::mutex mutex;
  std::string address;
  std::string error;

  ~Lookup() {
    if (fd >= 0) ::close(fd);
  }
};

namespace {

// The first address the system lists, as text.
void lookUp(const std::string& host, int flags, std::string& address, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    error = rc != 0 ? ::gai_strerror(rc) : "no address";
    return;
  }
  char text[INET6_ADDRSTRLEN] = {};
  const void* raw = found->ai_family == AF_INET6
                        ? static_cast<const void*>(
                              &reinterpret_cast<const sockaddr_in6*>(found->ai_addr)->sin6_addr)
                        : static_cast<const void*>(
                              &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
  if (::inet_ntop(found->ai_family, raw, text, sizeof text) != nullptr) {
    address = text;
  } else {
    error = "unusable address";
  }
  ::freeaddrinfo(found);
}

}  // namespace

ThreadHostResolver::ThreadHostResolver(Platform& platform) : m_platform(platform) {}

ThreadHostResolver::~ThreadHostResolver() {
  cancel();
}

void ThreadHostResolver::cancel() {
  m_watch.reset();
  m_lookup.reset();
  m_handler = nullptr;
}

void ThreadHostResolver::resolve(const std::string& host, Handler handler) {
  cancel();
  std::string address, error;
  lookUp(host, AI_NUMERICHOST, address, error);
  if (!address.empty()) {
    handler(address, "");
    return;
  }
  auto lookup = std::make_shared<Lookup>();
  lookup->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (lookup->fd < 0) {
    handler("", "cannot start a name lookup");
    return;
  }
  m_lookup = lookup;
  m_handler = std::move(handler);
  m_watch = m_platform.createFdWatch(lookup->fd);
  m_watch->onReadable([this] { finished(); });
  m_watch->setReadEnabled(true);
  std::thread([lookup, host] {
    std::string found, why;
    lookUp(host, AI_ADDRCONFIG, found, why);
    std::lock_guard lock(lookup->mutex);
    lookup->address = std::move(found);
    lookup->error = std::move(why);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(lookup->fd, &one, sizeof one);
  }).detach();
}

void ThreadHostResolver::finished() {
  if (!m_lookup) return;
  std::uint64_t count = 0;
  if (::read(m_lookup->fd, &count, sizeof count) != static_cast<ssize_t>(sizeof count)) return;
  std::string address, error;
  {
    std::lock_guard lock(m_lookup->mutex);
    address = m_lookup->address;
    error = m_lookup->error;
  }
  const Handler handler = std::move(m_handler);
  cancel();
  if (handler) handler(address, error);
}

}  // namespace rovalink::platform
