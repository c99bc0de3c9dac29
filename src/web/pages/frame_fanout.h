#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/event_loop.h"

namespace rovalink::web {

// One robot frame (a JPEG image), shared by every viewer it is written to.
using SharedFrame = std::shared_ptr<const std::string>;

// Hands every robot frame to the stream viewers without letting a slow one cost anything: each
// viewer has at most one frame being written and keeps only the newest one waiting, so a viewer
// that cannot keep up skips frames and memory stays flat; one whose write makes no progress for
// kStallMs is dropped. The viewer count is capped.
class FrameFanout {
 public:
  static constexpr std::size_t kMaxViewers = 8;
  static constexpr int kStallMs = 10000;

  struct Viewer {
    // Writes one frame; the owner calls written() when the socket has taken it.
    std::function<void(const SharedFrame&)> write;
    // Ends the viewer's connection (stalled); the viewer is already gone from the fanout.
    std::function<void()> drop;
  };

  explicit FrameFanout(platform::EventLoop& loop) : m_loop(loop) {}

  // A new viewer, or nothing when kMaxViewers are watching already.
  std::optional<std::uint64_t> add(Viewer viewer);
  // The viewer's connection ended.
  void remove(std::uint64_t id);
  // A new frame for every viewer.
  void publish(const SharedFrame& frame);
  // The viewer's last frame left; the newest waiting one, if any, goes next.
  void written(std::uint64_t id);

  std::size_t size() const { return m_viewers.size(); }
  std::uint64_t skipped(std::uint64_t id) const;

 private:
  struct Entry {
    Viewer viewer;
    std::unique_ptr<platform::Timer> stall;
    bool writing = false;
    SharedFrame waiting;
    std::uint64_t skipped = 0;
  };
  void start(Entry& entry, const SharedFrame& frame);
  void stalled(std::uint64_t id);

  platform::EventLoop& m_loop;
  std::map<std::uint64_t, Entry> m_viewers;
  std::uint64_t m_nextId = 1;
};

}  // namespace rovalink::web
