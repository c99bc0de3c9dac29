#include "platform/sim/sim_tcp_listener.h"

#include <utility>

#include "platform/sim/sim_tcp_socket.h"

namespace rovalink::platform {

SimTcpListener::SimTcpListener(std::shared_ptr<SimNetwork> network)
    : m_network(std::move(network)) {
  m_id = m_network->add(this);
}

SimTcpListener::~SimTcpListener() {
  m_network->remove(this);
}

bool SimTcpListener::listen(const std::string& address, std::uint16_t port, std::string* error) {
  if (m_listening) {
    if (error) *error = "Already listening";
    return false;
  }
  const auto normalized = sim_address::normalize(address);
  if (!normalized) {
    if (error) *error = "Address not available";
    return false;
  }
  if (auto failure = m_network->takeBindFailure(SimProtocol::Tcp, port)) {
    if (error) *error = failure->description;
    return false;
  }
  const auto claimed = m_network->claimPort(SimProtocol::Tcp, *normalized, port, this, error);
  if (!claimed) return false;
  m_listening = true;
  m_address = *normalized;
  m_port = *claimed;
  return true;
}

bool SimTcpListener::accept(TcpSocket& socket, int requestId) {
  auto* server = dynamic_cast<SimTcpSocket*>(&socket);
  return server != nullptr && m_listening && m_network->acceptRequest(*this, requestId, *server);
}

void SimTcpListener::close() {
  m_listening = false;
  m_network->dropRequestsOf(*this);
}

}  // namespace rovalink::platform
