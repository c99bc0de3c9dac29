#pragma once

#include <string>
#include <vector>

#include "platform/host_info.h"

namespace rovalink::platform {

class QtHostInfo : public HostInfo {
 public:
  std::string computerName() const override;
  // The IPv4 addresses of the interfaces that are up, loopback excluded, in interface order;
  // "127.0.0.1" alone when there are none (as a host-name lookup reports on a computer
  // without a network).
  std::vector<std::string> ipv4Addresses() const override;
};

}  // namespace rovalink::platform
