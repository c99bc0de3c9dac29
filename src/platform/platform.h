#pragma once

#include <memory>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/fd_watch.h"
#include "platform/host_info.h"
#include "platform/tcp_socket.h"
#include "platform/udp_socket.h"

namespace rovalink::platform {

// Everything the core needs from the operating system, in one place to hand around.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual EventLoop& loop() = 0;
  virtual Clock& clock() = 0;
  virtual HostInfo& host() = 0;
  virtual Process& process() = 0;

  virtual std::unique_ptr<UdpSocket> createUdpSocket() = 0;
  virtual std::unique_ptr<TcpSocket> createTcpSocket() = 0;
  virtual std::unique_ptr<TcpListener> createTcpListener() = 0;
  // Watches a socket descriptor that a client library owns; read and write start disabled.
  virtual std::unique_ptr<FdWatch> createFdWatch(int fd) = 0;
};

}  // namespace rovalink::platform
