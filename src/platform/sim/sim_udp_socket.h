#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/sim/sim_network.h"
#include "platform/udp_socket.h"

namespace rovalink::platform {

class SimUdpSocket : public UdpSocket {
 public:
  explicit SimUdpSocket(std::shared_ptr<SimNetwork> network);
  ~SimUdpSocket() override;
  SimUdpSocket(const SimUdpSocket&) = delete;
  SimUdpSocket& operator=(const SimUdpSocket&) = delete;

  bool bind(const std::string& address, std::uint16_t port, std::string* error = nullptr) override;
  bool isBound() const override { return m_bound; }
  std::uint16_t localPort() const override { return m_port; }
  bool sendTo(const std::string& host, std::uint16_t port, std::string_view data,
              std::string* error = nullptr) override;
  void close() override;
  // Simulated sockets drop nothing: every size is granted.
  std::size_t setReceiveBuffer(std::size_t bytes) override { return m_receiveBuffer = bytes; }
  std::size_t receiveBuffer() const { return m_receiveBuffer; }

  // The address the socket is bound to ("0.0.0.0" for any); meaningful while bound.
  const std::string& boundAddress() const { return m_address; }
  std::uint64_t id() const { return m_id; }

 private:
  friend class SimNetwork;
  void deliver(const Datagram& datagram) { emitDatagram(datagram); }

  std::shared_ptr<SimNetwork> m_network;
  std::uint64_t m_id = 0;
  bool m_bound = false;
  std::string m_address = "0.0.0.0";
  std::uint16_t m_port = 0;
  std::size_t m_receiveBuffer = 0;
};

}  // namespace rovalink::platform
