#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "robot/robot_state.h"

namespace rovalink::robot {

// Cuts the robot's TCP reads into packets. Each read is one chunk: a chunk that starts with
// "PK" begins a packet (anything after that packet's end in the same chunk is dropped), any
// other chunk continues the current audio or video payload.
class RobotChunkParser {
 public:
  struct Result {
    // A short (refused) login reply: the login sequence should be queued again.
    bool loginRetry = false;
    // A video payload was completed by this chunk; frame stays valid until the next call.
    bool frameComplete = false;
    std::string_view frame;
  };

  Result ParseRobotChunk(std::string_view chunk, RobotState& state);

  // Whether an audio or video payload is being collected (for tests and diagnostics).
  bool collecting() const { return m_payloadLength > 0; }
  std::size_t payloadReceived() const { return m_payloadReceived; }

 private:
  void startPacket(std::string_view chunk, RobotState& state, Result& result);

  int m_currentType = 0;
  std::size_t m_payloadLength = 0;
  std::size_t m_payloadReceived = 0;
  std::size_t m_copyStart = 0;
  // Both buffers are only ever as large as the largest declared payload (at most 65535).
  std::string m_audio;
  std::string m_video;
};

}  // namespace rovalink::robot
