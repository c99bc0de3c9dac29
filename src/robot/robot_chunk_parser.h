#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "robot/robot_state.h"

namespace rovalink::robot {

// Cuts the robot's control connection into packets. TCP is a byte stream: a read may hold part
// of a packet or several, so every read is appended to one buffer per connection and each
// complete packet in it is decoded in order; a partial header or payload waits for the next
// read. Lengths come from the header only. Bytes that cannot start a packet are skipped up to
// the next "PK" and counted.
class RobotChunkParser {
 public:
  // A decoded packet; payload stays valid until the next call on the parser.
  struct Packet {
    std::uint8_t type = 0;
    std::string_view payload;
    // A complete, non-empty video payload: one JPEG image.
    bool frame = false;
    // A short login reply: the robot refused the login, which should be tried again.
    bool loginRefused = false;
    // An accepting login reply.
    bool loginAccepted = false;
  };
  using PacketHandler = std::function<void(const Packet&)>;

  static constexpr std::size_t kMaxPacketSize = 5 + 0xFFFF;

  // Appends one read and decodes every packet it completes: the robot state is updated, then
  // handler (if any) sees the packet. The handler must not call back into the parser.
  void ParseRobotChunk(std::string_view chunk, RobotState& state,
                       const PacketHandler& handler = {});

  // Forgets a partial packet: a new connection starts a new stream.
  void reset();

  std::uint64_t skippedBytes() const { return m_skipped; }
  // Bytes held for a packet that is not complete yet.
  std::size_t buffered() const { return m_buffer.size() - m_start; }

 private:
  std::optional<Packet> nextPacket();
  static void decode(Packet& packet, RobotState& state);

  std::string m_buffer;
  std::size_t m_start = 0;  // first byte not yet consumed
  std::uint64_t m_skipped = 0;
};

}  // namespace rovalink::robot
