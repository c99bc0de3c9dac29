#include "platform/sim/sim_host_info.h"

namespace rovalink::platform {

std::string SimHostInfo::senderAddressFor(const std::string& destination) const {
  if (destination.rfind("127.", 0) == 0 || m_addresses.empty()) return "127.0.0.1";
  return m_addresses.front();
}

}  // namespace rovalink::platform
