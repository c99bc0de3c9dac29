// Feeds ParseRobotChunk a stream of chunks cut from the input: the first byte of each record
// gives the chunk length (b < 128: b + 1 bytes; else (b - 127) * 512 bytes), so one input
// exercises headers, continuations and the reassembly of large frames.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "robot/robot_chunk_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  rovalink::robot::RobotChunkParser parser;
  rovalink::robot::RobotState state;
  const char* bytes = reinterpret_cast<const char*>(data);
  std::size_t offset = 0;
  while (offset < size) {
    const std::size_t code = data[offset];
    const std::size_t wanted = code < 128 ? code + 1 : (code - 127) * 512;
    const std::size_t length = std::min(wanted, size - offset - 1);
    ++offset;
    const std::string_view chunk(bytes + offset, length);
    offset += length;
    const auto result = parser.ParseRobotChunk(chunk, state);
    if (result.frameComplete && result.frame.empty()) std::abort();
    if (state.BatteryLevel < 0 || state.BatteryLevel > 128) std::abort();
    if (parser.payloadReceived() > 0xFFFF) std::abort();
  }
  return 0;
}
