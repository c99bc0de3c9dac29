#include "robot/robot_chunk_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "robot/fakes.h"

namespace rovalink::robot {
namespace {

// Reads in arrival order ("|" between reads), parsed from battery 7, not docked, not logged
// in. What they leave: "battery docked loggedIn refusals" (battery "-N" while no level was
// reported), then " | frame" for each video frame and " skipped N" when bytes were skipped.
std::string parseChunks(std::string_view chunks) {
  RobotChunkParser parser;
  RobotState state{.BatteryLevel = 7};
  int refusals = 0;
  std::string frames;
  for (std::string_view rest = chunks; !rest.empty();) {
    const std::size_t bar = std::min(rest.find('|'), rest.size());
    parser.ParseRobotChunk(test::fromHex(rest.substr(0, bar)), state,
                           [&](const RobotChunkParser::Packet& p) {
                             refusals += p.loginRefused;
                             if (p.frame) frames += " | " + test::toHex(p.payload);
                           });
    rest.remove_prefix(std::min(bar + 1, rest.size()));
  }
  return (state.BatteryReported ? "" : "-") + std::to_string(state.BatteryLevel) + " " +
         std::to_string(state.RobotDocked) + " " + std::to_string(state.LoggedIn) + " " +
         std::to_string(refusals) + frames +
         (parser.skippedBytes() ? " skipped " + std::to_string(parser.skippedBytes()) : "");
}

// How reads cut and join packets is the segmentation test's; here: what each packet does.
TEST(ChunkParser, UpdatesTheRobotStateAndCompletesFrames) {
  const struct {
    const char* name;
    const char* chunks;
    const char* expected;
  } cases[] = {
      {"PowerAbove128StoresZero", "50 4B 03 00 01 C8", "-0 0 0 0"},
      {"Power128IsKept", "50 4B 03 00 01 80", "128 0 0 0"},
      {"PowerOfWrongLengthIgnored", "50 4B 03 00 02 64 00|50 4B 03 00 00", "-7 0 0 0"},
      {"DockStatusTwoDocksOneUndocks", "50 4B 10 00 01 02|50 4B 10 00 01 01", "-7 0 0 0"},
      {"DockStatusWithoutPayloadIgnored", "50 4B 10 00 01 02|50 4B 10 00 00", "-7 1 0 0"},
      {"ShortLoginReplyAsksForRetry", "50 4B 0B 00 02 00 00", "-7 0 0 1"},
      {"LoginReplyDockByteZeroDocks", "50 4B 0B 00 06 01 02 03 00 04 05", "-7 1 1 0"},
      {"LoginReplyDockByteOneUndocks", "50 4B 10 00 01 02|50 4B 0B 00 06 01 02 03 01 04 05",
       "-7 0 1 0"},
      {"LoginReplyOtherDockByteKeepsDock", "50 4B 10 00 01 02|50 4B 0B 00 06 01 02 03 07 04 05",
       "-7 1 1 0"},
      {"LoginReplyOfNineBytesDoesNothing", "50 4B 0B 00 04 01 02 03 04", "-7 0 0 0"},
      {"TypeNineAndUnknownTypesIgnored", "50 4B 09 00 01 64|50 4B 63 00 01 02", "-7 0 0 0"},
      // The dock byte comes from the reply, not from the packet after it.
      {"LoginReplyThenPowerInOneRead", "50 4B 0B 00 06 01 00 00 01 00 00 50 4B 03 00 01 64",
       "100 0 1 0"},
      {"AudioIsNeverAFrame", "50 4B 01 00 04 01 02|03 04 50 4B 02 00 01 AA", "-7 0 0 0 | AA"},
      {"EmptyVideoPayloadIsNoFrame", "50 4B 02 00 00 50 4B 02 00 01 AA", "-7 0 0 0 | AA"},
      {"BytesBeforeAPacketAreSkippedAndCounted", "00 50 11|50 4B 03 00 01 64",
       "100 0 0 0 skipped 3"},
  };
  for (const auto& c : cases) EXPECT_EQ(parseChunks(c.chunks), c.expected) << c.name;
}

std::string pseudoJpeg(std::size_t size, int seed) {
  std::string jpeg(size, '\0');
  std::mt19937 random(static_cast<unsigned>(seed));
  for (char& c : jpeg)
    c = static_cast<char>(random() % 4 == 0 ? 'P' : random() % 3 ? 'K' : random());
  jpeg.replace(0, 2, "\xFF\xD8");
  return jpeg;
}

// Streams as a robot sends them: a session (login reply, power, dock, frames of many sizes,
// audio, an ignored and an unknown type), a refused login with its retry, and a stream with
// bytes that start no packet. Frames are full of "P" and "K" to tempt a resynchronising reader.
std::vector<std::string> robotStreams() {
  using test::packet;
  std::string session = packet(11, test::fromHex("01 00 00 01 00 00")) + packet(3, "\x64");
  for (int i = 0; i < 12; ++i) {
    session += packet(2, pseudoJpeg(static_cast<std::size_t>(1 + i * 5000), i));
    if (i % 3 == 0) session += packet(1, pseudoJpeg(300, 100 + i)) + packet(3, "\x63");
    if (i % 4 == 1) session += packet(16, "\x02") + packet(9, "\x10") + packet(99, "xyz");
  }
  session += packet(2, pseudoJpeg(65535, 99)) + packet(16, "\x01");
  const std::string refusal = packet(11, std::string(2, '\0')) + packet(3, "\x20") +
                              packet(11, test::fromHex("01 00 00 00 00 00"));
  const std::string noisy = "junk" + packet(3, "\x10") + "P" + packet(2, "frame") + "KP" +
                            packet(16, "\x02") + "\x50\x50";
  return {session, refusal, noisy};
}

// The decoded packets (type, frame and refusal marks, payload) and the state left.
std::vector<std::string> decodeInReads(const std::string& stream,
                                       const std::vector<std::size_t>& cuts) {
  RobotChunkParser parser;
  RobotState state;
  std::vector<std::string> seen;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : stream.size();
    parser.ParseRobotChunk(std::string_view(stream).substr(from, to - from), state,
                           [&](const RobotChunkParser::Packet& p) {
                             seen.push_back(std::to_string(p.type) + (p.frame ? "F" : "") +
                                            (p.loginRefused ? "R" : "") + ":" +
                                            std::string(p.payload));
                           });
    EXPECT_LE(parser.buffered(), RobotChunkParser::kMaxPacketSize);
    from = to;
  }
  seen.push_back("battery " + std::to_string(state.BatteryLevel) + " docked " +
                 std::to_string(state.RobotDocked) + " in " + std::to_string(state.LoggedIn) +
                 " skipped " + std::to_string(parser.skippedBytes()));
  return seen;
}

// However TCP cuts and joins the robot's writes, the same packets come out in the same order.
TEST(ChunkParser, EverySegmentationOfARecordedStreamDecodesTheSamePackets) {
  const std::vector<std::string> streams = robotStreams();
  const std::vector<std::size_t> packetCounts = {33, 3, 3};
  for (std::size_t s = 0; s < streams.size(); ++s) {
    const std::string& stream = streams[s];
    const std::vector<std::string> whole = decodeInReads(stream, {});
    EXPECT_EQ(whole.size() - 1, packetCounts[s]) << "stream " << s;
    for (unsigned seed = 1; seed <= 100; ++seed) {
      SCOPED_TRACE("stream " + std::to_string(s) + " seed " + std::to_string(seed));
      std::mt19937 random(seed);
      // Many tiny reads for some seeds, a few large ones for others.
      const std::size_t reads = 1 + random() % (seed % 2 ? 40 : stream.size() / 8);
      std::vector<std::size_t> cuts;
      for (std::size_t i = 0; i < reads; ++i) cuts.push_back(random() % (stream.size() + 1));
      std::sort(cuts.begin(), cuts.end());
      ASSERT_EQ(decodeInReads(stream, cuts), whole);
    }
    std::vector<std::size_t> everyByte(stream.size());  // the largest frame one byte at a time
    for (std::size_t i = 0; i < everyByte.size(); ++i) everyByte[i] = i;
    EXPECT_EQ(decodeInReads(stream, everyByte), whole) << "stream " << s << " in one-byte reads";
  }
  EXPECT_EQ(decodeInReads(streams[0], {}).back(), "battery 99 docked 0 in 1 skipped 0");
  EXPECT_EQ(decodeInReads(streams[1], {}).front(), std::string("11R:") + std::string(2, '\0'));
  EXPECT_EQ(decodeInReads(streams[2], {}),
            (std::vector<std::string>{"3:\x10", "2F:frame", "16:\x02",
                                      "battery 16 docked 1 in 0 skipped 8"}));
}

}  // namespace
}  // namespace rovalink::robot
