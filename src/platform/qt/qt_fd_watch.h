#pragma once

#include <memory>

#include "platform/fd_watch.h"
#include "platform/qt/qt_event_core.h"

class QSocketNotifier;

namespace rovalink::platform {

// Two QSocketNotifiers (read, write) on a descriptor the caller owns. Safe to destroy from
// inside its own handler.
class QtFdWatch : public FdWatch {
 public:
  QtFdWatch(int fd, std::shared_ptr<QtEventCore> core);
  ~QtFdWatch() override;
  QtFdWatch(const QtFdWatch&) = delete;
  QtFdWatch& operator=(const QtFdWatch&) = delete;

  int fd() const override { return m_fd; }
  void setReadEnabled(bool enabled) override;
  void setWriteEnabled(bool enabled) override;
  bool writeEnabled() const override;

 private:
  int m_fd;
  std::shared_ptr<QtEventCore> m_core;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
  QSocketNotifier* m_read;
  QSocketNotifier* m_write;
};

}  // namespace rovalink::platform
