#include "robot/robot_chunk_parser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "robot/fakes.h"

namespace rovalink::robot {
namespace {

// Chunks in arrival order ("|" between chunks), parsed from battery 7, not docked, not logged
// in. What they leave: "battery docked loggedIn retry", then " | frame" for each video frame.
std::string parseChunks(std::string_view chunks) {
  RobotChunkParser parser;
  RobotState state{.BatteryLevel = 7};
  bool retry = false;
  std::string frames;
  for (std::string_view rest = chunks; !rest.empty();) {
    const std::size_t bar = std::min(rest.find('|'), rest.size());
    const auto result = parser.ParseRobotChunk(test::fromHex(rest.substr(0, bar)), state);
    retry = retry || result.loginRetry;
    if (result.frameComplete) frames += " | " + test::toHex(result.frame);
    rest.remove_prefix(std::min(bar + 1, rest.size()));
  }
  return std::to_string(state.BatteryLevel) + " " + std::to_string(state.RobotDocked) + " " +
         std::to_string(state.LoggedIn) + " " + std::to_string(retry) + frames;
}

TEST(ChunkParser, UpdatesTheRobotStateAndCompletesFrames) {
  const struct {
    const char* name;
    const char* chunks;
    const char* expected;
  } cases[] = {
      {"PowerAbove128StoresZero", "50 4B 03 00 01 C8", "0 0 0 0"},
      {"Power128IsKept", "50 4B 03 00 01 80", "128 0 0 0"},
      {"PowerOfWrongLengthIgnored", "50 4B 03 00 02 64 00|50 4B 03 00 01", "7 0 0 0"},
      {"DockStatusTwoDocksOneUndocks", "50 4B 10 00 01 02|50 4B 10 00 01 01", "7 0 0 0"},
      {"DockStatusWithoutPayloadIgnored", "50 4B 10 00 01 02|50 4B 10 00 01", "7 1 0 0"},
      {"ShortLoginReplyAsksForRetry", "50 4B 0B 00 02 00 00", "7 0 0 1"},
      {"LoginReplyDockByteZeroDocks", "50 4B 0B 00 06 01 02 03 00 04 05", "7 1 1 0"},
      {"LoginReplyDockByteOneUndocks", "50 4B 10 00 01 02|50 4B 0B 00 06 01 02 03 01 04 05",
       "7 0 1 0"},
      {"LoginReplyOtherDockByteKeepsDock", "50 4B 10 00 01 02|50 4B 0B 00 06 01 02 03 07 04 05",
       "7 1 1 0"},
      {"LoginReplyOfNineBytesDoesNothing", "50 4B 0B 00 04 01 02 03 04", "7 0 0 0"},
      {"TypeNineAndUnknownTypesIgnored", "50 4B 09 00 01 64|50 4B 63 00 01 02", "7 0 0 0"},
      {"HeaderOnlyWholeAtChunkStart", "50 4B|00 50 4B 03 00 01 64", "7 0 0 0"},
      {"VideoAcrossThreeChunks", "50 4B 02 00 05 01 02|03 04|05", "7 0 0 0 | 01 02 03 04 05"},
      {"RestOfAChunkAfterThePacketIsDropped",
       "50 4B 02 00 03 01|02 03 50 4B 02 00 01 AA 50 4B 03 00 01 10|AA", "7 0 0 0 | 01 02 03"},
      {"HeaderInsideAPayloadStartsANewPacket", "50 4B 02 00 09 01 02|50 4B 02 00 01 AA",
       "7 0 0 0 | AA"},
      {"ShortVideoHeaderCollectsNothing", "50 4B 02 00|01 02 03|50 4B 02 00 02 AA BB",
       "7 0 0 0 | AA BB"},
      {"AudioIsNeverAFrame", "50 4B 01 00 04 01 02|03 04 05 06|50 4B 02 00 01 AA", "7 0 0 0 | AA"},
      {"EmptyVideoPayloadIsNoFrame", "50 4B 02 00 00|01 02", "7 0 0 0"},
      {"PowerPacketEndsTheUnfinishedFrame", "50 4B 02 00 04 01 02|50 4B 03 00 01 40|03 04",
       "64 0 0 0"},
      {"FramesOfDifferentSizesStayWhole",
       "50 4B 02 00 04 01 02|03 04|50 4B 02 00 01 AA|50 4B 02 00 04 05 06 07 08",
       "7 0 0 0 | 01 02 03 04 | AA | 05 06 07 08"},
  };
  for (const auto& c : cases) EXPECT_EQ(parseChunks(c.chunks), c.expected) << c.name;
}

TEST(ChunkParser, LargestFrameArrivesWholeInOneByteChunks) {
  std::string payload(65535, '\0'), frames;
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 % 251);
  RobotChunkParser parser;
  RobotState state;
  parser.ParseRobotChunk(test::fromHex("50 4B 02 FF FF"), state);
  for (const char c : payload) {
    const auto result = parser.ParseRobotChunk(std::string(1, c), state);
    if (result.frameComplete) frames += result.frame;
  }
  EXPECT_EQ(frames, payload);
}

}  // namespace
}  // namespace rovalink::robot
