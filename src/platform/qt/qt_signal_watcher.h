#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace rovalink::platform {

// Turns SIGINT, SIGTERM and SIGHUP into a call on the event loop's thread (a self-pipe watched by a
// socket notifier), so an orderly shutdown runs as an ordinary handler. One instance at a time.
class QtSignalWatcher : public QObject {
  Q_OBJECT

 public:
  explicit QtSignalWatcher(std::function<void(int signal)> onSignal);
  ~QtSignalWatcher() override;

  QtSignalWatcher(const QtSignalWatcher&) = delete;
  QtSignalWatcher& operator=(const QtSignalWatcher&) = delete;

 private:
  void onReadable();

  std::function<void(int)> m_onSignal;
  std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace rovalink::platform
