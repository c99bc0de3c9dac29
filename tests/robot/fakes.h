#pragma once

#include <string>
#include <string_view>

#include "robot/robot_connection.h"

namespace rovalink::robot::test {

// "50 4B 05" (one space between bytes) <-> bytes, so tables read like the wire.
inline std::string fromHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}
inline std::string toHex(std::string_view bytes) {
  std::string hex;
  for (const unsigned char c : bytes) {
    hex += (hex.empty() ? "" : " ") +
           std::string{"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
  }
  return hex;
}

// A framed packet of any size, as the robot sends them.
inline std::string packet(int type, std::string_view payload) {
  std::string bytes = "PK";
  bytes += static_cast<char>(type);
  bytes += static_cast<char>(payload.size() / 256);
  bytes += static_cast<char>(payload.size() % 256);
  return bytes.append(payload);
}

// What the procedures send (as hex) and which connection procedures they start, "|" between.
class RecordingConnection : public RobotConnection {
 public:
  void SendToRobot(std::string_view packet) override { add(toHex(packet)); }
  void LoginSequenceRun() override { add("LoginSequenceRun"); }
  void ConnectedOn() override { add("ConnectedOn"); }
  void ConnectedOff() override { add("ConnectedOff"); }
  void add(const std::string& entry) { log += (log.empty() ? "" : "|") + entry; }
  std::string log;
};

}  // namespace rovalink::robot::test
