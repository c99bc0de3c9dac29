#include "platform/sim/sim_network.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/sim/sim_tcp_listener.h"
#include "platform/sim/sim_tcp_socket.h"
#include "platform/sim/sim_udp_socket.h"
#include "platform/socket_errors.h"

namespace rovalink::platform {

namespace sim_address {

std::optional<std::string> normalize(const std::string& address) {
  if (address.empty()) return std::string("0.0.0.0");
  if (address == "localhost") return std::string("127.0.0.1");
  int parts = 0;
  int digits = 0;
  int value = 0;
  for (const char c : address) {
    if (c == '.') {
      if (digits == 0) return std::nullopt;
      ++parts;
      digits = 0;
      value = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (++digits > 3 || value > 255) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (parts != 3 || digits == 0) return std::nullopt;
  return address;
}

}  // namespace sim_address

namespace {

bool overlaps(const std::string& a, const std::string& b) {
  return sim_address::isAny(a) || sim_address::isAny(b) || a == b;
}

std::string subnetOf(const std::string& address) {
  return address.substr(0, address.rfind('.'));
}

}  // namespace

SimNetwork::SimNetwork(std::shared_ptr<SimEventLoop> loop, std::shared_ptr<SimHostInfo> host)
    : m_loop(std::move(loop)), m_host(std::move(host)) {}

void SimNetwork::failNextBind(SimProtocol protocol, std::uint16_t port, Failure failure) {
  m_bindFailures[{protocol, port}] = std::move(failure);
}

std::optional<SimNetwork::Failure> SimNetwork::takeBindFailure(SimProtocol protocol,
                                                               std::uint16_t port) {
  const auto found = m_bindFailures.find({protocol, port});
  if (found == m_bindFailures.end()) return std::nullopt;
  Failure failure = std::move(found->second);
  m_bindFailures.erase(found);
  return failure;
}

std::uint64_t SimNetwork::add(SimUdpSocket* socket) {
  m_udp[m_nextId] = socket;
  return m_nextId++;
}
std::uint64_t SimNetwork::add(SimTcpSocket* socket) {
  m_tcp[m_nextId] = socket;
  return m_nextId++;
}
std::uint64_t SimNetwork::add(SimTcpListener* listener) {
  m_listeners[m_nextId] = listener;
  return m_nextId++;
}
void SimNetwork::remove(SimUdpSocket* socket) {
  m_udp.erase(socket->m_id);
}
void SimNetwork::remove(SimTcpSocket* socket) {
  m_tcp.erase(socket->m_id);
}
void SimNetwork::remove(SimTcpListener* listener) {
  dropRequestsOf(*listener);
  m_listeners.erase(listener->m_id);
}

SimTcpSocket* SimNetwork::tcpSocket(std::uint64_t id) const {
  const auto found = m_tcp.find(id);
  return found == m_tcp.end() ? nullptr : found->second;
}

bool SimNetwork::isLocalAddress(const std::string& address) const {
  if (sim_address::isLoopback(address) || sim_address::isAny(address)) return true;
  const auto addresses = m_host->ipv4Addresses();
  return std::find(addresses.begin(), addresses.end(), address) != addresses.end();
}

std::uint16_t SimNetwork::freePort(SimProtocol protocol) {
  for (int tries = 0; tries < 16384; ++tries) {
    const std::uint16_t port = m_nextEphemeral;
    m_nextEphemeral = m_nextEphemeral == 65535 ? 49152 : m_nextEphemeral + 1;
    if (claimPort(protocol, "0.0.0.0", port, nullptr, nullptr)) return port;
  }
  return 0;
}

std::optional<std::uint16_t> SimNetwork::claimPort(SimProtocol protocol, const std::string& address,
                                                   std::uint16_t port, const void* self,
                                                   std::string* error) {
  if (port == 0) {
    const std::uint16_t free = freePort(protocol);
    if (free == 0 && error) *error = "No free port";
    return free == 0 ? std::nullopt : std::optional<std::uint16_t>(free);
  }
  bool conflict = false;
  if (protocol == SimProtocol::Udp) {
    for (const auto& [id, socket] : m_udp) {
      if (socket != self && socket->isBound() && socket->localPort() == port &&
          overlaps(socket->boundAddress(), address)) {
        conflict = true;
      }
    }
  } else {
    for (const auto& [id, socket] : m_tcp) {
      if (socket != self && socket->portInUse() == port && !socket->m_accepted) conflict = true;
    }
    for (const auto& [id, listener] : m_listeners) {
      if (listener != self && listener->listening() && listener->localPort() == port &&
          overlaps(listener->address(), address)) {
        conflict = true;
      }
    }
  }
  if (conflict) {
    if (error) *error = "Address in use";
    return std::nullopt;
  }
  return port;
}

void SimNetwork::sendDatagram(const std::string& fromAddress, std::uint16_t fromPort,
                              const std::string& toAddress, std::uint16_t toPort,
                              std::string_view data) {
  std::vector<std::uint64_t> receivers;
  const bool limitedBroadcast = toAddress == "255.255.255.255";
  const bool subnetBroadcast = !limitedBroadcast && toAddress.size() > 4 &&
                               toAddress.compare(toAddress.size() - 4, 4, ".255") == 0;
  for (const auto& [id, socket] : m_udp) {
    if (!socket->isBound() || socket->localPort() != toPort) continue;
    const std::string& bound = socket->boundAddress();
    if (limitedBroadcast || (subnetBroadcast && (sim_address::isAny(bound) ||
                                                 subnetOf(bound) == subnetOf(toAddress)))) {
      receivers.push_back(id);
    }
  }
  if (!limitedBroadcast && !subnetBroadcast) {
    // One receiver: the exact binding first, else a socket of this host bound to any address.
    for (const auto& [id, socket] : m_udp) {
      if (socket->isBound() && socket->localPort() == toPort &&
          socket->boundAddress() == toAddress) {
        receivers.push_back(id);
        break;
      }
    }
    if (receivers.empty() && isLocalAddress(toAddress)) {
      for (const auto& [id, socket] : m_udp) {
        if (socket->isBound() && socket->localPort() == toPort &&
            sim_address::isAny(socket->boundAddress())) {
          receivers.push_back(id);
          break;
        }
      }
    }
  }
  for (const std::uint64_t id : receivers) {
    Datagram datagram{std::string(data), fromAddress, fromPort};
    m_loop->post(m_latency, [this, id, toPort, datagram = std::move(datagram)] {
      const auto found = m_udp.find(id);
      if (found == m_udp.end() || !found->second->isBound() ||
          found->second->localPort() != toPort) {
        return;
      }
      found->second->deliver(datagram);
    });
  }
}

void SimNetwork::connectArrives(std::uint64_t clientId, const std::string& address,
                                std::uint16_t port) {
  SimTcpSocket* client = tcpSocket(clientId);
  if (client == nullptr || client->state() != SocketState::Connecting) return;
  SimTcpListener* target = nullptr;
  for (const auto& [id, listener] : m_listeners) {
    if (listener->listening() && listener->localPort() == port && listener->address() == address) {
      target = listener;
    }
  }
  if (target == nullptr && isLocalAddress(address)) {
    for (const auto& [id, listener] : m_listeners) {
      if (listener->listening() && listener->localPort() == port &&
          sim_address::isAny(listener->address())) {
        target = listener;
      }
    }
  }
  if (target == nullptr) {
    client->fail(socket_error::kConnectionRefused, "Connection refused");
    return;
  }
  const int requestId = m_nextRequestId++;
  m_pending[requestId] = Pending{clientId, target};
  target->request(requestId);
  m_pending.erase(requestId);
  SimTcpSocket* unaccepted = tcpSocket(clientId);
  if (unaccepted == nullptr || unaccepted->m_peerId != 0) return;
  m_loop->post(m_latency, [this, clientId] {
    SimTcpSocket* refused = tcpSocket(clientId);
    if (refused != nullptr && refused->state() == SocketState::Connecting &&
        refused->m_peerId == 0) {
      refused->fail(socket_error::kConnectionRefused, "Connection refused");
    }
  });
}

bool SimNetwork::acceptRequest(SimTcpListener& listener, int requestId, SimTcpSocket& server) {
  const auto found = m_pending.find(requestId);
  if (found == m_pending.end() || found->second.listener != &listener) return false;
  SimTcpSocket* client = tcpSocket(found->second.clientId);
  if (client == nullptr || client->state() != SocketState::Connecting) return false;
  if (server.state() != SocketState::Closed || &server == client) return false;
  m_pending.erase(found);

  server.m_state = SocketState::Connected;
  server.m_accepted = true;
  server.m_peerId = client->id();
  server.m_portInUse = listener.localPort();
  server.m_localAddress =
      sim_address::isAny(listener.address()) ? client->m_remoteAddress : listener.address();
  server.m_remoteAddress = client->m_localAddress;
  server.m_remotePort = client->portInUse();
  client->m_peerId = server.id();

  const std::uint64_t clientId = client->id();
  const std::uint64_t serverId = server.id();
  m_loop->post(m_latency, [this, clientId, serverId] {
    SimTcpSocket* connecting = tcpSocket(clientId);
    if (connecting != nullptr && connecting->state() == SocketState::Connecting &&
        connecting->m_peerId == serverId) {
      connecting->connectSucceeded();
    }
  });
  return true;
}

void SimNetwork::dropRequestsOf(const SimTcpListener& listener) {
  std::erase_if(m_pending, [&](const auto& entry) { return entry.second.listener == &listener; });
}

void SimNetwork::setTcpRandomSplits(std::uint32_t seed) {
  m_randomSplits = true;
  m_splitRandom.seed(seed);
}

void SimNetwork::transmit(std::uint64_t senderId, std::uint64_t peerId, std::string_view data) {
  if (m_merge) {
    std::string& pending = m_inFlight[peerId];
    const bool first = pending.empty();
    pending.append(data);
    if (first) {
      m_loop->post(m_latency, [this, senderId, peerId] {
        const auto node = m_inFlight.extract(peerId);
        if (!node.empty()) deliver(senderId, peerId, node.mapped());
      });
    }
    return;
  }
  m_loop->post(m_latency, [this, senderId, peerId, bytes = std::string(data)] {
    deliver(senderId, peerId, bytes);
  });
}

void SimNetwork::deliver(std::uint64_t senderId, std::uint64_t peerId, const std::string& bytes) {
  std::vector<std::size_t> cuts;
  if (m_segmentSize > 0) {
    for (std::size_t at = m_segmentSize; at < bytes.size(); at += m_segmentSize) cuts.push_back(at);
  }
  if (m_randomSplits && bytes.size() > 1) {
    const std::size_t count = m_splitRandom() % 4;
    for (std::size_t i = 0; i < count; ++i)
      cuts.push_back(1 + m_splitRandom() % (bytes.size() - 1));
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  cuts.push_back(bytes.size());
  std::size_t from = 0;
  for (const std::size_t to : cuts) {
    // Each read looks the receiver up afresh: a handler of the previous one may have closed it.
    SimTcpSocket* receiver = tcpSocket(peerId);
    if (receiver == nullptr || receiver->m_peerId != senderId ||
        receiver->m_state != SocketState::Connected) {
      return;
    }
    receiver->receive(bytes.substr(from, to - from));
    from = to;
  }
}

}  // namespace rovalink::platform
