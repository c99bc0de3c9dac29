#pragma once

#include <QObject>
#include <QTcpSocket>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/qt/qt_event_core.h"
#include "platform/qt/qt_socket_util.h"
#include "platform/tcp_socket.h"

namespace rovalink::platform {

// A QTcpSocket with the classic socket control's states and events. Qt's own states do not
// carry the error state and report a peer close as an error; this wrapper keeps state 9 after
// an error until close(), and turns a peer close into the close event with state 0.
class QtTcpSocket : public TcpSocket {
 public:
  explicit QtTcpSocket(std::shared_ptr<QtEventCore> core);
  ~QtTcpSocket() override;
  QtTcpSocket(const QtTcpSocket&) = delete;
  QtTcpSocket& operator=(const QtTcpSocket&) = delete;

  SocketState state() const override { return m_state; }
  bool bind(std::uint16_t localPort, std::string* error = nullptr) override;
  void setLocalPort(std::uint16_t port) override { m_localPort = port; }
  std::uint16_t localPort() const override;
  bool connect(const std::string& host, std::uint16_t port, std::string* error = nullptr) override;
  bool setNoDelay(bool on, int* errorCode = nullptr, std::string* error = nullptr) override;
  bool send(std::string_view data) override;
  std::size_t bytesToWrite() const override;
  void close() override;
  void deliverReceived() override;
  std::string remoteAddress() const override { return m_remoteAddress; }
  std::uint16_t remotePort() const override { return m_remotePort; }

  // Takes over a connection accepted by a listener; false unless this socket is closed.
  bool adopt(QTcpSocket* accepted);

 private:
  void wire();
  // Runs f as one of this socket's events, unless the socket is gone by then.
  template <typename F>
  void post(F f);
  void onConnected();
  void onDisconnected();
  void onError(QAbstractSocket::SocketError error);
  void onStateChanged(QAbstractSocket::SocketState qtState);
  void onBytesWritten(qint64 bytes);
  void readAvailable();
  bool applyNoDelay(int* errorCode, std::string* error);
  bool bindQuietly(std::uint16_t localPort, QAbstractSocket::BindMode mode);
  void resetSendTracking();

  std::shared_ptr<QtEventCore> m_core;
  std::shared_ptr<qt_socket::Liveness> m_liveness = std::make_shared<qt_socket::Liveness>();
  std::unique_ptr<QTcpSocket> m_socket;
  std::unique_ptr<QObject> m_context;  // receiver of m_socket's signals and of queued events
  SocketState m_state = SocketState::Closed;
  std::uint16_t m_localPort = 0;
  std::string m_remoteAddress;
  std::uint16_t m_remotePort = 0;
  bool m_noDelay = false;
  bool m_closingLocally = false;
  bool m_inConnect = false;
  bool m_binding = false;
  std::deque<qint64> m_pendingSends;  // bytes of each send() not yet fully written
  qint64 m_writtenTowardsFront = 0;
};

}  // namespace rovalink::platform
