#pragma once

#include <QObject>
#include <QUdpSocket>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/qt/qt_event_core.h"
#include "platform/qt/qt_socket_util.h"
#include "platform/udp_socket.h"

namespace rovalink::platform {

// Binds without address sharing, so a second bind to a port in use fails as the port probes
// of the system expect.
class QtUdpSocket : public UdpSocket {
 public:
  explicit QtUdpSocket(std::shared_ptr<QtEventCore> core);
  ~QtUdpSocket() override;
  QtUdpSocket(const QtUdpSocket&) = delete;
  QtUdpSocket& operator=(const QtUdpSocket&) = delete;

  bool bind(const std::string& address, std::uint16_t port, std::string* error = nullptr) override;
  bool isBound() const override;
  std::uint16_t localPort() const override { return m_port; }
  bool sendTo(const std::string& host, std::uint16_t port, std::string_view data,
              std::string* error = nullptr) override;
  void close() override;
  std::size_t setReceiveBuffer(std::size_t bytes) override;

 private:
  void readPending();

  std::shared_ptr<QtEventCore> m_core;
  std::shared_ptr<qt_socket::Liveness> m_liveness = std::make_shared<qt_socket::Liveness>();
  std::unique_ptr<QUdpSocket> m_socket;
  std::unique_ptr<QObject> m_context;  // receiver of the socket's signals
  std::uint16_t m_port = 0;
};

}  // namespace rovalink::platform
