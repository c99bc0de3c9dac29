#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "platform/sim/sim_event_loop.h"
#include "platform/sim/sim_host_info.h"

namespace rovalink::platform {

class SimUdpSocket;
class SimTcpSocket;
class SimTcpListener;

enum class SimProtocol { Udp, Tcp };

// The in-memory network shared by the sockets of one SimPlatform. Every delivery is an entry
// on the loop `latency` after the send, never a call made inside send().
class SimNetwork {
 public:
  struct Failure {
    int code = 0;
    std::string description;
  };

  SimNetwork(std::shared_ptr<SimEventLoop> loop, std::shared_ptr<SimHostInfo> host);
  SimNetwork(const SimNetwork&) = delete;
  SimNetwork& operator=(const SimNetwork&) = delete;

  SimEventLoop& loop() { return *m_loop; }
  const SimHostInfo& host() const { return *m_host; }

  // Options and fault injection.
  void setLatency(SimEventLoop::Micros latency) { m_latency = latency; }
  SimEventLoop::Micros latency() const { return m_latency; }
  // TCP delivery faults, as real networks deliver: every read is cut into segments of at most
  // this size (0: whole); with merging on, consecutive sends still in flight to one socket arrive
  // as one read; with a split seed, every read is also cut at random byte positions (seeded, so
  // a failing run can be repeated).
  void setTcpSegmentSize(std::size_t bytes) { m_segmentSize = bytes; }
  void setTcpMerge(bool on) { m_merge = on; }
  void setTcpRandomSplits(std::uint32_t seed);
  void failNextBind(SimProtocol protocol, std::uint16_t port, Failure failure);
  void failNoDelay(std::optional<Failure> failure) { m_noDelayFailure = std::move(failure); }
  const std::optional<Failure>& noDelayFailure() const { return m_noDelayFailure; }

  // Registry, used by the sockets.
  std::uint64_t add(SimUdpSocket* socket);
  std::uint64_t add(SimTcpSocket* socket);
  std::uint64_t add(SimTcpListener* listener);
  void remove(SimUdpSocket* socket);
  void remove(SimTcpSocket* socket);
  void remove(SimTcpListener* listener);
  SimTcpSocket* tcpSocket(std::uint64_t id) const;

  // Checks a bind of address:port; on success returns the port to use (a free one for port 0).
  std::optional<std::uint16_t> claimPort(SimProtocol protocol, const std::string& address,
                                         std::uint16_t port, const void* self, std::string* error);
  // Takes an injected failure for this bind, if one is armed.
  std::optional<Failure> takeBindFailure(SimProtocol protocol, std::uint16_t port);

  void sendDatagram(const std::string& fromAddress, std::uint16_t fromPort,
                    const std::string& toAddress, std::uint16_t toPort, std::string_view data);

  // TCP: the connect attempt of a client reaches address:port after the latency.
  void connectArrives(std::uint64_t clientId, const std::string& address, std::uint16_t port);
  bool acceptRequest(SimTcpListener& listener, int requestId, SimTcpSocket& server);
  void dropRequestsOf(const SimTcpListener& listener);

 private:
  struct Pending {
    std::uint64_t clientId = 0;
    const SimTcpListener* listener = nullptr;
  };
  bool isLocalAddress(const std::string& address) const;
  // Hands bytes sent by one socket to its peer after the latency, with the delivery faults.
  void transmit(std::uint64_t senderId, std::uint64_t peerId, std::string_view data);
  void deliver(std::uint64_t senderId, std::uint64_t peerId, const std::string& bytes);
  std::uint16_t freePort(SimProtocol protocol);

  std::shared_ptr<SimEventLoop> m_loop;
  std::shared_ptr<SimHostInfo> m_host;
  SimEventLoop::Micros m_latency = 0;
  std::size_t m_segmentSize = 0;
  bool m_merge = false;
  bool m_randomSplits = false;
  std::mt19937 m_splitRandom;
  // Bytes in flight per receiving socket while merging.
  std::map<std::uint64_t, std::string> m_inFlight;
  std::optional<Failure> m_noDelayFailure;
  std::map<std::pair<SimProtocol, std::uint16_t>, Failure> m_bindFailures;
  std::map<std::uint64_t, SimUdpSocket*> m_udp;
  std::map<std::uint64_t, SimTcpSocket*> m_tcp;
  std::map<std::uint64_t, SimTcpListener*> m_listeners;
  std::map<int, Pending> m_pending;
  std::uint64_t m_nextId = 1;
  int m_nextRequestId = 1;
  std::uint16_t m_nextEphemeral = 49152;

  friend class SimTcpSocket;
};

// Address helpers shared by the sim sockets.
namespace sim_address {
// "" and "0.0.0.0" become "0.0.0.0", "localhost" becomes "127.0.0.1"; anything that is not a
// dotted IPv4 address gives nullopt.
std::optional<std::string> normalize(const std::string& address);
inline bool isAny(const std::string& a) {
  return a == "0.0.0.0";
}
inline bool isLoopback(const std::string& a) {
  return a.rfind("127.", 0) == 0;
}
}  // namespace sim_address

}  // namespace rovalink::platform
