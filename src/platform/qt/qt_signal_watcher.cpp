#include "platform/qt/qt_signal_watcher.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace rovalink::platform {
namespace {

// A signal handler may only touch async-signal-safe state: the write end of the pipe.
int g_signalPipe[2] = {-1, -1};

extern "C" void forwardSignal(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

void install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

QtSignalWatcher::QtSignalWatcher(std::function<void(int signal)> onSignal)
    : m_onSignal(std::move(onSignal)) {
  if (g_signalPipe[0] != -1) throw std::logic_error("QtSignalWatcher: one instance at a time");
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
    throw std::runtime_error("QtSignalWatcher: socketpair failed");
  }
  m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
  connect(m_notifier.get(), &QSocketNotifier::activated, this, &QtSignalWatcher::onReadable);
  install(SIGINT, forwardSignal);
  install(SIGTERM, forwardSignal);
  install(SIGHUP, forwardSignal);
}

QtSignalWatcher::~QtSignalWatcher() {
  install(SIGINT, SIG_DFL);
  install(SIGTERM, SIG_DFL);
  install(SIGHUP, SIG_DFL);
  m_notifier.reset();
  ::close(g_signalPipe[0]);
  ::close(g_signalPipe[1]);
  g_signalPipe[0] = g_signalPipe[1] = -1;
}

void QtSignalWatcher::onReadable() {
  char byte = 0;
  while (::read(g_signalPipe[0], &byte, 1) == 1) {
    if (m_onSignal) m_onSignal(static_cast<unsigned char>(byte));
  }
}

}  // namespace rovalink::platform
