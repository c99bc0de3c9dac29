#pragma once

#include <functional>
#include <memory>

namespace rovalink::platform {

// Readiness notifications for a socket owned by someone else (a client library that does its own
// reads and writes). Level-triggered: while a direction is enabled and the socket is ready, the
// handler keeps being called from the event loop, so a handler must read or write, or disable.
class FdWatch {
 public:
  using Handler = std::function<void()>;

  virtual ~FdWatch() = default;

  virtual int fd() const = 0;
  virtual void setReadEnabled(bool enabled) = 0;
  virtual void setWriteEnabled(bool enabled) = 0;
  virtual bool writeEnabled() const = 0;

  void onReadable(Handler handler) { m_onReadable = wrap(std::move(handler)); }
  void onWritable(Handler handler) { m_onWritable = wrap(std::move(handler)); }

 protected:
  // Handlers are kept alive for the call: they may destroy their own watch.
  void emitReadable() {
    if (const auto handler = m_onReadable) (*handler)();
  }
  void emitWritable() {
    if (const auto handler = m_onWritable) (*handler)();
  }

 private:
  static std::shared_ptr<const Handler> wrap(Handler handler) {
    return handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
  }

  std::shared_ptr<const Handler> m_onReadable;
  std::shared_ptr<const Handler> m_onWritable;
};

}  // namespace rovalink::platform
