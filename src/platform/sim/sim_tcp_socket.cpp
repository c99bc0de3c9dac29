#include "platform/sim/sim_tcp_socket.h"

#include <algorithm>
#include <utility>

#include "platform/socket_errors.h"

namespace rovalink::platform {

SimTcpSocket::SimTcpSocket(std::shared_ptr<SimNetwork> network) : m_network(std::move(network)) {
  m_id = m_network->add(this);
}

SimTcpSocket::~SimTcpSocket() {
  close();
  m_network->remove(this);
}

std::uint16_t SimTcpSocket::localPort() const {
  return m_portInUse != 0 ? m_portInUse : m_localPort;
}

bool SimTcpSocket::bind(std::uint16_t localPort, std::string* error) {
  if (m_state != SocketState::Closed) {
    if (error) *error = "Wrong protocol or connection state for the requested transaction";
    return false;
  }
  if (auto failure = m_network->takeBindFailure(SimProtocol::Tcp, localPort)) {
    if (error) *error = failure->description;
    return false;
  }
  const auto claimed = m_network->claimPort(SimProtocol::Tcp, "0.0.0.0", localPort, this, error);
  if (!claimed) return false;
  m_localPort = *claimed;
  m_portInUse = *claimed;
  m_state = SocketState::Open;
  return true;
}

bool SimTcpSocket::connect(const std::string& host, std::uint16_t port, std::string* error) {
  if (m_state != SocketState::Closed && m_state != SocketState::Open) {
    if (error) *error = "Wrong protocol or connection state for the requested transaction";
    return false;
  }
  const auto destination = sim_address::normalize(host);
  m_remoteAddress = host;
  m_remotePort = port;
  m_accepted = false;
  m_peerId = 0;
  if (m_portInUse == 0) {
    // Like a socket with address reuse: a fixed local port is taken even if a probe holds it.
    m_portInUse =
        m_localPort != 0
            ? m_localPort
            : m_network->claimPort(SimProtocol::Tcp, "0.0.0.0", 0, this, nullptr).value_or(0);
  }
  m_state = SocketState::Connecting;
  const std::uint64_t id = m_id;
  if (!destination || sim_address::isAny(*destination)) {
    m_network->loop().post(m_network->latency(), [network = m_network.get(), id] {
      SimTcpSocket* self = network->tcpSocket(id);
      if (self != nullptr && self->m_state == SocketState::Connecting) {
        self->fail(socket_error::kHostNotFound, "Host not found");
      }
    });
    return true;
  }
  m_remoteAddress = *destination;
  m_localAddress = m_network->host().senderAddressFor(*destination);
  m_network->loop().post(m_network->latency(),
                         [network = m_network.get(), id, address = *destination, port] {
                           network->connectArrives(id, address, port);
                         });
  return true;
}

bool SimTcpSocket::setNoDelay(bool on, int* errorCode, std::string* error) {
  if (const auto& failure = m_network->noDelayFailure()) {
    if (errorCode) *errorCode = failure->code;
    if (error) *error = failure->description;
    return false;
  }
  m_noDelay = on;
  return true;
}

bool SimTcpSocket::send(std::string_view data) {
  if (m_state != SocketState::Connected) return false;
  const std::uint64_t self = m_id;
  const std::uint64_t peer = m_peerId;
  SimNetwork* network = m_network.get();
  network->transmit(self, peer, data);
  network->loop().post(network->latency(), [network, self, peer] {
    SimTcpSocket* sender = network->tcpSocket(self);
    if (sender == nullptr || sender->m_peerId != peer ||
        sender->m_state != SocketState::Connected) {
      return;
    }
    if (sender->bytesToWrite() > 0) {
      ++sender->m_owedCompletions;
      return;
    }
    sender->emitSendComplete();
  });
  return true;
}

std::size_t SimTcpSocket::bytesToWrite() const {
  const SimTcpSocket* peer = m_peerId != 0 ? m_network->tcpSocket(m_peerId) : nullptr;
  return peer != nullptr && peer->m_peerId == m_id ? peer->m_unread.size() : 0;
}

void SimTcpSocket::setReading(bool on) {
  m_reading = on;
  if (!on || m_unread.empty()) return;
  const std::string held = std::exchange(m_unread, {});
  const std::uint64_t self = m_id;
  const std::uint64_t peer = m_peerId;
  emitData(held);
  SimNetwork* network = m_network.get();
  network->loop().post(0, [network, self, peer] {
    SimTcpSocket* sender = network->tcpSocket(peer);
    if (sender != nullptr && sender->m_peerId == self) sender->emitOwedCompletions();
  });
}

void SimTcpSocket::emitOwedCompletions() {
  for (int owed = std::exchange(m_owedCompletions, 0); owed > 0; --owed) {
    if (m_state != SocketState::Connected) return;
    emitSendComplete();
  }
}

void SimTcpSocket::close() {
  if (m_state == SocketState::Connected && m_peerId != 0) {
    m_network->loop().post(m_network->latency(),
                           [network = m_network.get(), peer = m_peerId, self = m_id] {
                             if (SimTcpSocket* other = network->tcpSocket(peer)) {
                               other->peerClosed(self, false);
                             }
                           });
  }
  release();
}

void SimTcpSocket::abort() {
  if (m_state == SocketState::Connected && m_peerId != 0) {
    m_network->loop().post(m_network->latency(),
                           [network = m_network.get(), peer = m_peerId, self = m_id] {
                             if (SimTcpSocket* other = network->tcpSocket(peer)) {
                               other->peerClosed(self, true);
                             }
                           });
  }
  release();
}

void SimTcpSocket::release() {
  m_state = SocketState::Closed;
  m_unread.clear();
  m_owedCompletions = 0;
  m_portInUse = 0;
  m_peerId = 0;
  m_accepted = false;
}

void SimTcpSocket::connectSucceeded() {
  m_state = SocketState::Connected;
  emitConnect();
}

void SimTcpSocket::fail(int code, const std::string& description) {
  m_state = SocketState::Error;
  m_peerId = 0;
  emitError(code, description);
}

void SimTcpSocket::receive(const std::string& data) {
  if (!m_reading) {
    m_unread += data;
    return;
  }
  emitData(data);
}

void SimTcpSocket::peerClosed(std::uint64_t peerId, bool reset) {
  if (m_peerId != peerId || m_state != SocketState::Connected) return;
  if (reset) {
    fail(socket_error::kConnectionReset, "Connection reset by peer");
    return;
  }
  release();
  emitClose();
}

}  // namespace rovalink::platform
