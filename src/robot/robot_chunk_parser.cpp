#include "robot/robot_chunk_parser.h"

#include "robot/robot_packet.h"

namespace rovalink::robot {
namespace {

constexpr std::int16_t kMaxBatteryLevel = 128;
// Whole packet sizes of the two login replies: refused, and the shortest accepting one.
constexpr std::size_t kRefusedLoginReplySize = 7;
constexpr std::size_t kMinLoginReplySize = 11;
constexpr std::uint8_t kDockedStatus = 2;

std::uint8_t byteAt(std::string_view bytes, std::size_t index) {
  return static_cast<std::uint8_t>(bytes[index]);
}

}  // namespace

void RobotChunkParser::ParseRobotChunk(std::string_view chunk, RobotState& state,
                                       const PacketHandler& handler) {
  if (m_start == m_buffer.size()) {
    m_buffer.clear();
    m_start = 0;
  } else if (m_start > 0) {
    m_buffer.erase(0, m_start);
    m_start = 0;
  }
  m_buffer.append(chunk);
  while (std::optional<Packet> packet = nextPacket()) {
    decode(*packet, state);
    if (handler) handler(*packet);
  }
}

void RobotChunkParser::reset() {
  m_buffer.clear();
  m_start = 0;
}

std::optional<RobotChunkParser::Packet> RobotChunkParser::nextPacket() {
  for (;;) {
    const std::string_view rest = std::string_view(m_buffer).substr(m_start);
    if (rest.empty()) return std::nullopt;
    if (rest[0] != 'P' || (rest.size() >= 2 && rest[1] != 'K')) {
      // Not a packet start: drop everything before the next "PK" (a final "P" may begin one).
      std::size_t next = rest.find("PK", 1);
      if (next == std::string_view::npos) next = rest.back() == 'P' ? rest.size() - 1 : rest.size();
      m_skipped += next;
      m_start += next;
      continue;
    }
    if (rest.size() < kHeaderSize) return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(byteAt(rest, 3)) * 256 + byteAt(rest, 4);
    if (rest.size() < kHeaderSize + length) return std::nullopt;
    m_start += kHeaderSize + length;
    return Packet{byteAt(rest, 2), rest.substr(kHeaderSize, length)};
  }
}

void RobotChunkParser::decode(Packet& packet, RobotState& state) {
  const std::string_view payload = packet.payload;
  const std::size_t size = kHeaderSize + payload.size();
  switch (packet.type) {
    case static_cast<int>(PacketType::Video):
      // A declared length of 0 is no picture.
      packet.frame = !payload.empty();
      break;
    case static_cast<int>(PacketType::Power):
      if (payload.size() == 1) {
        const std::int16_t level = byteAt(payload, 0);
        state.BatteryLevel = level > kMaxBatteryLevel ? 0 : level;
        state.BatteryReported |= level <= kMaxBatteryLevel;
      }
      break;
    case static_cast<int>(PacketType::LoginReply):
      if (size >= kMinLoginReplySize) {
        // The dock state is the third byte from the reply's end.
        const std::uint8_t docked = byteAt(payload, payload.size() - 3);
        if (docked == 0) state.RobotDocked = true;
        if (docked == 1) state.RobotDocked = false;
        state.LoggedIn = true;
        packet.loginAccepted = true;
      } else if (size == kRefusedLoginReplySize) {
        packet.loginRefused = true;
      }
      break;
    case static_cast<int>(PacketType::DockStatus):
      if (!payload.empty()) state.RobotDocked = byteAt(payload, 0) == kDockedStatus;
      break;
    default:
      break;  // audio is discarded; type 9 and unknown types are ignored
  }
}

}  // namespace rovalink::robot
