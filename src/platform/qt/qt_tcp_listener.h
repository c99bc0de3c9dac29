#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/qt/qt_event_core.h"
#include "platform/qt/qt_socket_util.h"
#include "platform/tcp_socket.h"

namespace rovalink::platform {

// Each incoming connection is offered once, through the request event; one that the handler
// does not accept is closed when the handler returns.
class QtTcpListener : public TcpListener {
 public:
  explicit QtTcpListener(std::shared_ptr<QtEventCore> core);
  ~QtTcpListener() override;
  QtTcpListener(const QtTcpListener&) = delete;
  QtTcpListener& operator=(const QtTcpListener&) = delete;

  bool listen(const std::string& address, std::uint16_t port,
              std::string* error = nullptr) override;
  std::uint16_t localPort() const override { return qt_socket::boundPort(m_fd); }
  bool accept(TcpSocket& socket, int requestId) override;
  void close() override;

 private:
  void takeConnections();

  std::shared_ptr<QtEventCore> m_core;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
  int m_fd = -1;
  std::unique_ptr<qt_socket::Notifiers> m_notifiers;
  std::map<int, int> m_pending;  // request id → accepted descriptor
  int m_nextRequestId = 1;
};

}  // namespace rovalink::platform
