#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/sim/sim_network.h"
#include "platform/tcp_socket.h"

namespace rovalink::platform {

class SimTcpSocket : public TcpSocket {
 public:
  explicit SimTcpSocket(std::shared_ptr<SimNetwork> network);
  // Destroying a connected socket closes it: the peer sees a close.
  ~SimTcpSocket() override;
  SimTcpSocket(const SimTcpSocket&) = delete;
  SimTcpSocket& operator=(const SimTcpSocket&) = delete;

  SocketState state() const override { return m_state; }
  bool bind(std::uint16_t localPort, std::string* error = nullptr) override;
  void setLocalPort(std::uint16_t port) override { m_localPort = port; }
  std::uint16_t localPort() const override;
  bool connect(const std::string& host, std::uint16_t port, std::string* error = nullptr) override;
  bool setNoDelay(bool on, int* errorCode = nullptr, std::string* error = nullptr) override;
  bool send(std::string_view data) override;
  // Bytes of this socket's sends that the peer holds unread (see setReading).
  std::size_t bytesToWrite() const override;
  void close() override;
  std::string remoteAddress() const override { return m_remoteAddress; }
  std::uint16_t remotePort() const override { return m_remotePort; }

  // Test hooks.
  bool noDelay() const { return m_noDelay; }
  // Ends the connection with a reset: the peer gets the error "Connection reset by peer"
  // (state 9); this socket is closed.
  void abort();

  // A peer that stops reading: what arrives is held unread, and the sender's send-complete
  // events wait until it is read. Reading again delivers what was held, as one read.
  void setReading(bool on);
  std::size_t unreadBytes() const { return m_unread.size(); }

  std::uint64_t id() const { return m_id; }
  // The port in use while bound, connecting or connected; 0 otherwise.
  std::uint16_t portInUse() const { return m_portInUse; }
  const std::string& localAddress() const { return m_localAddress; }

 private:
  friend class SimNetwork;
  void connectSucceeded();
  void fail(int code, const std::string& description);
  void receive(const std::string& data);
  void peerClosed(std::uint64_t peerId, bool reset);
  void release();
  void emitOwedCompletions();

  std::shared_ptr<SimNetwork> m_network;
  std::uint64_t m_id = 0;
  SocketState m_state = SocketState::Closed;
  std::uint16_t m_localPort = 0;
  std::uint16_t m_portInUse = 0;
  std::string m_localAddress;
  std::string m_remoteAddress;
  std::uint16_t m_remotePort = 0;
  std::uint64_t m_peerId = 0;
  bool m_noDelay = false;
  bool m_accepted = false;  // the server side of a listener's connection
  bool m_reading = true;
  std::string m_unread;
  int m_owedCompletions = 0;  // send-complete events waiting for the peer to read
};

}  // namespace rovalink::platform
