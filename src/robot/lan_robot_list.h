#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/hs.h"

namespace rovalink::robot {

// The robots on the LAN, for the web page: each query sends the discovery datagram once more from
// a socket of its own (the control connection and its discovery are not touched); every robot that
// answers is kept, in order of its first answer.
class LanRobotList {
 public:
  // Replies from anyone on the LAN: bounded in count and size.
  static constexpr std::size_t kMaxRobots = 64;
  static constexpr std::size_t kMaxNameLength = 64;
  // One datagram per this time at most, whoever asks: a page reloaded in a loop must not flood
  // the LAN.
  static constexpr int kQueryGapMs = 2000;

  struct Robot {
    std::string Name;     // printable text of the latest reply, or the address
    std::string IP;       // sender address
    std::string IPSort;   // the address as a sortable key ("010.000.000.002")
    std::string MAC;      // empty: a reply does not carry it
    bool Online = false;  // answered the latest query
  };

  LanRobotList(platform::Platform& platform, settings::hs& settings);
  ~LanRobotList();
  LanRobotList(const LanRobotList&) = delete;
  LanRobotList& operator=(const LanRobotList&) = delete;

  // Sends the discovery datagram to the robot discovery address and port of the settings (those
  // of the control connection's discovery). Answers arrive later; until then every robot counts
  // as offline. Within kQueryGapMs of the last datagram nothing is sent: the answers to that one
  // are still arriving. False when the datagram could not be sent.
  bool Query();

  // The robots as they are now.
  std::vector<Robot> Robots() const;

  // "10.0.0.2" -> "010.000.000.002"; anything that is no dotted IPv4 address stays as it is.
  static std::string SortKey(const std::string& address);
  // The reply's printable characters, each run of others one blank, trimmed and bounded.
  static std::string PrintableText(const std::string& reply);

 private:
  struct Entry {
    Robot robot;
    std::uint64_t lastQuery = 0;  // the query it last answered
  };
  void onReply(const platform::Datagram& datagram);

  settings::hs& m_settings;
  std::unique_ptr<platform::UdpSocket> m_socket;
  std::unique_ptr<platform::Timer> m_gap;  // runs for kQueryGapMs after each datagram
  std::uint64_t m_queries = 0;
  std::uint64_t m_warnedFullAt = 0;
  std::vector<Entry> m_entries;
};

}  // namespace rovalink::robot
