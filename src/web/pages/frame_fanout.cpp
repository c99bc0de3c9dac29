#include "web/pages/frame_fanout.h"

#include <utility>
#include <vector>

namespace rovalink::web {

std::optional<std::uint64_t> FrameFanout::add(Viewer viewer) {
  if (m_viewers.size() >= kMaxViewers) return std::nullopt;
  const std::uint64_t id = m_nextId++;
  Entry entry;
  entry.viewer = std::move(viewer);
  entry.stall = m_loop.createTimer();
  entry.stall->setInterval(kStallMs);
  entry.stall->setEnabled(false);
  entry.stall->onTick([this, id] { stalled(id); });
  m_viewers.emplace(id, std::move(entry));
  return id;
}

void FrameFanout::remove(std::uint64_t id) {
  m_viewers.erase(id);
}

void FrameFanout::publish(const SharedFrame& frame) {
  // A write may end a viewer (its connection fails at once): walk a copy of the ids.
  std::vector<std::uint64_t> ids;
  ids.reserve(m_viewers.size());
  for (const auto& [id, entry] : m_viewers) ids.push_back(id);
  for (const std::uint64_t id : ids) {
    const auto it = m_viewers.find(id);
    if (it == m_viewers.end()) continue;
    Entry& entry = it->second;
    if (entry.writing) {
      if (entry.waiting) ++entry.skipped;
      entry.waiting = frame;
    } else {
      start(entry, frame);
    }
  }
}

void FrameFanout::written(std::uint64_t id) {
  const auto it = m_viewers.find(id);
  if (it == m_viewers.end()) return;
  Entry& entry = it->second;
  entry.writing = false;
  entry.stall->setEnabled(false);
  if (entry.waiting) start(entry, std::exchange(entry.waiting, nullptr));
}

std::uint64_t FrameFanout::skipped(std::uint64_t id) const {
  const auto it = m_viewers.find(id);
  return it == m_viewers.end() ? 0 : it->second.skipped;
}

void FrameFanout::start(Entry& entry, const SharedFrame& frame) {
  entry.writing = true;
  entry.stall->setEnabled(true);
  // Copied: the write may remove the entry.
  const auto write = entry.viewer.write;
  write(frame);
}

void FrameFanout::stalled(std::uint64_t id) {
  const auto it = m_viewers.find(id);
  if (it == m_viewers.end()) return;
  // The ticking timer goes with the entry; a timer may destroy itself in its tick.
  const auto drop = std::move(it->second.viewer.drop);
  m_viewers.erase(it);
  if (drop) drop();
}

}  // namespace rovalink::web
