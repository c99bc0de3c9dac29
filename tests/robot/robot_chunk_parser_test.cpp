#include "robot/robot_chunk_parser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "robot/fakes.h"

namespace rovalink::robot {
namespace {

// Chunks in arrival order ("|" between chunks), parsed from battery 7, not docked, not logged
// in. What they leave: "battery docked loggedIn retry", then " | frame" for each video frame.
struct ParserCase {
  const char* name;
  const char* chunks;
  const char* expected;
};

class ChunkParser : public ::testing::TestWithParam<ParserCase> {};

TEST_P(ChunkParser, UpdatesTheRobotStateAndCompletesFrames) {
  RobotChunkParser parser;
  RobotState state{.BatteryLevel = 7};
  bool retry = false;
  std::string frames;
  for (std::string_view rest = GetParam().chunks; !rest.empty();) {
    const std::size_t bar = std::min(rest.find('|'), rest.size());
    const auto result = parser.ParseRobotChunk(test::fromHex(rest.substr(0, bar)), state);
    retry = retry || result.loginRetry;
    if (result.frameComplete) frames += " | " + test::toHex(result.frame);
    rest.remove_prefix(std::min(bar + 1, rest.size()));
  }
  EXPECT_EQ(std::to_string(state.BatteryLevel) + " " + std::to_string(state.RobotDocked) + " " +
                std::to_string(state.LoggedIn) + " " + std::to_string(retry) + frames,
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    RobotChunks, ChunkParser,
    ::testing::Values(
        ParserCase{"PowerSetsBattery", "50 4B 03 00 01 64", "100 0 0 0"},
        ParserCase{"PowerAbove128StoresZero", "50 4B 03 00 01 C8", "0 0 0 0"},
        ParserCase{"Power128IsKept", "50 4B 03 00 01 80", "128 0 0 0"},
        ParserCase{"PowerWithLengthTwoIgnored", "50 4B 03 00 02 64 00", "7 0 0 0"},
        ParserCase{"PowerWithoutPayloadIgnored", "50 4B 03 00 01", "7 0 0 0"},
        ParserCase{"DockStatusTwoDocksOneUndocks", "50 4B 10 00 01 02|50 4B 10 00 01 01",
                   "7 0 0 0"},
        ParserCase{"DockStatusWithoutPayloadIgnored", "50 4B 10 00 01 02|50 4B 10 00 01",
                   "7 1 0 0"},
        ParserCase{"ShortLoginReplyAsksForRetry", "50 4B 0B 00 02 00 00", "7 0 0 1"},
        ParserCase{"LoginReplyDockByteZeroDocks", "50 4B 0B 00 06 01 02 03 00 04 05", "7 1 1 0"},
        ParserCase{"LoginReplyDockByteOneUndocks",
                   "50 4B 10 00 01 02|50 4B 0B 00 06 01 02 03 01 04 05", "7 0 1 0"},
        ParserCase{"LoginReplyOtherDockByteKeepsDock",
                   "50 4B 10 00 01 02|50 4B 0B 00 06 01 02 03 07 04 05", "7 1 1 0"},
        ParserCase{"LoginReplyOfNineBytesDoesNothing", "50 4B 0B 00 04 01 02 03 04", "7 0 0 0"},
        ParserCase{"TypeNineIgnored", "50 4B 09 00 01 64", "7 0 0 0"},
        ParserCase{"UnknownTypeIgnored", "50 4B 63 00 01 02", "7 0 0 0"},
        ParserCase{"TwoByteChunkIsNoHeader", "50 4B", "7 0 0 0"},
        ParserCase{"HeaderOnlyAtChunkStart", "00 50 4B 03 00 01 64", "7 0 0 0"},
        ParserCase{"VideoAcrossThreeChunks", "50 4B 02 00 05 01 02|03 04|05",
                   "7 0 0 0 | 01 02 03 04 05"},
        ParserCase{"RestOfAChunkAfterThePacketIsDropped",
                   "50 4B 02 00 03 01|02 03 50 4B 02 00 01 AA 50 4B 03 00 01 10|AA",
                   "7 0 0 0 | 01 02 03"},
        ParserCase{"HeaderInsideAPayloadStartsANewPacket", "50 4B 02 00 09 01 02|50 4B 02 00 01 AA",
                   "7 0 0 0 | AA"},
        ParserCase{"ShortVideoHeaderCollectsNothing", "50 4B 02 00|01 02 03|50 4B 02 00 02 AA BB",
                   "7 0 0 0 | AA BB"},
        ParserCase{"AudioIsNeverAFrame", "50 4B 01 00 04 01 02|03 04 05 06|50 4B 02 00 01 AA",
                   "7 0 0 0 | AA"},
        ParserCase{"EmptyVideoPayloadIsNoFrame", "50 4B 02 00 00|01 02", "7 0 0 0"},
        ParserCase{"PowerPacketEndsTheUnfinishedFrame",
                   "50 4B 02 00 04 01 02|50 4B 03 00 01 40|03 04", "64 0 0 0"},
        ParserCase{"FramesOfDifferentSizesStayWhole",
                   "50 4B 02 00 04 01 02|03 04|50 4B 02 00 01 AA|50 4B 02 00 04 05 06 07 08",
                   "7 0 0 0 | 01 02 03 04 | AA | 05 06 07 08"}),
    [](const auto& p) { return std::string(p.param.name); });

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
