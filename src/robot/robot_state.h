#pragma once

#include <cstdint>

namespace rovalink::robot {

// What a person should be told about the robot link; one value at a time, shown in the window,
// the tray tooltip, stderr, MQTT and the live page.
enum class LinkStatus : std::uint8_t { Searching, Connecting, LoggedIn, Refused, Lost };

// "searching", "connecting", "logged in", "refused", "lost".
constexpr const char* LinkStatusText(LinkStatus s) {
  switch (s) {
    case LinkStatus::Searching:
      return "searching";
    case LinkStatus::Connecting:
      return "connecting";
    case LinkStatus::LoggedIn:
      return "logged in";
    case LinkStatus::Refused:
      return "refused";
    case LinkStatus::Lost:
      return "lost";
  }
  return "lost";
}

// What the link knows about the robot; shared by the command procedures, the packet parser
// and the status refresh.
struct RobotState {
  static constexpr std::int16_t kStartSpeed = 73;
  static constexpr std::int16_t kMinSpeed = 25;
  static constexpr std::int16_t kMaxSpeed = 123;

  std::int16_t DriveSpeed = kStartSpeed;
  bool RobotDocked = false;
  std::int16_t BatteryLevel = 0;
  // Set by the first level in range: until then BatteryLevel 0 is no reading.
  bool BatteryReported = false;
  // Set by the first login reply and never cleared, so a reconnect does not wait again.
  bool LoggedIn = false;
  // The next complete video frame is written to the frame file; the status refresh re-arms it.
  bool FrameWanted = true;
  LinkStatus Status = LinkStatus::Searching;
};

}  // namespace rovalink::robot
