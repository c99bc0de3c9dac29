#pragma once

#include <string>
#include <vector>

namespace rovalink::platform {

class HostInfo {
 public:
  virtual ~HostInfo() = default;

  virtual std::string computerName() const = 0;
  // The host's IPv4 addresses in dotted form, in the order the system lists them.
  virtual std::vector<std::string> ipv4Addresses() const = 0;
};

enum class PriorityClass { Normal, High };

class Process {
 public:
  virtual ~Process() = default;

  // Returns false when the system refuses the change.
  virtual bool setPriority(PriorityClass priority) = 0;
};

}  // namespace rovalink::platform
