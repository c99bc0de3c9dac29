#pragma once

#include <map>
#include <memory>
#include <optional>

#include "platform/fd_watch.h"
#include "platform/sim/sim_event_loop.h"

namespace rovalink::platform {

class SimFdWatch;
// The live watches of a sim platform by descriptor, so a test can make one ready.
using SimFdWatches = std::map<int, SimFdWatch*>;

// A descriptor watch on virtual time. Nothing is ever readable by itself: the test says when
// (SimPlatform::makeReadable). A socket is always writable, so while writing is enabled the
// handler runs once per loop turn, as a level-triggered poll would.
class SimFdWatch : public FdWatch {
 public:
  SimFdWatch(int fd, std::shared_ptr<SimEventLoop> loop, std::shared_ptr<SimFdWatches> registry);
  ~SimFdWatch() override;
  SimFdWatch(const SimFdWatch&) = delete;
  SimFdWatch& operator=(const SimFdWatch&) = delete;

  int fd() const override { return m_fd; }
  void setReadEnabled(bool enabled) override { m_readEnabled = enabled; }
  void setWriteEnabled(bool enabled) override;
  bool writeEnabled() const override { return m_writeEnabled; }

  // Delivers one readable notification (if reading is enabled when it arrives).
  void postReadable();

 private:
  void scheduleWritable();

  int m_fd;
  std::shared_ptr<SimEventLoop> m_loop;
  std::shared_ptr<SimFdWatches> m_registry;
  bool m_readEnabled = false;
  bool m_writeEnabled = false;
  std::optional<SimEventLoop::Key> m_readKey;
  std::optional<SimEventLoop::Key> m_writeKey;
};

}  // namespace rovalink::platform
