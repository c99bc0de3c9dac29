#include "platform/sim/sim_fd_watch.h"

namespace rovalink::platform {

SimFdWatch::SimFdWatch(int fd, std::shared_ptr<SimEventLoop> loop,
                       std::shared_ptr<SimFdWatches> registry)
    : m_fd(fd), m_loop(std::move(loop)), m_registry(std::move(registry)) {
  (*m_registry)[fd] = this;
}

SimFdWatch::~SimFdWatch() {
  if (m_readKey) m_loop->cancel(*m_readKey);
  if (m_writeKey) m_loop->cancel(*m_writeKey);
  const auto it = m_registry->find(m_fd);
  if (it != m_registry->end() && it->second == this) m_registry->erase(it);
}

void SimFdWatch::setWriteEnabled(bool enabled) {
  m_writeEnabled = enabled;
  if (enabled) {
    scheduleWritable();
  } else if (m_writeKey) {
    m_loop->cancel(*m_writeKey);
    m_writeKey.reset();
  }
}

void SimFdWatch::scheduleWritable() {
  if (m_writeKey) return;
  m_writeKey = m_loop->post(0, [this] {
    m_writeKey.reset();
    if (!m_writeEnabled) return;
    // Re-armed first: the handler may disable writing or destroy this watch.
    scheduleWritable();
    emitWritable();
  });
}

void SimFdWatch::postReadable() {
  if (m_readKey) return;  // one pending notification stands for any number of arrivals
  m_readKey = m_loop->post(0, [this] {
    m_readKey.reset();
    if (m_readEnabled) emitReadable();
  });
}

}  // namespace rovalink::platform
