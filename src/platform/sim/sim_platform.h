#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_event_loop.h"
#include "platform/sim/sim_fd_watch.h"
#include "platform/sim/sim_host_info.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_process.h"

namespace rovalink::platform {

// The test platform: virtual time and an in-memory network between the sockets it creates.
// Objects it creates may outlive it (they share its state).
class SimPlatform : public Platform {
 public:
  SimPlatform();
  ~SimPlatform() override;

  EventLoop& loop() override { return *m_loop; }
  Clock& clock() override { return m_clock; }
  HostInfo& host() override { return *m_host; }
  Process& process() override { return m_process; }
  std::unique_ptr<UdpSocket> createUdpSocket() override;
  std::unique_ptr<TcpSocket> createTcpSocket() override;
  std::unique_ptr<TcpListener> createTcpListener() override;
  std::unique_ptr<FdWatch> createFdWatch(int fd) override;

  // Virtual time.
  SimEventLoop& simLoop() { return *m_loop; }
  std::chrono::microseconds now() const { return std::chrono::microseconds(m_loop->now()); }
  double nowMs() const { return static_cast<double>(m_loop->now()) / 1000.0; }
  void advance(std::chrono::microseconds duration) { m_loop->advance(duration.count()); }
  void advanceMs(int ms) { m_loop->advance(std::int64_t{ms} * 1000); }
  // Runs events until done() or until maxMs of virtual time have passed; returns done().
  bool runUntil(const std::function<bool()>& done, int maxMs) {
    return m_loop->runUntil(done, std::int64_t{maxMs} * 1000);
  }
  SimClock& simClock() { return m_clock; }
  void setLocalDateTime(const LocalDateTime& when) { m_clock.setLocalDateTime(when); }

  // Host and process.
  SimHostInfo& simHost() { return *m_host; }
  SimProcess& simProcess() { return m_process; }

  // Network options and fault injection.
  // Time a datagram, segment, connect or close takes to arrive (default 0: delivered as a
  // separate event at the same virtual time, after everything posted before it).
  void setLatency(std::chrono::microseconds latency) { m_network->setLatency(latency.count()); }
  // Splits every TCP send into received chunks of this size (0: one chunk per send).
  void setTcpSegmentSize(std::size_t bytes) { m_network->setTcpSegmentSize(bytes); }
  void setTcpMerge(bool on) { m_network->setTcpMerge(on); }
  void setTcpRandomSplits(std::uint32_t seed) { m_network->setTcpRandomSplits(seed); }
  // The next bind (or listen) of that protocol on that port fails with the description.
  void failNextBind(SimProtocol protocol, std::uint16_t port,
                    std::string description = "Address in use");
  // Every setNoDelay() fails with this error until cleared with nullopt.
  void failNoDelay(std::optional<SimNetwork::Failure> failure) {
    m_network->failNoDelay(std::move(failure));
  }
  SimNetwork& network() { return *m_network; }

  // Descriptor watches: the watch of fd (nullptr when none), and one readable notification to it.
  SimFdWatch* fdWatch(int fd) const;
  void makeReadable(int fd);

 private:
  std::shared_ptr<SimEventLoop> m_loop;
  std::shared_ptr<SimHostInfo> m_host;
  std::shared_ptr<SimNetwork> m_network;
  std::shared_ptr<SimFdWatches> m_fdWatches = std::make_shared<SimFdWatches>();
  SimClock m_clock;
  SimProcess m_process;
};

}  // namespace rovalink::platform
