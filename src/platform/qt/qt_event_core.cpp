#include "platform/qt/qt_event_core.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace rovalink::platform {
namespace {

constexpr QtEventCore::Nanos kNanosPerSecond = 1'000'000'000;

}  // namespace

QtEventCore::QtEventCore() {
  m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (m_fd < 0) {
    throw std::runtime_error(std::string("timerfd_create failed: ") + std::strerror(errno));
  }
  m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
  QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                   [this] { onReadable(); });
}

QtEventCore::~QtEventCore() {
  m_notifier.reset();
  ::close(m_fd);
}

QtEventCore::Nanos QtEventCore::now() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Nanos>(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
}

QtEventCore::Key QtEventCore::schedule(Nanos deadline, Client* client) {
  const Key key{deadline, m_nextSequence++};
  m_timers.emplace(key, client);
  arm();
  return key;
}

void QtEventCore::cancel(const Key& key) {
  m_timers.erase(key);
  // The fd stays armed for the old deadline; the early wake finds nothing due and re-arms.
}

void QtEventCore::pushWaitDeadline(Nanos deadline) {
  m_waitDeadlines.push_back(deadline);
  arm();
}

void QtEventCore::popWaitDeadline() {
  if (!m_waitDeadlines.empty()) m_waitDeadlines.pop_back();
}

void QtEventCore::onReadable() {
  std::uint64_t expirations = 0;
  while (::read(m_fd, &expirations, sizeof expirations) > 0) {
  }
  m_armedFor = -1;
  ++m_activations;
  fireDue();
  arm();
}

void QtEventCore::fireDue() {
  const Nanos limit = now();
  // Take the earliest entry afresh each time: a tick handler may cancel, re-arm or destroy
  // timers, or run a nested wait that fires some of them.
  while (!m_timers.empty() && m_timers.begin()->first.deadline <= limit) {
    const auto node = m_timers.extract(m_timers.begin());
    ++m_handled;
    node.mapped()->fire(node.key());
  }
}

void QtEventCore::arm() {
  Nanos next = -1;
  if (!m_timers.empty()) next = m_timers.begin()->first.deadline;
  for (const Nanos deadline : m_waitDeadlines)
    next = next < 0 ? deadline : std::min(next, deadline);
  if (next == m_armedFor) return;
  itimerspec armed{};
  if (next >= 0) {
    const Nanos at = std::max<Nanos>(next, 1);  // 0 would disarm; a past time fires at once
    armed.it_value.tv_sec = static_cast<time_t>(at / kNanosPerSecond);
    armed.it_value.tv_nsec = static_cast<long>(at % kNanosPerSecond);
  }
  ::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &armed, nullptr);
  m_armedFor = next;
}

}  // namespace rovalink::platform
