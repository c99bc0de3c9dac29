#pragma once

#include <functional>
#include <string>

namespace rovalink::platform {

// Turns a host name into an address without holding up the event loop: the answer comes back as
// an event. One lookup at a time; a new one or cancel() drops the handler of the one before.
class HostResolver {
 public:
  // The numeric address, or "" and the reason.
  using Handler = std::function<void(const std::string& address, const std::string& error)>;

  virtual ~HostResolver() = default;

  virtual void resolve(const std::string& host, Handler handler) = 0;
  virtual void cancel() = 0;
};

}  // namespace rovalink::platform
