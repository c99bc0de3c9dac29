#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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
  // Bytes handed to send() that the network has not taken yet: what a peer that stops reading
  // leaves waiting. Each send's complete event comes once all of its bytes are taken.
  virtual std::size_t bytesToWrite() const = 0;

  virtual void close() = 0;

  // Raises the data event now for bytes the system has received and not delivered yet; nothing
  // when there are none. A server about to drop a connection it has read nothing from yet asks
  // first: the request may be there, only not yet reached by the loop.
  virtual void deliverReceived() {}

  virtual std::string remoteAddress() const = 0;
  virtual std::uint16_t remotePort() const = 0;

  void onConnect(Handler handler) { m_onConnect = share(std::move(handler)); }
  void onClose(Handler handler) { m_onClose = share(std::move(handler)); }
  void onData(DataHandler handler) { m_onData = share(std::move(handler)); }
  void onError(ErrorHandler handler) { m_onError = share(std::move(handler)); }
  void onSendComplete(Handler handler) { m_onSendComplete = share(std::move(handler)); }

 protected:
  // Handlers are kept alive for the call: one may destroy the object that raised it.
  void emitConnect() {
    if (const auto handler = m_onConnect) (*handler)();
  }
  void emitClose() {
    if (const auto handler = m_onClose) (*handler)();
  }
  void emitData(std::string_view data) {
    if (const auto handler = m_onData) (*handler)(data);
  }
  void emitError(int code, const std::string& description) {
    if (const auto handler = m_onError) (*handler)(code, description);
  }
  void emitSendComplete() {
    if (const auto handler = m_onSendComplete) (*handler)();
  }

 private:
  template <typename F>
  static std::shared_ptr<const F> share(F handler) {
    return handler ? std::make_shared<const F>(std::move(handler)) : nullptr;
  }

  std::shared_ptr<const Handler> m_onConnect;
  std::shared_ptr<const Handler> m_onClose;
  std::shared_ptr<const DataHandler> m_onData;
  std::shared_ptr<const ErrorHandler> m_onError;
  std::shared_ptr<const Handler> m_onSendComplete;
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

  void onConnectionRequest(RequestHandler handler) { m_onRequest = share(std::move(handler)); }

 protected:
  // Handlers are kept alive for the call: one may destroy the object that raised it.
  void emitConnectionRequest(int requestId) {
    if (const auto handler = m_onRequest) (*handler)(requestId);
  }

 private:
  template <typename F>
  static std::shared_ptr<const F> share(F handler) {
    return handler ? std::make_shared<const F>(std::move(handler)) : nullptr;
  }

  std::shared_ptr<const RequestHandler> m_onRequest;
};

}  // namespace rovalink::platform
