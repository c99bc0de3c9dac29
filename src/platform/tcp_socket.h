#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/socket_state.h"

namespace rovalink::platform {

// One TCP connection with the classic socket control's states and events.
// Events: connect, close (the peer closed), data arrival, error, send complete.
// After an error the state stays Error until close() is called.
class TcpSocket {
 public:
  using Handler = std::function<void()>;
  using DataHandler = std::function<void(std::string_view data)>;
  using ErrorHandler = std::function<void(int code, const std::string& description)>;

  virtual ~TcpSocket() = default;

  virtual SocketState state() const = 0;

  // Binds the local port without connecting (state Open); used to probe for a free port.
  virtual bool bind(std::uint16_t localPort, std::string* error = nullptr) = 0;
  // The local port the next connect() uses (0: any). Kept across close().
  virtual void setLocalPort(std::uint16_t port) = 0;
  virtual std::uint16_t localPort() const = 0;

  // Starts connecting (state Connecting); the connect or error event follows. Fails at once,
  // returning false, when the state does not allow a connect.
  virtual bool connect(const std::string& host, std::uint16_t port,
                       std::string* error = nullptr) = 0;

  // Turns Nagle's algorithm off (or on) for this connection, now or as soon as it is connected.
  // Returns false with the system's error number and text when the option is refused.
  virtual bool setNoDelay(bool on, int* errorCode = nullptr, std::string* error = nullptr) = 0;

  // Sends all of data as one call; false when not connected.
  virtual bool send(std::string_view data) = 0;

  virtual void close() = 0;

  virtual std::string remoteAddress() const = 0;
  virtual std::uint16_t remotePort() const = 0;

  void onConnect(Handler handler) { m_onConnect = std::move(handler); }
  void onClose(Handler handler) { m_onClose = std::move(handler); }
  void onData(DataHandler handler) { m_onData = std::move(handler); }
  void onError(ErrorHandler handler) { m_onError = std::move(handler); }
  void onSendComplete(Handler handler) { m_onSendComplete = std::move(handler); }

 protected:
  void emitConnect() {
    if (m_onConnect) m_onConnect();
  }
  void emitClose() {
    if (m_onClose) m_onClose();
  }
  void emitData(std::string_view data) {
    if (m_onData) m_onData(data);
  }
  void emitError(int code, const std::string& description) {
    if (m_onError) m_onError(code, description);
  }
  void emitSendComplete() {
    if (m_onSendComplete) m_onSendComplete();
  }

 private:
  Handler m_onConnect;
  Handler m_onClose;
  DataHandler m_onData;
  ErrorHandler m_onError;
  Handler m_onSendComplete;
};

// Listens on a port; each incoming connection raises a request with an id that the owner
// accepts on a socket of its choosing.
class TcpListener {
 public:
  using RequestHandler = std::function<void(int requestId)>;

  virtual ~TcpListener() = default;

  virtual bool listen(const std::string& address, std::uint16_t port,
                      std::string* error = nullptr) = 0;
  virtual std::uint16_t localPort() const = 0;
  virtual bool accept(TcpSocket& socket, int requestId) = 0;
  virtual void close() = 0;

  void onConnectionRequest(RequestHandler handler) { m_onRequest = std::move(handler); }

 protected:
  void emitConnectionRequest(int requestId) {
    if (m_onRequest) m_onRequest(requestId);
  }

 private:
  RequestHandler m_onRequest;
};

}  // namespace rovalink::platform
