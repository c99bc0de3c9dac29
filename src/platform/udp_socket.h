#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace rovalink::platform {

struct Datagram {
  std::string data;
  std::string senderAddress;  // dotted IPv4
  std::uint16_t senderPort = 0;
};

class UdpSocket {
 public:
  using DatagramHandler = std::function<void(const Datagram&)>;
  using ErrorHandler = std::function<void(int code, const std::string& description)>;

  virtual ~UdpSocket() = default;

  // Binds to address:port ("" or "0.0.0.0": any address; port 0: any free port). On failure
  // returns false and, when error is given, a readable reason ("address in use", ...).
  virtual bool bind(const std::string& address, std::uint16_t port,
                    std::string* error = nullptr) = 0;
  virtual bool isBound() const = 0;

  // The port of the last bind (kept after close, so a later send reopens on it); 0 if none.
  virtual std::uint16_t localPort() const = 0;

  // Sends one datagram. A socket that is not bound binds to any address at localPort() first.
  virtual bool sendTo(const std::string& host, std::uint16_t port, std::string_view data,
                      std::string* error = nullptr) = 0;

  virtual void close() = 0;

  // Asks for a kernel receive buffer of bytes on the bound socket, so a burst waits there
  // instead of being dropped. Returns the size the system reports granting (0 when unknown).
  virtual std::size_t setReceiveBuffer(std::size_t bytes) = 0;

  void onDatagram(DatagramHandler handler) { m_onDatagram = share(std::move(handler)); }
  void onError(ErrorHandler handler) { m_onError = share(std::move(handler)); }

 protected:
  // Handlers are kept alive for the call: one may destroy the object that raised it.
  void emitDatagram(const Datagram& datagram) {
    if (const auto handler = m_onDatagram) (*handler)(datagram);
  }
  void emitError(int code, const std::string& description) {
    if (const auto handler = m_onError) (*handler)(code, description);
  }

 private:
  template <typename F>
  static std::shared_ptr<const F> share(F handler) {
    return handler ? std::make_shared<const F>(std::move(handler)) : nullptr;
  }

  std::shared_ptr<const DatagramHandler> m_onDatagram;
  std::shared_ptr<const ErrorHandler> m_onError;
};

}  // namespace rovalink::platform
