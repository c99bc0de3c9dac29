#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "devices/devices.h"

namespace rovalink::settings {
class hs;
}

namespace rovalink::devices {

// The published robot functions, in table order; a device's position + 1 is its uID.
inline constexpr std::array<std::string_view, 34> kDeviceNames = {"LoginSequence",
                                                                  "MoveForward",
                                                                  "MoveBackward",
                                                                  "MoveRight",
                                                                  "MoveLeft",
                                                                  "MoveForwardRight",
                                                                  "MoveBackwardRight",
                                                                  "MoveForwardLeft",
                                                                  "MoveBackwardLeft",
                                                                  "MoveStop",
                                                                  "Movement",
                                                                  "SoundCamera",
                                                                  "SoundAlarm",
                                                                  "SoundBomb",
                                                                  "SoundLazer",
                                                                  "SoundLaugh",
                                                                  "SoundEngine",
                                                                  "SoundRobot",
                                                                  "SoundLove",
                                                                  "SoundCall",
                                                                  "StopDock",
                                                                  "Battery",
                                                                  "Volume",
                                                                  "Speed",
                                                                  "File",
                                                                  "HeadLED",
                                                                  "LeftLED",
                                                                  "RightLED",
                                                                  "Docked",
                                                                  "VOIP",
                                                                  "Audio",
                                                                  "Video",
                                                                  "Turbo",
                                                                  "Connected"};

// Sound number n (0..7) is the device at position n + kFirstSoundPosition ("SoundAlarm").
inline constexpr int kFirstSoundPosition = 12;

// Two upper-case hexadecimal digits: 1 gives "01", 26 gives "1A".
std::string HexByte(std::uint8_t n);

// The 34 devices in table order. The kind carries over from one name to the next: "Volume"
// starts the "Index" devices and "File" the "Relay" ones.
Devices BuildDeviceTable();

// The robot login, read once at start-up from "qbtRovalink.ini", section "SPYKEE".
struct RobotCredentials {
  std::string RobotUserName;  // key "username", default "admin"
  std::string RobotPassword;  // key "password", default "kelpo"
};
RobotCredentials ReadRobotCredentials(const settings::hs& settings);

// The program's UID with the device's uID for its last two digits, e.g. FF.0065:1A for
// "HeadLED" under FF.0065:00.
std::string DeviceUid(const Device& device, std::string_view programUid);
// "spykee." + Name + "." + FunctionType as stored, e.g. spykee.HeadLED.Relay.
std::string DeviceSubAddress(const Device& device);

}  // namespace rovalink::devices
