#include "robot/lan_robot_list.h"

#include <charconv>
#include <cstdio>

#include "platform/diag.h"
#include "robot/robot_packet.h"

namespace rovalink::robot {
namespace {

constexpr const char* kSettingsFile = "qbtRovalink.ini";
constexpr const char* kSettingsSection = "SPYKEE";
constexpr const char* kDefaultDiscoveryAddress = "255.255.255.255";
constexpr std::uint16_t kDefaultRobotPort = 9000;
constexpr std::string_view kReplyPrefix = "DSCV";

}  // namespace

LanRobotList::LanRobotList(platform::Platform& platform, settings::hs& settings)
    : m_settings(settings), m_socket(platform.createUdpSocket()) {
  m_socket->onDatagram([this](const platform::Datagram& datagram) { onReply(datagram); });
  m_gap = platform.loop().createTimer();
  m_gap->onTick([this] { m_gap->setEnabled(false); });
}

LanRobotList::~LanRobotList() {
  m_socket->close();
}

bool LanRobotList::Query() {
  if (m_gap->enabled()) return true;
  const std::string address = m_settings.GetINISetting(kSettingsSection, "DiscoveryAddress",
                                                       kDefaultDiscoveryAddress, kSettingsFile);
  const std::string portText = m_settings.GetINISetting(
      kSettingsSection, "RobotPort", std::to_string(kDefaultRobotPort), kSettingsFile);
  int port = 0;
  const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (ec != std::errc() || end != portText.data() + portText.size() || port < 1 || port > 65535) {
    port = kDefaultRobotPort;
  }
  ++m_queries;
  std::string error;
  if (!m_socket->isBound() && !m_socket->bind("", 0, &error)) {
    diag::warning("LAN query: cannot bind: " + error);
    return false;
  }
  if (!m_socket->sendTo(address, static_cast<std::uint16_t>(port), kDiscoveryDatagram, &error)) {
    diag::warning("LAN query: cannot send to " + address + ": " + error);
    return false;
  }
  m_gap->setInterval(kQueryGapMs);
  m_gap->setEnabled(true);
  return true;
}

std::vector<LanRobotList::Robot> LanRobotList::Robots() const {
  std::vector<Robot> robots;
  robots.reserve(m_entries.size());
  for (const Entry& entry : m_entries) {
    robots.push_back(entry.robot);
    robots.back().Online = m_queries != 0 && entry.lastQuery == m_queries;
  }
  return robots;
}

void LanRobotList::onReply(const platform::Datagram& datagram) {
  // Our own datagram (a broadcast loops back) and anything that is no discovery reply.
  if (m_queries == 0 || datagram.data.rfind(kReplyPrefix, 0) != 0 ||
      datagram.data == kDiscoveryDatagram) {
    return;
  }
  Entry* entry = nullptr;
  for (Entry& e : m_entries) {
    if (e.robot.IP == datagram.senderAddress) entry = &e;
  }
  if (entry == nullptr) {
    if (m_entries.size() >= kMaxRobots) {
      if (m_warnedFullAt != m_queries) {
        diag::warning("LAN query: more than 64 robots answer; the others are left out");
      }
      m_warnedFullAt = m_queries;
      return;
    }
    entry = &m_entries.emplace_back();
    entry->robot.IP = datagram.senderAddress;
    entry->robot.IPSort = SortKey(datagram.senderAddress);
  }
  // The marker is the same in every reply; the rest is the robot's own text.
  entry->robot.Name = PrintableText(datagram.data.substr(kReplyPrefix.size()));
  if (entry->robot.Name.empty()) entry->robot.Name = datagram.senderAddress;
  entry->lastQuery = m_queries;
}

std::string LanRobotList::SortKey(const std::string& address) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  char tail = 0;
  if (std::sscanf(address.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 ||
      b > 255 || c > 255 || d > 255) {
    return address;
  }
  char key[16];
  std::snprintf(key, sizeof key, "%03u.%03u.%03u.%03u", a, b, c, d);
  return key;
}

std::string LanRobotList::PrintableText(const std::string& reply) {
  std::string text;
  bool gap = false;
  for (const char ch : reply) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte > 0x20 && byte < 0x7F) {
      if (gap && !text.empty()) text += ' ';
      gap = false;
      text += ch;
      if (text.size() >= kMaxNameLength) break;
    } else {
      gap = true;
    }
  }
  return text;
}

}  // namespace rovalink::robot
