// Feeds ParseRobotChunk the input as a robot stream twice: whole, and cut into reads at
// positions drawn from a generator seeded by the input's first four bytes. Both must decode
// the same packets and leave the same state, since TCP may cut the stream anywhere.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "robot/robot_chunk_parser.h"

namespace {

using rovalink::robot::RobotChunkParser;
using rovalink::robot::RobotState;

struct Decoded {
  std::vector<std::string> packets;
  RobotState state;
  std::uint64_t skipped = 0;
};

Decoded decode(std::string_view stream, const std::vector<std::size_t>& cuts) {
  Decoded out;
  RobotChunkParser parser;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : stream.size();
    parser.ParseRobotChunk(
        stream.substr(from, to - from), out.state, [&](const RobotChunkParser::Packet& p) {
          if (p.frame && p.payload.empty()) std::abort();
          out.packets.push_back(std::to_string(p.type) + ":" + std::string(p.payload));
        });
    if (out.state.BatteryLevel < 0 || out.state.BatteryLevel > 128) std::abort();
    if (parser.buffered() > RobotChunkParser::kMaxPacketSize + (to - from)) std::abort();
    from = to;
  }
  out.skipped = parser.skippedBytes();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t seed = 0;
  for (int i = 0; i < 4; ++i) seed = seed << 8 | data[i];
  const std::string_view stream(reinterpret_cast<const char*>(data) + 4, size - 4);

  std::mt19937 random(seed);
  std::vector<std::size_t> cuts(random() % 64);
  for (std::size_t& cut : cuts) cut = stream.empty() ? 0 : random() % (stream.size() + 1);
  std::sort(cuts.begin(), cuts.end());

  const Decoded whole = decode(stream, {});
  const Decoded pieces = decode(stream, cuts);
  if (whole.packets != pieces.packets || whole.skipped != pieces.skipped ||
      whole.state.BatteryLevel != pieces.state.BatteryLevel ||
      whole.state.RobotDocked != pieces.state.RobotDocked ||
      whole.state.LoggedIn != pieces.state.LoggedIn) {
    std::abort();
  }
  return 0;
}
