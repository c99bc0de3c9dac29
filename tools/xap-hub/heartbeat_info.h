#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rovalink::tools {

// What the hub needs to know about one heartbeat datagram.
struct HeartbeatInfo {
  std::string hbClass;      // lower case, e.g. "xap-hbeat.alive"
  std::string source;       // as written
  int port = 0;             // 0 when the heartbeat names no usable port
  int intervalSeconds = 0;  // 0 when absent or not a positive number
  bool stops() const { return hbClass == "xap-hbeat.stopped" || hbClass == "xap-hbeat.stop"; }
};

// Reads a datagram as a heartbeat: nullopt unless its first line is "xap-hbeat" (any case,
// a trailing CR tolerated). Lenient about the rest: unknown lines are ignored.
std::optional<HeartbeatInfo> parseHeartbeat(std::string_view datagram);

}  // namespace rovalink::tools
