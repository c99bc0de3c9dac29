#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/qt/qt_event_core.h"
#include "platform/qt/qt_socket_util.h"
#include "platform/tcp_socket.h"
#include "platform/thread_host_resolver.h"

class QObject;

namespace rovalink::platform {

// A non-blocking TCP socket on the Qt loop with the classic socket control's states and events:
// state 9 after an error until close(), a peer close as the close event with state 0, and no
// event ever raised inside the caller's connect() or send(). Names are looked up off the loop.
class QtTcpSocket : public TcpSocket {
 public:
  QtTcpSocket(std::shared_ptr<QtEventCore> core, Platform& platform);
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
  bool adopt(int fd);

 private:
  // Runs f from the event loop, after the current call has returned, unless the socket is gone.
  template <typename F>
  void post(F f);
  void startConnecting(const std::string& address);
  void watch(int fd);
  void onReadable();
  void onWritable();
  void finishConnect();
  // Writes what the kernel takes now; reports errors only when allowed to raise events.
  void writePending(bool raiseEvents);
  void peerClosed();
  void fail(const qt_socket::Failure& failure);
  bool applyNoDelay(int* errorCode, std::string* error);
  void releaseSocket();
  void resetSendTracking();

  std::shared_ptr<QtEventCore> m_core;
  Platform& m_platform;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
  QObject* m_anchor;  // receiver of queued calls and the connect timeout; deleted later
  int m_fd = -1;
  std::unique_ptr<qt_socket::Notifiers> m_notifiers;
  std::unique_ptr<ThreadHostResolver> m_resolver;
  SocketState m_state = SocketState::Closed;
  std::uint16_t m_localPort = 0;
  std::string m_remoteAddress;
  std::uint16_t m_remotePort = 0;
  bool m_noDelay = false;
  bool m_inConnect = false;
  // Counts connections and connect attempts: tells a late timeout or completion of an earlier
  // one apart.
  std::uint64_t m_attempt = 0;
  std::string m_outgoing;  // bytes handed to send() that the kernel has not taken
  std::size_t m_outgoingTaken = 0;
  std::deque<std::size_t> m_pendingSends;  // bytes of each send() not yet fully written
  std::size_t m_writtenTowardsFront = 0;
};

}  // namespace rovalink::platform
