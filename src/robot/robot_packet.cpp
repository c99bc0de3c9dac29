#include "robot/robot_packet.h"

namespace rovalink::robot {
namespace {

bool fitsByte(int value) {
  return value >= 0 && value <= 255;
}

char byteChar(int value) {
  return static_cast<char>(static_cast<unsigned char>(value));
}

std::optional<std::string> bytesPacket(PacketType type, std::initializer_list<int> values) {
  std::string payload;
  payload.reserve(values.size());
  for (int value : values) {
    if (!fitsByte(value)) return std::nullopt;
    payload.push_back(byteChar(value));
  }
  return encodePacket(type, payload);
}

}  // namespace

std::optional<std::string> encodePacket(PacketType type, std::string_view payload) {
  if (payload.size() > kMaxOutgoingPayload) return std::nullopt;
  std::string packet;
  packet.reserve(kHeaderSize + payload.size());
  packet.push_back('P');
  packet.push_back('K');
  packet.push_back(byteChar(static_cast<int>(type)));
  packet.push_back(byteChar(static_cast<int>(payload.size() >> 8)));
  packet.push_back(byteChar(static_cast<int>(payload.size() & 0xFF)));
  packet.append(payload);
  return packet;
}

std::optional<std::string> ledPacket(Led led, bool on) {
  return bytesPacket(PacketType::Led, {static_cast<int>(led), on ? 1 : 0});
}

std::optional<std::string> motorPacket(int first, int second) {
  return bytesPacket(PacketType::Motor, {first, second});
}

std::optional<std::string> soundPacket(int sound) {
  return bytesPacket(PacketType::Sound, {sound});
}

std::optional<std::string> volumePacket(int level) {
  return bytesPacket(PacketType::Volume, {level});
}

std::optional<std::string> loginPacket(std::string_view user, std::string_view password) {
  // Each length travels in one byte and the whole payload must fit the outgoing limit.
  if (user.size() + password.size() + 2 > kMaxOutgoingPayload) return std::nullopt;
  std::string payload;
  payload.push_back(byteChar(static_cast<int>(user.size())));
  payload.append(user);
  payload.push_back(byteChar(static_cast<int>(password.size())));
  payload.append(password);
  return encodePacket(PacketType::Login, payload);
}

std::optional<std::string> mediaPacket(MediaChannel channel, bool on) {
  return bytesPacket(PacketType::Media, {static_cast<int>(channel), on ? 1 : 0});
}

std::optional<std::string> dockPacket(DockCode code) {
  return bytesPacket(PacketType::Dock, {static_cast<int>(code)});
}

std::string postLoginPacket() {
  return *encodePacket(PacketType::PostLogin, {});
}

}  // namespace rovalink::robot
