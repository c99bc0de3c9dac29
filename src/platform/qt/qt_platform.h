#pragma once

#include <memory>

#include "platform/platform.h"
#include "platform/qt/qt_clock.h"
#include "platform/qt/qt_event_loop.h"
#include "platform/qt/qt_host_info.h"
#include "platform/qt/qt_process.h"

namespace rovalink::platform {

// The real platform on Qt Core, with the system's own sockets on its event loop. A QCoreApplication
// (or QApplication) must exist on this thread before it is made; the executable creates it.
class QtPlatform : public Platform {
 public:
  QtPlatform();

  EventLoop& loop() override { return m_loop; }
  Clock& clock() override { return m_clock; }
  HostInfo& host() override { return m_host; }
  Process& process() override { return m_process; }
  std::unique_ptr<UdpSocket> createUdpSocket() override;
  std::unique_ptr<TcpSocket> createTcpSocket() override;
  std::unique_ptr<TcpListener> createTcpListener() override;
  std::unique_ptr<FdWatch> createFdWatch(int fd) override;

 private:
  QtEventLoop m_loop;
  QtClock m_clock;
  QtHostInfo m_host;
  QtProcess m_process;
};

}  // namespace rovalink::platform
