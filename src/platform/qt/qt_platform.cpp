#include "platform/qt/qt_platform.h"

#include "platform/qt/qt_fd_watch.h"
#include "platform/qt/qt_tcp_listener.h"
#include "platform/qt/qt_tcp_socket.h"
#include "platform/qt/qt_udp_socket.h"

namespace rovalink::platform {
QtPlatform::QtPlatform() = default;

std::unique_ptr<UdpSocket> QtPlatform::createUdpSocket() {
  return std::make_unique<QtUdpSocket>(m_loop.core());
}

std::unique_ptr<TcpSocket> QtPlatform::createTcpSocket() {
  return std::make_unique<QtTcpSocket>(m_loop.core(), *this);
}

std::unique_ptr<TcpListener> QtPlatform::createTcpListener() {
  return std::make_unique<QtTcpListener>(m_loop.core());
}

std::unique_ptr<FdWatch> QtPlatform::createFdWatch(int fd) {
  return std::make_unique<QtFdWatch>(fd, m_loop.core());
}

}  // namespace rovalink::platform
