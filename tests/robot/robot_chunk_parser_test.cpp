#include "robot/robot_chunk_parser.h"

#include <gtest/gtest.h>

#include <vector>

#include "robot/hex.h"

namespace rovalink::robot {
namespace {

using test::fromHex;

// One chunk and the robot state it leaves, starting from a known state.
struct StateCase {
  const char* name;
  const char* chunkHex;
  RobotState before;
  std::int16_t battery;
  bool docked;
  bool loggedIn;
  bool loginRetry;
};

RobotState withBattery(std::int16_t level, bool docked = false) {
  RobotState state;
  state.BatteryLevel = level;
  state.RobotDocked = docked;
  return state;
}

class SingleChunk : public ::testing::TestWithParam<StateCase> {};

TEST_P(SingleChunk, UpdatesRobotState) {
  const StateCase& c = GetParam();
  RobotChunkParser parser;
  RobotState state = c.before;
  const auto result = parser.ParseRobotChunk(fromHex(c.chunkHex), state);
  EXPECT_EQ(state.BatteryLevel, c.battery);
  EXPECT_EQ(state.RobotDocked, c.docked);
  EXPECT_EQ(state.LoggedIn, c.loggedIn);
  EXPECT_EQ(result.loginRetry, c.loginRetry);
  EXPECT_FALSE(result.frameComplete);
}

INSTANTIATE_TEST_SUITE_P(
    Telemetry, SingleChunk,
    ::testing::Values(
        StateCase{"PowerSetsBattery", "50 4B 03 00 01 64", withBattery(7), 100, false, false,
                  false},
        StateCase{"PowerAbove128StoresZero", "50 4B 03 00 01 C8", withBattery(7), 0, false, false,
                  false},
        StateCase{"Power128IsKept", "50 4B 03 00 01 80", withBattery(7), 128, false, false, false},
        StateCase{"PowerWithLengthTwoIgnored", "50 4B 03 00 02 64 00", withBattery(7), 7, false,
                  false, false},
        StateCase{"PowerWithoutPayloadIgnored", "50 4B 03 00 01", withBattery(7), 7, false, false,
                  false},
        StateCase{"DockStatusTwoDocks", "50 4B 10 00 01 02", withBattery(0), 0, true, false, false},
        StateCase{"DockStatusOneUndocks", "50 4B 10 00 01 01", withBattery(0, true), 0, false,
                  false, false},
        StateCase{"DockStatusWithoutPayloadIgnored", "50 4B 10 00 01", withBattery(0, true), 0,
                  true, false, false},
        StateCase{"ShortLoginReplyAsksForRetry", "50 4B 0B 00 02 00 00", withBattery(0), 0, false,
                  false, true},
        StateCase{"LoginReplyNinthByteZeroDocks", "50 4B 0B 00 06 01 02 03 00 04 05",
                  withBattery(0), 0, true, true, false},
        StateCase{"LoginReplyNinthByteOneUndocks", "50 4B 0B 00 06 01 02 03 01 04 05",
                  withBattery(0, true), 0, false, true, false},
        StateCase{"LoginReplyOtherDockByteKeepsDock", "50 4B 0B 00 06 01 02 03 07 04 05",
                  withBattery(0, true), 0, true, true, false},
        StateCase{"LoginReplyOfNineBytesDoesNothing", "50 4B 0B 00 04 01 02 03 04", withBattery(0),
                  0, false, false, false},
        StateCase{"TypeNineIgnored", "50 4B 09 00 01 64", withBattery(5), 5, false, false, false},
        StateCase{"UnknownTypeIgnored", "50 4B 63 00 01 02", withBattery(5), 5, false, false,
                  false},
        StateCase{"TwoByteChunkIsNoHeader", "50 4B", withBattery(5), 5, false, false, false},
        StateCase{"HeaderOnlyAtChunkStart", "00 50 4B 03 00 01 64", withBattery(5), 5, false, false,
                  false}),
    [](const auto& p) { return std::string(p.param.name); });

std::string videoHeader(std::size_t length) {
  std::string header = fromHex("50 4B 02");
  header.push_back(static_cast<char>(length >> 8));
  header.push_back(static_cast<char>(length & 0xFF));
  return header;
}

std::string patternPayload(std::size_t length, int seed = 0) {
  std::string payload(length, '\0');
  for (std::size_t i = 0; i < length; ++i) payload[i] = static_cast<char>((i * 7 + seed) % 251);
  return payload;
}

// Feeds chunks in order and collects each completed frame.
std::vector<std::string> feed(RobotChunkParser& parser, RobotState& state,
                              const std::vector<std::string>& chunks) {
  std::vector<std::string> frames;
  for (const auto& chunk : chunks) {
    const auto result = parser.ParseRobotChunk(chunk, state);
    if (result.frameComplete) frames.emplace_back(result.frame);
  }
  return frames;
}

TEST(ChunkReassembly, VideoOf10000BytesCompletesOnThirdChunk) {
  const std::string payload = patternPayload(10000);
  const std::string packet = videoHeader(10000) + payload;
  RobotChunkParser parser;
  RobotState state;

  EXPECT_FALSE(parser.ParseRobotChunk(packet.substr(0, 4000), state).frameComplete);
  EXPECT_FALSE(parser.ParseRobotChunk(packet.substr(4000, 4000), state).frameComplete);
  const auto last = parser.ParseRobotChunk(packet.substr(8000), state);
  ASSERT_EQ(packet.size() - 8000, 2005u);
  ASSERT_TRUE(last.frameComplete);
  EXPECT_EQ(last.frame, payload);
  EXPECT_FALSE(parser.collecting());
}

TEST(ChunkReassembly, TrailingHeaderInLastChunkIsDropped) {
  const std::string first = patternPayload(300, 1);
  const std::string second = patternPayload(50, 2);
  RobotChunkParser parser;
  RobotState state;
  const auto frames =
      feed(parser, state,
           {videoHeader(300) + first.substr(0, 100),
            first.substr(100) + videoHeader(50) + second + fromHex("50 4B 03 00 01 10"), second});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], first);
  EXPECT_EQ(state.BatteryLevel, 0);
}

TEST(ChunkReassembly, HeaderInsideAPayloadStartsANewPacket) {
  const std::string dropped = patternPayload(500, 3);
  const std::string kept = patternPayload(20, 4);
  RobotChunkParser parser;
  RobotState state;
  const auto frames =
      feed(parser, state, {videoHeader(500) + dropped.substr(0, 200), videoHeader(20) + kept});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], kept);
}

TEST(ChunkReassembly, ShortVideoHeaderCollectsNothingUntilTheNextHeader) {
  RobotChunkParser parser;
  RobotState state;
  const auto frames = feed(
      parser, state, {fromHex("50 4B 02 00"), patternPayload(10), fromHex("50 4B 02 00 02 AA BB")});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], fromHex("AA BB"));
}

TEST(ChunkReassembly, AudioIsCollectedButNeverAFrame) {
  RobotChunkParser parser;
  RobotState state;
  EXPECT_FALSE(parser.ParseRobotChunk(fromHex("50 4B 01 00 04 01 02"), state).frameComplete);
  EXPECT_TRUE(parser.collecting());
  EXPECT_FALSE(parser.ParseRobotChunk(fromHex("03 04 05 06"), state).frameComplete);
  EXPECT_FALSE(parser.collecting());
}

TEST(ChunkReassembly, ContinuationWithoutPacketIsIgnored) {
  RobotChunkParser parser;
  RobotState state;
  EXPECT_FALSE(parser.ParseRobotChunk(patternPayload(64), state).frameComplete);
  EXPECT_FALSE(parser.collecting());
}

TEST(ChunkReassembly, EmptyVideoPayloadIsNoFrame) {
  RobotChunkParser parser;
  RobotState state;
  EXPECT_FALSE(parser.ParseRobotChunk(videoHeader(0), state).frameComplete);
  EXPECT_FALSE(parser.ParseRobotChunk(patternPayload(5), state).frameComplete);
}

TEST(ChunkReassembly, PowerPacketBetweenFramesEndsTheUnfinishedFrame) {
  RobotChunkParser parser;
  RobotState state;
  const std::string payload = patternPayload(100);
  const auto frames = feed(
      parser, state,
      {videoHeader(100) + payload.substr(0, 50), fromHex("50 4B 03 00 01 40"), payload.substr(50)});
  EXPECT_TRUE(frames.empty());
  EXPECT_EQ(state.BatteryLevel, 64);
}

TEST(ChunkReassembly, LargestFrameInOneByteChunks) {
  const std::string payload = patternPayload(65535, 9);
  const std::string packet = videoHeader(65535) + payload;
  RobotChunkParser parser;
  RobotState state;
  std::vector<std::string> chunks = {packet.substr(0, 5)};
  for (std::size_t i = 5; i < packet.size(); ++i) chunks.push_back(packet.substr(i, 1));
  const auto frames = feed(parser, state, chunks);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], payload);
}

TEST(ChunkReassembly, ConsecutiveFramesOfDifferentSizesStayWhole) {
  RobotChunkParser parser;
  RobotState state;
  const std::string big = patternPayload(3000, 5);
  const std::string small = patternPayload(40, 6);
  const auto frames = feed(parser, state,
                           {videoHeader(3000) + big.substr(0, 1000), big.substr(1000),
                            videoHeader(40) + small, videoHeader(3000) + big});
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], big);
  EXPECT_EQ(frames[1], small);
  EXPECT_EQ(frames[2], big);
}

}  // namespace
}  // namespace rovalink::robot
