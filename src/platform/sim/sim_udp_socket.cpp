#include "platform/sim/sim_udp_socket.h"

#include <utility>

#include "platform/socket_errors.h"

namespace rovalink::platform {
namespace {

// The largest payload of one IPv4 UDP datagram.
constexpr std::size_t kMaxDatagram = 65507;

}  // namespace

SimUdpSocket::SimUdpSocket(std::shared_ptr<SimNetwork> network) : m_network(std::move(network)) {
  m_id = m_network->add(this);
}

SimUdpSocket::~SimUdpSocket() {
  m_network->remove(this);
}

bool SimUdpSocket::bind(const std::string& address, std::uint16_t port, std::string* error) {
  if (m_bound) {
    if (error) *error = "Socket is already bound";
    return false;
  }
  const auto normalized = sim_address::normalize(address);
  if (!normalized) {
    if (error) *error = "Address not available";
    return false;
  }
  if (auto failure = m_network->takeBindFailure(SimProtocol::Udp, port)) {
    if (error) *error = failure->description;
    return false;
  }
  const auto claimed = m_network->claimPort(SimProtocol::Udp, *normalized, port, this, error);
  if (!claimed) return false;
  m_bound = true;
  m_address = *normalized;
  m_port = *claimed;
  return true;
}

bool SimUdpSocket::sendTo(const std::string& host, std::uint16_t port, std::string_view data,
                          std::string* error) {
  const auto destination = sim_address::normalize(host);
  if (!destination || sim_address::isAny(*destination) || port == 0) {
    if (error) *error = "Address not available";
    return false;
  }
  if (data.size() > kMaxDatagram) {
    if (error) *error = "Message too long";
    emitError(socket_error::kMessageTooBig, "Message too long");
    return false;
  }
  if (!m_bound && !bind("0.0.0.0", m_port, error)) return false;
  const std::string sender =
      sim_address::isAny(m_address) ? m_network->host().senderAddressFor(*destination) : m_address;
  m_network->sendDatagram(sender, m_port, *destination, port, data);
  return true;
}

void SimUdpSocket::close() {
  m_bound = false;  // the port is kept for the next send
}

}  // namespace rovalink::platform
