#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/qt_event_core.h"
#include "platform/qt/qt_socket_util.h"
#include "platform/udp_socket.h"

namespace rovalink::platform {

// A datagram socket watched on the Qt loop. Binds without address sharing, so a second bind to a
// port in use fails as the port probes of the system expect; broadcast is allowed, since the bus
// is a broadcast one.
class QtUdpSocket : public UdpSocket {
 public:
  explicit QtUdpSocket(std::shared_ptr<QtEventCore> core);
  ~QtUdpSocket() override;
  QtUdpSocket(const QtUdpSocket&) = delete;
  QtUdpSocket& operator=(const QtUdpSocket&) = delete;

  bool bind(const std::string& address, std::uint16_t port, std::string* error = nullptr) override;
  bool isBound() const override { return m_fd >= 0; }
  std::uint16_t localPort() const override { return m_port; }
  bool sendTo(const std::string& host, std::uint16_t port, std::string_view data,
              std::string* error = nullptr) override;
  void close() override;
  std::size_t setReceiveBuffer(std::size_t bytes) override;

 private:
  void readPending();
  // Reports a failure to the caller and as an error event, the event last: it may destroy us.
  bool fail(const qt_socket::Failure& failure, std::string* error);

  std::shared_ptr<QtEventCore> m_core;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
  int m_fd = -1;
  std::unique_ptr<qt_socket::Notifiers> m_notifiers;
  std::uint16_t m_port = 0;
  std::vector<char> m_buffer;
};

}  // namespace rovalink::platform
