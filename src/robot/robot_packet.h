#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The robot's framed packet: "P", "K", a type byte, a big-endian 16-bit payload length, the
// payload. Encoders return the whole packet as 8-bit bytes, or nothing when a value does not fit
// its byte (the robot would read a different number than the one asked for).
namespace rovalink::robot {

enum class PacketType : std::uint8_t {
  // Robot to program.
  Audio = 1,
  Video = 2,
  Power = 3,
  LoginReply = 11,
  DockStatus = 16,
  // Program to robot.
  Led = 4,
  Motor = 5,
  Sound = 7,
  Volume = 9,
  Login = 10,
  Media = 15,
  Dock = 16,
  PostLogin = 18,
};

inline constexpr std::size_t kHeaderSize = 5;
inline constexpr std::size_t kMaxOutgoingPayload = 255;

// Broadcast once at start-up; whoever answers is the robot.
inline constexpr std::string_view kDiscoveryDatagram{"DSCV\x01", 5};

enum class Led : int { Head = 0, Left = 1, Right = 2 };
enum class MediaChannel : int { Video = 1, Audio = 2, Voip = 3 };
enum class DockCode : int { Undock = 5, Dock = 6, StopDocking = 7 };

inline constexpr int kCameraSound = 16;

// Any packet; fails when the payload exceeds what an outgoing packet may carry.
std::optional<std::string> encodePacket(PacketType type, std::string_view payload);

std::optional<std::string> ledPacket(Led led, bool on);
std::optional<std::string> motorPacket(int first, int second);
std::optional<std::string> soundPacket(int sound);
std::optional<std::string> volumePacket(int level);
std::optional<std::string> loginPacket(std::string_view user, std::string_view password);
std::optional<std::string> mediaPacket(MediaChannel channel, bool on);
std::optional<std::string> dockPacket(DockCode code);
std::string postLoginPacket();

}  // namespace rovalink::robot
