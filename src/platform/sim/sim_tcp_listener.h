#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/sim/sim_network.h"
#include "platform/tcp_socket.h"

namespace rovalink::platform {

// A request that is not accepted while its handler runs is refused: the client gets
// "Connection refused".
class SimTcpListener : public TcpListener {
 public:
  explicit SimTcpListener(std::shared_ptr<SimNetwork> network);
  ~SimTcpListener() override;
  SimTcpListener(const SimTcpListener&) = delete;
  SimTcpListener& operator=(const SimTcpListener&) = delete;

  bool listen(const std::string& address, std::uint16_t port,
              std::string* error = nullptr) override;
  std::uint16_t localPort() const override { return m_port; }
  bool accept(TcpSocket& socket, int requestId) override;
  void close() override;

  bool listening() const { return m_listening; }
  const std::string& address() const { return m_address; }

 private:
  friend class SimNetwork;
  void request(int requestId) { emitConnectionRequest(requestId); }

  std::shared_ptr<SimNetwork> m_network;
  std::uint64_t m_id = 0;
  bool m_listening = false;
  std::string m_address = "0.0.0.0";
  std::uint16_t m_port = 0;
};

}  // namespace rovalink::platform
