#include "platform/qt/qt_fd_watch.h"

#include <QSocketNotifier>

namespace rovalink::platform {

QtFdWatch::QtFdWatch(int fd, std::shared_ptr<QtEventCore> core)
    : m_fd(fd),
      m_core(std::move(core)),
      m_read(new QSocketNotifier(fd, QSocketNotifier::Read)),
      m_write(new QSocketNotifier(fd, QSocketNotifier::Write)) {
  m_read->setEnabled(false);
  m_write->setEnabled(false);
  const std::shared_ptr<bool> alive = m_alive;
  QObject::connect(m_read, &QSocketNotifier::activated, m_read, [this, alive] {
    if (!*alive) return;
    m_core->noteHandled();
    emitReadable();
  });
  QObject::connect(m_write, &QSocketNotifier::activated, m_write, [this, alive] {
    if (!*alive) return;
    m_core->noteHandled();
    emitWritable();
  });
}

QtFdWatch::~QtFdWatch() {
  *m_alive = false;
  // The watch may be destroyed inside a notifier's own signal: let Qt delete them afterwards.
  for (QSocketNotifier* notifier : {m_read, m_write}) {
    notifier->setEnabled(false);
    notifier->deleteLater();
  }
}

void QtFdWatch::setReadEnabled(bool enabled) {
  m_read->setEnabled(enabled);
}

void QtFdWatch::setWriteEnabled(bool enabled) {
  m_write->setEnabled(enabled);
}

bool QtFdWatch::writeEnabled() const {
  return m_write->isEnabled();
}

}  // namespace rovalink::platform
