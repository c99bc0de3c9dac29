// Reassembly throughput of ParseRobotChunk: a stream of video frames (with power packets in
// between), cut into chunks of random size the way TCP reads deliver them, parsed again and
// again. Prints MB/s of chunk bytes on one core.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "robot/robot_chunk_parser.h"

namespace {

using rovalink::robot::RobotChunkParser;
using rovalink::robot::RobotState;

struct Stream {
  std::vector<std::string> chunks;
  std::size_t bytes = 0;
  std::size_t frames = 0;
};

// JPEG-shaped payloads: SOI marker, noise, EOI marker.
std::string picture(std::mt19937& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
  bytes[0] = static_cast<char>(0xFF);
  bytes[1] = static_cast<char>(0xD8);
  bytes[size - 2] = static_cast<char>(0xFF);
  bytes[size - 1] = static_cast<char>(0xD9);
  return bytes;
}

std::string packet(int type, const std::string& payload) {
  std::string p = "PK";
  p.push_back(static_cast<char>(type));
  p.push_back(static_cast<char>(payload.size() >> 8));
  p.push_back(static_cast<char>(payload.size() & 0xFF));
  return p + payload;
}

Stream recordStream(int frames, int minChunk, int maxChunk) {
  std::mt19937 random(20261206);
  std::uniform_int_distribution<std::size_t> frameSize(4000, 30000);
  std::uniform_int_distribution<int> chunkSize(minChunk, maxChunk);
  Stream stream;
  for (int i = 0; i < frames; ++i) {
    // Each packet starts a new read; a packet's bytes may spread over several reads.
    const std::string bytes = packet(2, picture(random, frameSize(random)));
    for (std::size_t offset = 0; offset < bytes.size();) {
      const std::size_t size = std::min<std::size_t>(chunkSize(random), bytes.size() - offset);
      stream.chunks.push_back(bytes.substr(offset, size));
      offset += size;
    }
    ++stream.frames;
    if (i % 10 == 0) stream.chunks.push_back(packet(3, std::string(1, 90)));
  }
  for (const auto& chunk : stream.chunks) stream.bytes += chunk.size();
  return stream;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  const Stream stream = recordStream(300, 500, 4000);
  RobotChunkParser parser;
  RobotState state;

  std::size_t frames = 0;
  std::uint64_t checksum = 0;
  // One warm-up round, so buffers are grown before timing.
  for (const auto& chunk : stream.chunks) parser.ParseRobotChunk(chunk, state);

  const auto count = [&](const RobotChunkParser::Packet& p) {
    if (p.frame) {
      ++frames;
      checksum += static_cast<unsigned char>(p.payload.back());
    }
  };
  const auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < rounds; ++r) {
    for (const auto& chunk : stream.chunks) parser.ParseRobotChunk(chunk, state, count);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double megabytes = static_cast<double>(stream.bytes) * rounds / 1e6;

  if (frames != stream.frames * static_cast<std::size_t>(rounds)) {
    std::fprintf(stderr, "telemetry_bench: %zu frames completed, %zu expected\n", frames,
                 stream.frames * static_cast<std::size_t>(rounds));
    return 1;
  }
  std::printf("telemetry_bench: %zu chunks, %.1f MB per round, %d rounds, %zu frames\n",
              stream.chunks.size(), static_cast<double>(stream.bytes) / 1e6, rounds, frames);
  std::printf("reassembly: %.0f MB/s (%.3f s, checksum %llu)\n", megabytes / seconds, seconds,
              static_cast<unsigned long long>(checksum));
  return 0;
}
