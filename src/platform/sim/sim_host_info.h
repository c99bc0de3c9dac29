#pragma once

#include <string>
#include <vector>

#include "platform/host_info.h"

namespace rovalink::platform {

// A configurable host: computer name and IPv4 addresses in listing order.
class SimHostInfo : public HostInfo {
 public:
  std::string computerName() const override { return m_name; }
  std::vector<std::string> ipv4Addresses() const override { return m_addresses; }

  void setComputerName(std::string name) { m_name = std::move(name); }
  void setIpv4Addresses(std::vector<std::string> addresses) { m_addresses = std::move(addresses); }

  // The address a socket bound to any address sends from: the first configured one, or the
  // loopback address when the host has none or the destination is on loopback.
  std::string senderAddressFor(const std::string& destination) const;

 private:
  std::string m_name = "SIMHOST";
  std::vector<std::string> m_addresses{"192.168.1.10"};
};

}  // namespace rovalink::platform
