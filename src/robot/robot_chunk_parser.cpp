#include "robot/robot_chunk_parser.h"

#include <algorithm>
#include <cstring>

#include "robot/robot_packet.h"

namespace rovalink::robot {
namespace {

constexpr std::int16_t kMaxBatteryLevel = 128;
constexpr std::size_t kRefusedLoginReplySize = 7;
constexpr std::size_t kMinLoginReplySize = 11;
constexpr std::uint8_t kDockedStatus = 2;

std::uint8_t byteAt(std::string_view chunk, std::size_t index) {
  return static_cast<std::uint8_t>(chunk[index]);
}

bool isPayloadType(int type) {
  return type == static_cast<int>(PacketType::Audio) || type == static_cast<int>(PacketType::Video);
}

}  // namespace

RobotChunkParser::Result RobotChunkParser::ParseRobotChunk(std::string_view chunk,
                                                           RobotState& state) {
  Result result;
  if (chunk.size() >= 3 && chunk[0] == 'P' && chunk[1] == 'K') startPacket(chunk, state, result);

  if (isPayloadType(m_currentType) && m_payloadReceived < m_payloadLength &&
      m_copyStart < chunk.size()) {
    std::string& buffer = m_currentType == static_cast<int>(PacketType::Video) ? m_video : m_audio;
    const std::size_t count =
        std::min(chunk.size() - m_copyStart, m_payloadLength - m_payloadReceived);
    std::memcpy(buffer.data() + m_payloadReceived, chunk.data() + m_copyStart, count);
    m_payloadReceived += count;
  }

  // A declared length of 0 is no packet at all: nothing to complete.
  if (m_payloadLength > 0 && m_payloadReceived == m_payloadLength) {
    if (m_currentType == static_cast<int>(PacketType::Video)) {
      result.frameComplete = true;
      result.frame = std::string_view(m_video.data(), m_payloadLength);
    }
    m_payloadLength = 0;
    m_payloadReceived = 0;
  }
  m_copyStart = 0;
  return result;
}

void RobotChunkParser::startPacket(std::string_view chunk, RobotState& state, Result& result) {
  m_payloadLength = 0;
  m_payloadReceived = 0;
  m_currentType = byteAt(chunk, 2);
  const std::size_t size = chunk.size();

  switch (m_currentType) {
    case static_cast<int>(PacketType::Audio):
    case static_cast<int>(PacketType::Video):
      if (size >= kHeaderSize) {
        m_payloadLength = static_cast<std::size_t>(byteAt(chunk, 3)) * 256 + byteAt(chunk, 4);
        std::string& buffer =
            m_currentType == static_cast<int>(PacketType::Video) ? m_video : m_audio;
        // Grow only; the declared length bounds what is read from it.
        if (buffer.size() < m_payloadLength) buffer.resize(m_payloadLength);
        m_copyStart = kHeaderSize;
      }
      break;
    case static_cast<int>(PacketType::Power):
      if (size > kHeaderSize && byteAt(chunk, 3) == 0 && byteAt(chunk, 4) == 1) {
        const std::int16_t level = byteAt(chunk, 5);
        state.BatteryLevel = level > kMaxBatteryLevel ? 0 : level;
      }
      break;
    case static_cast<int>(PacketType::LoginReply):
      if (size >= kMinLoginReplySize) {
        const std::uint8_t docked = byteAt(chunk, size - 3);
        if (docked == 0) state.RobotDocked = true;
        if (docked == 1) state.RobotDocked = false;
        state.LoggedIn = true;
      } else if (size == kRefusedLoginReplySize) {
        result.loginRetry = true;
      }
      break;
    case static_cast<int>(PacketType::DockStatus):
      if (size > kHeaderSize) state.RobotDocked = byteAt(chunk, 5) == kDockedStatus;
      break;
    default:
      break;
  }
}

}  // namespace rovalink::robot
