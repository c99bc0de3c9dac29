#include "platform/qt/qt_host_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <utility>

namespace rovalink::platform {

std::string QtHostInfo::computerName() const {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::vector<std::string> QtHostInfo::ipv4Addresses() const {
  std::vector<std::pair<unsigned, std::string>> found;  // interface index, address
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) == 0) {
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
      const unsigned flags = entry->ifa_flags;
      if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
          (flags & IFF_UP) == 0 || (flags & IFF_RUNNING) == 0 || (flags & IFF_LOOPBACK) != 0) {
        continue;
      }
      const in_addr ip = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
      if ((ntohl(ip.s_addr) >> 24) == 127) continue;
      char text[INET_ADDRSTRLEN] = {};
      if (::inet_ntop(AF_INET, &ip, text, sizeof text) == nullptr) continue;
      found.emplace_back(::if_nametoindex(entry->ifa_name), text);
    }
    ::freeifaddrs(list);
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> addresses;
  for (auto& [index, address] : found) addresses.push_back(std::move(address));
  if (addresses.empty()) addresses.emplace_back("127.0.0.1");
  return addresses;
}

}  // namespace rovalink::platform
