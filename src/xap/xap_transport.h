#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/event_loop.h"
#include "platform/platform.h"
#include "platform/udp_socket.h"
#include "xap/packed_items.h"
#include "xap/xap_sender.h"

namespace rovalink::settings {
class hs;
}

namespace rovalink::xap {

class ErrorLog;

// Whether a dotted address falls under a pattern: both have four parts and, part by part,
// (pattern AND address) == pattern. "Default" and other non-addresses match nothing.
bool AddressMatches(std::string_view address, std::string_view pattern);

inline constexpr std::uint16_t kDefaultBusPort = 3639;

// "qbtXap.ini" [Interface] BusPort: the UDP port heartbeats and messages go to. A missing or
// unusable value gives the standard xAP port.
std::uint16_t ReadBusPort(const settings::hs& settings);

// The program's side of the xAP bus: a private loopback port announced by heartbeats (an xAP
// hub forwards bus traffic there), a queue of received message texts handed over in batches,
// and sending to the bus port at the broadcast address.
class XapTransport : public XapSender {
 public:
  XapTransport(platform::Platform& platform, ErrorLog& errorLog);
  ~XapTransport() override;
  XapTransport(const XapTransport&) = delete;
  XapTransport& operator=(const XapTransport&) = delete;

  // The one receiver of received texts: called as soon as the loop is free after a text
  // arrives (within 50 ms); it takes the texts with GetMessage until that returns empty text.
  void RegisterNewMessageCallback(std::function<void()> onMessage);
  // The oldest queued text, removed; empty text when there is none.
  std::string GetMessage();

  bool FilterHeartbeats() const { return m_filterHeartbeats; }
  void setFilterHeartbeats(bool on) { m_filterHeartbeats = on; }

  const std::string& XapSource() const { return m_xapSource; }
  const std::string& XapTarget() const { return m_xapTarget; }
  const std::string& XapUID() const { return m_xapUID; }
  const std::string& XapClass() const { return m_xapClass; }
  void setXapSource(std::string value);
  void setXapTarget(std::string value);
  void setXapUID(std::string value);
  void setXapClass(std::string value) { m_xapClass = std::move(value); }

  const std::string& BroadcastAddress() const { return m_broadcastAddress; }
  const std::string& InterfaceAddress() const { return m_interfaceAddress; }
  void setBroadcastAddress(std::string value) { m_broadcastAddress = std::move(value); }
  void setInterfaceAddress(std::string value) { m_interfaceAddress = std::move(value); }

  std::uint16_t BusPort() const { return m_busPort; }
  // Called once, when the hub first forwards anything to the private port.
  void setHubHeardListener(std::function<void()> listener) { m_onHubHeard = std::move(listener); }
  void setBusPort(std::uint16_t port) { m_busPort = port; }

  // Chooses the local address and binds the private port (32768 upward on 127.0.0.1 only) and
  // the sending socket (any free port on the chosen address). The private port on success; -1
  // when no port could be bound; negative when the sending socket cannot be bound.
  int InitSockets();

  // Sets the heartbeat period (seconds, clamped to 0 or 5..60) and sends one heartbeat. The
  // timer then sends one every tenth period, and one more whenever a whole period has passed
  // since both the last datagram from the hub and the last heartbeat (checked every 5 s).
  void SendHeartbeat(int LongInterval);
  // The goodbye of an orderly shutdown: one heartbeat of class "xap-hbeat.stopped" (hubs drop
  // the port at once); the heartbeat timer stops.
  void SendStoppedHeartbeat();

  std::string SendXap(const std::string& sTarget, const std::string& sClass,
                      const std::string& sSection, const std::string& sData,
                      const std::string& sSubaddress = {}, const std::string& sUID = {}) override;

  // Chosen at InitSockets; for diagnostics and tests.
  const std::string& LocalIP() const { return m_localIP; }
  const std::string& RemoteAddress() const { return m_remoteAddress; }
  int XapPort() const { return m_xapPort; }
  const platform::Timer& HBeatTimer() const { return *m_hBeatTimer; }
  const platform::Timer& ReceiveTimer() const { return *m_receiveTimer; }
  std::size_t QueuedCount() const { return m_receivedQueue.size(); }
  std::size_t QueuedBytes() const { return m_queuedBytes; }
  // Datagrams dropped because they did not come from this computer through the private port.
  std::uint64_t ForeignDatagrams() const { return m_foreignTotal; }

  static constexpr int kFirstPort = 32768;
  static constexpr int kPortAttempts = 200;
  static constexpr int kReceiveDelayMs = 50;
  static constexpr int kSilenceCheckMs = 5000;
  // Texts kept for a receiver that does not take them; beyond this new texts are dropped.
  static constexpr std::size_t kMaxQueuedMessages = 10000;
  static constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;
  // Kernel receive buffer of the private port: a hub's burst (20,000 datagrams/s) must wait
  // there while a hand-over runs, not be dropped.
  static constexpr std::size_t kBusReceiveBufferBytes = 4 * 1024 * 1024;
  // The xAP limit for one message; longer values are cut to fit.
  static constexpr std::size_t kMaxMessageBytes = 1500;
  // Dropped foreign datagrams are reported at most this often.
  static constexpr int kDropReportMs = 60000;

 private:
  std::string LocalAddress() const;
  void rebuildHeartbeatPrefix();
  void ProcessReceivedMessage(const std::string& text);
  void dropForeign(const platform::Datagram& datagram);
  void reportForeign();
  void onHBeatTimer();
  void onSilenceCheck();
  void onReceiveTimer();

  platform::Platform& m_platform;
  ErrorLog& m_errorLog;
  std::unique_ptr<platform::UdpSocket> m_winsock1;
  std::unique_ptr<platform::UdpSocket> m_winsock2;
  std::unique_ptr<platform::Timer> m_hBeatTimer;
  std::unique_ptr<platform::Timer> m_receiveTimer;
  std::unique_ptr<platform::Timer> m_silenceTimer;
  std::unique_ptr<platform::Timer> m_foreignReportTimer;

  std::string m_localIP;
  std::string m_remoteAddress;
  std::string m_broadcastAddress = "Default";
  std::string m_interfaceAddress = "Default";
  std::string m_heartbeatPrefix;
  std::string m_stoppedPrefix;
  std::string m_heartbeatSuffix;
  int m_xapPort = kFirstPort;
  std::deque<std::string> m_receivedQueue;
  std::size_t m_queuedBytes = 0;
  std::uint64_t m_foreignTotal = 0;
  std::uint64_t m_foreignUnreported = 0;
  std::string m_lastForeignSender;
  std::function<void()> m_callback;
  bool m_filterHeartbeats = true;
  bool m_queueOverflowReported = false;
  platform::UdpSocket* m_sendSocket = nullptr;
  int m_tickCount = 0;
  // Times of day of the last datagram from the hub and of the last heartbeat sent.
  double m_lastHeard = 0.0;
  double m_lastHeartbeat = 0.0;
  std::uint16_t m_busPort = kDefaultBusPort;
  std::function<void()> m_onHubHeard;
  bool m_hubHeard = false;

  std::string m_xapSource;
  std::string m_xapTarget;
  std::string m_xapUID;
  std::string m_xapClass;
};

}  // namespace rovalink::xap
