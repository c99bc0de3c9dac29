#include "platform/sim/sim_platform.h"

#include <utility>

#include "platform/sim/sim_tcp_listener.h"
#include "platform/sim/sim_tcp_socket.h"
#include "platform/sim/sim_udp_socket.h"
#include "platform/socket_errors.h"

namespace rovalink::platform {

SimPlatform::SimPlatform()
    : m_loop(std::make_shared<SimEventLoop>()),
      m_host(std::make_shared<SimHostInfo>()),
      m_network(std::make_shared<SimNetwork>(m_loop, m_host)),
      m_clock(m_loop) {}

SimPlatform::~SimPlatform() = default;

std::unique_ptr<UdpSocket> SimPlatform::createUdpSocket() {
  return std::make_unique<SimUdpSocket>(m_network);
}

std::unique_ptr<TcpSocket> SimPlatform::createTcpSocket() {
  return std::make_unique<SimTcpSocket>(m_network);
}

std::unique_ptr<TcpListener> SimPlatform::createTcpListener() {
  return std::make_unique<SimTcpListener>(m_network);
}

std::unique_ptr<FdWatch> SimPlatform::createFdWatch(int fd) {
  return std::make_unique<SimFdWatch>(fd, m_loop, m_fdWatches);
}

SimFdWatch* SimPlatform::fdWatch(int fd) const {
  const auto it = m_fdWatches->find(fd);
  return it == m_fdWatches->end() ? nullptr : it->second;
}

void SimPlatform::makeReadable(int fd) {
  if (SimFdWatch* watch = fdWatch(fd)) watch->postReadable();
}

void SimPlatform::failNextBind(SimProtocol protocol, std::uint16_t port, std::string description) {
  m_network->failNextBind(protocol, port,
                          SimNetwork::Failure{socket_error::kAddressInUse, std::move(description)});
}

}  // namespace rovalink::platform
