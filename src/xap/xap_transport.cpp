#include "xap/xap_transport.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/diag.h"
#include "settings/hs.h"
#include "xap/ascii_case.h"
#include "xap/error_log.h"
#include "xap/xap_message.h"

namespace rovalink::xap {
namespace {

constexpr std::string_view kLoopback = "127.0.0.1";
constexpr std::string_view kLoopbackNet = "127.";
constexpr std::string_view kChecksumPlaceholder = "~~~~";
// A bind failure whose system error number the platform does not give.
constexpr int kUnknownSocketError = -1;

std::vector<std::string_view> splitAt(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const auto end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

// The number a part of a dotted address stands for; text that is not a number counts as 0.
long long partValue(std::string_view part) {
  const auto first = part.find_first_not_of(' ');
  if (first == std::string_view::npos) return 0;
  const auto last = part.find_last_not_of(' ');
  part = part.substr(first, last - first + 1);
  long long value = 0;
  const auto result = std::from_chars(part.data(), part.data() + part.size(), value);
  if (result.ec != std::errc() || result.ptr != part.data() + part.size()) return 0;
  return value;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// Seconds from one time of day to a later one, across midnight.
double secondsBetween(double earlier, double later) {
  constexpr double kSecondsPerDay = 86400.0;
  const double seconds = later - earlier;
  return seconds < 0 ? seconds + kSecondsPerDay : seconds;
}

bool isLoopbackAddress(std::string_view address) {
  return address.substr(0, kLoopbackNet.size()) == kLoopbackNet;
}

// The longest a value may stay so that all values fit in budget bytes: shorter values keep
// their length and the longer ones share the rest evenly.
std::size_t valueCap(std::vector<std::size_t> lengths, std::size_t budget) {
  std::sort(lengths.begin(), lengths.end());
  std::size_t used = 0;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    const std::size_t rest = lengths.size() - i;
    if (used + lengths[i] * rest > budget) return (budget - used) / rest;
    used += lengths[i];
  }
  return budget;
}

// Cut values end in "..." so a reader sees that something is missing.
void cutValue(std::string& value, std::size_t length) {
  constexpr std::string_view kCutMark = "...";
  value.resize(length);
  if (length >= kCutMark.size()) value.replace(length - kCutMark.size(), kCutMark.size(), kCutMark);
}

}  // namespace

bool AddressMatches(std::string_view address, std::string_view pattern) {
  const auto addressParts = splitAt(address, '.');
  const auto patternParts = splitAt(pattern, '.');
  if (addressParts.size() != 4 || patternParts.size() != 4) return false;
  for (std::size_t i = 0; i < 4; ++i) {
    const long long p = partValue(patternParts[i]);
    if ((p & partValue(addressParts[i])) != p) return false;
  }
  return true;
}

std::uint16_t ReadBusPort(const settings::hs& settings) {
  const std::string text =
      settings.GetINISetting("Interface", "BusPort", std::to_string(kDefaultBusPort), "qbtXap.ini");
  const long long port = partValue(text);
  if (port < 1 || port > 65535) {
    diag::warning("qbtXap.ini BusPort \"" + text + "\" is not a port; using " +
                  std::to_string(kDefaultBusPort));
    return kDefaultBusPort;
  }
  return static_cast<std::uint16_t>(port);
}

XapTransport::XapTransport(platform::Platform& platform, ErrorLog& errorLog)
    : m_platform(platform),
      m_errorLog(errorLog),
      m_winsock1(platform.createUdpSocket()),
      m_winsock2(platform.createUdpSocket()),
      m_hBeatTimer(platform.loop().createTimer()),
      m_receiveTimer(platform.loop().createTimer()),
      m_silenceTimer(platform.loop().createTimer()),
      m_foreignReportTimer(platform.loop().createTimer()) {
  // Bus traffic comes only from the hub on this computer, forwarded to the loopback port. The
  // loopback bind alone does not prove that: a local socket bound to a LAN address can send
  // there too. Nothing that reaches the sending socket is ever taken as a message. Only what
  // the hub forwards proves it still knows us, so outside junk cannot hold back the heartbeat.
  m_winsock1->onDatagram([this](const platform::Datagram& datagram) {
    if (isLoopbackAddress(datagram.senderAddress)) {
      m_lastHeard = m_platform.clock().timeOfDay();
      if (!m_hubHeard && m_onHubHeard) {
        m_hubHeard = true;
        m_onHubHeard();
      }
      ProcessReceivedMessage(datagram.data);
    } else {
      dropForeign(datagram);
    }
  });
  m_winsock2->onDatagram([this](const platform::Datagram& datagram) { dropForeign(datagram); });
  m_hBeatTimer->onTick([this] { onHBeatTimer(); });
  m_receiveTimer->onTick([this] { onReceiveTimer(); });
  m_silenceTimer->onTick([this] { onSilenceCheck(); });
  m_foreignReportTimer->onTick([this] { reportForeign(); });
  // Until the first SendHeartbeat the heartbeat timer runs at its design period.
  m_hBeatTimer->setInterval(20000);
  m_hBeatTimer->setEnabled(true);
  rebuildHeartbeatPrefix();
}

XapTransport::~XapTransport() {
  m_hBeatTimer->setEnabled(false);
  m_receiveTimer->setEnabled(false);
  m_silenceTimer->setEnabled(false);
  m_foreignReportTimer->setEnabled(false);
  m_winsock1->close();
  m_winsock2->close();
}

void XapTransport::RegisterNewMessageCallback(std::function<void()> onMessage) {
  m_callback = std::move(onMessage);
}

std::string XapTransport::GetMessage() {
  if (m_receivedQueue.empty()) return {};
  std::string text = std::move(m_receivedQueue.front());
  m_receivedQueue.pop_front();
  m_queuedBytes -= text.size();
  if (m_receivedQueue.empty()) m_queueOverflowReported = false;
  return text;
}

void XapTransport::setXapSource(std::string value) {
  m_xapSource = std::move(value);
  rebuildHeartbeatPrefix();
}

void XapTransport::setXapTarget(std::string value) {
  m_xapTarget = std::move(value);
  rebuildHeartbeatPrefix();
}

void XapTransport::setXapUID(std::string value) {
  m_xapUID = std::move(value);
  rebuildHeartbeatPrefix();
}

void XapTransport::rebuildHeartbeatPrefix() {
  // "|" marks the line ends of the template and is turned into LF after the values are in.
  const auto prefix = [this](std::string_view heartbeatClass) {
    std::string text = "xap-hbeat|{|v=13|hop=1|uid=" + m_xapUID +
                       "|class=" + std::string(heartbeatClass) + "|source=" + m_xapSource +
                       "|interval=";
    for (char& c : text) {
      if (c == '|') c = '\n';
    }
    return text;
  };
  m_heartbeatPrefix = prefix("xap-hbeat.alive");
  m_stoppedPrefix = prefix("xap-hbeat.stopped");
}

std::string XapTransport::LocalAddress() const {
  std::vector<std::string> addresses = m_platform.host().ipv4Addresses();
  // The system's list leaves loopback out on a networked host, yet a pattern of 127.0.0.1 asks
  // for exactly that; it comes last, so "Default" still picks the first network address.
  if (std::find(addresses.begin(), addresses.end(), kLoopback) == addresses.end())
    addresses.emplace_back(kLoopback);
  for (const std::string& address : addresses) {
    if (AddressMatches(address, m_interfaceAddress)) return address;
  }
  return addresses.front();
}

int XapTransport::InitSockets() {
  m_localIP = LocalAddress();
  m_remoteAddress =
      equalsNoCase(m_broadcastAddress, "default") ? "255.255.255.255" : m_broadcastAddress;
  if (m_localIP == kLoopback) m_remoteAddress = kLoopback;

  bool found = false;
  m_xapPort = kFirstPort;
  for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
    std::string error;
    if (m_winsock1->bind(std::string(kLoopback), static_cast<std::uint16_t>(m_xapPort), &error)) {
      found = true;
      break;
    }
    diag::debug("xAP port " + std::to_string(m_xapPort) + " taken: " + error);
    ++m_xapPort;
  }

  // Reporting the last port tried would announce a port this program does not own.
  int result = found ? m_xapPort : -1;
  m_sendSocket = m_localIP == kLoopback ? m_winsock1.get() : m_winsock2.get();
  if (found) {
    const std::size_t granted = m_winsock1->setReceiveBuffer(kBusReceiveBufferBytes);
    if (granted < kBusReceiveBufferBytes) {
      diag::warning("xAP port " + std::to_string(m_xapPort) + ": receive buffer " +
                    std::to_string(granted / 1024) + " KiB of " +
                    std::to_string(kBusReceiveBufferBytes / 1024) +
                    " KiB asked for; a burst from the hub may be dropped (raise "
                    "net.core.rmem_max)");
    }
    // Messages leave from the chosen address, but the private port is bound on loopback only:
    // the sending socket takes any free port, so nothing on the network can reach that port.
    std::string error;
    if (!m_winsock2->bind(m_localIP, 0, &error)) {
      diag::error("xAP sending socket bind to " + m_localIP + " failed: " + error);
      return kUnknownSocketError;
    }
  }
  if (!found) {
    diag::error("xAP: none of the loopback ports " + std::to_string(kFirstPort) + " to " +
                std::to_string(kFirstPort + kPortAttempts - 1) + " could be bound");
  }
  m_heartbeatSuffix = "0\nport=" + std::to_string(m_xapPort) + "\n}\n";
  m_lastHeard = m_platform.clock().timeOfDay();
  m_silenceTimer->setInterval(kSilenceCheckMs);
  m_silenceTimer->setEnabled(true);
  return result;
}

void XapTransport::SendHeartbeat(int LongInterval) {
  int seconds = LongInterval;
  if (seconds > 60) seconds = 60;
  if (seconds < 1) seconds = 0;
  if (seconds >= 1 && seconds <= 4) seconds = 5;
  m_hBeatTimer->setInterval(seconds * 1000);
  m_hBeatTimer->setEnabled(seconds > 0);

  m_lastHeartbeat = m_platform.clock().timeOfDay();
  std::string error = "the transport has no socket yet";
  if (m_sendSocket == nullptr ||
      !m_sendSocket->sendTo(m_remoteAddress, m_busPort,
                            m_heartbeatPrefix + std::to_string(seconds) + m_heartbeatSuffix,
                            &error)) {
    m_errorLog.LogError(settings::kProgramWord, "SendHeartbeat", error);
  }
}

void XapTransport::SendStoppedHeartbeat() {
  m_hBeatTimer->setEnabled(false);
  if (m_sendSocket == nullptr) return;
  const int seconds = static_cast<int>(std::lround(m_hBeatTimer->interval() / 1000.0));
  std::string error;
  if (!m_sendSocket->sendTo(m_remoteAddress, m_busPort,
                            m_stoppedPrefix + std::to_string(seconds) + m_heartbeatSuffix,
                            &error)) {
    m_errorLog.LogError(settings::kProgramWord, "SendHeartbeat", error);
  }
}

void XapTransport::onHBeatTimer() {
  m_tickCount = (m_tickCount + 1) % 10;
  if (m_tickCount == 0) {
    SendHeartbeat(static_cast<int>(std::lround(m_hBeatTimer->interval() / 1000.0)));
  }
}

void XapTransport::onSilenceCheck() {
  // A hub that (re)started after our last heartbeat forwards nothing until it hears the next
  // one. Silence is counted from the last datagram itself, not in whole heartbeat periods, so
  // a restart is answered within a period and a check, whatever the phase; a live bus (or a
  // recent heartbeat) sends nothing extra.
  if (!m_hBeatTimer->enabled() || m_sendSocket == nullptr) return;
  const double period = m_hBeatTimer->interval() / 1000.0;
  const double now = m_platform.clock().timeOfDay();
  if (secondsBetween(m_lastHeard, now) >= period && secondsBetween(m_lastHeartbeat, now) >= period)
    SendHeartbeat(static_cast<int>(std::lround(period)));
}

void XapTransport::ProcessReceivedMessage(const std::string& text) {
  if (m_filterHeartbeats && !startsWithNoCase(text, "xap-head")) return;
  if (text.size() > kMaxQueuedBytes) return;
  // When the loop falls behind a flood, the oldest texts make way: the newest one (a stop sent
  // after a burst of motions) must never be the one lost.
  while (m_receivedQueue.size() >= kMaxQueuedMessages ||
         m_queuedBytes + text.size() > kMaxQueuedBytes) {
    if (!m_queueOverflowReported) {
      diag::warning("xAP receive queue full (" + std::to_string(m_receivedQueue.size()) +
                    " texts, " + std::to_string(m_queuedBytes) +
                    " bytes not taken); dropping the oldest texts");
      m_queueOverflowReported = true;
    }
    m_queuedBytes -= m_receivedQueue.front().size();
    m_receivedQueue.pop_front();
  }
  m_receivedQueue.push_back(text);
  m_queuedBytes += text.size();
  // Handed over as soon as the loop is free, after this socket event; texts that arrive before
  // then go in the same batch. The 50 ms period only bounds the wait of a busy loop.
  if (!m_receiveTimer->enabled()) {
    m_receiveTimer->setInterval(kReceiveDelayMs);
    m_receiveTimer->setEnabled(true);
    m_receiveTimer->tickSoon();
  }
}

void XapTransport::dropForeign(const platform::Datagram& datagram) {
  ++m_foreignTotal;
  ++m_foreignUnreported;
  m_lastForeignSender = datagram.senderAddress + ":" + std::to_string(datagram.senderPort);
  // The first one is reported at once, later ones in one line per period at most.
  if (!m_foreignReportTimer->enabled()) reportForeign();
}

void XapTransport::reportForeign() {
  if (m_foreignUnreported == 0) {
    m_foreignReportTimer->setEnabled(false);
    return;
  }
  m_errorLog.LogError(settings::kProgramWord, "xAP datagrams dropped",
                      std::to_string(m_foreignUnreported) +
                          " not forwarded by the local hub, last from " + m_lastForeignSender);
  m_foreignUnreported = 0;
  m_foreignReportTimer->setInterval(kDropReportMs);
  m_foreignReportTimer->setEnabled(true);
}

void XapTransport::onReceiveTimer() {
  m_receiveTimer->setEnabled(false);
  if (m_callback) m_callback();
}

std::string XapTransport::SendXap(const std::string& sTarget, const std::string& sClass,
                                  const std::string& sSection, const std::string& sData,
                                  const std::string& sSubaddress, const std::string& sUID) {
  const std::vector<PackedItem> items = UnpackItems(sData);
  const bool command = equalsNoCase(sClass, "xapbsc.cmd");
  // cutValues: the values to write instead of the items' own, when those were too long.
  const auto build = [&](const std::vector<std::string>* cutValues) {
    XapMessage message(&m_errorLog);
    message.setMsgClass(sClass);
    message.setMsgSource(sSubaddress.empty() ? m_xapSource : m_xapSource + ":" + sSubaddress);
    message.setMsgTarget(sTarget);
    message.setMsgUID(sUID.empty() ? m_xapUID : sUID);
    message.AddHeader();
    message.AddSection(sSection);
    for (std::size_t i = 0; i < items.size(); ++i)
      message.AddItem(sSection, items[i].name, cutValues ? (*cutValues)[i] : items[i].value);
    if (command) {
      message.AddSection("Checksum");
      message.AddItem("Checksum", "Length", kChecksumPlaceholder);
    }
    return std::move(message).ToXap();
  };

  std::string text = build(nullptr);
  if (text.size() > kMaxMessageBytes) {
    // Measured as written, control characters escaped, so the cut counts the bytes sent.
    std::vector<std::string> values;
    std::vector<std::size_t> lengths;
    std::size_t valueBytes = 0;
    for (const PackedItem& item : items) {
      values.push_back(EscapeControlCharacters(item.value));
      lengths.push_back(values.back().size());
      valueBytes += values.back().size();
    }
    const std::size_t fixedBytes = text.size() - valueBytes;
    if (fixedBytes > kMaxMessageBytes) {
      return "0 message of " + std::to_string(fixedBytes) +
             " bytes without its values is over the xAP limit of " +
             std::to_string(kMaxMessageBytes);
    }
    const std::size_t cap = valueCap(std::move(lengths), kMaxMessageBytes - fixedBytes);
    for (std::string& value : values) {
      if (value.size() > cap) cutValue(value, cap);
    }
    text = build(&values);
  }
  if (command) {
    // The placeholder and the four digits have the same length, so the length stays true.
    const std::string digits = "0000" + std::to_string(text.size());
    replaceAll(text, kChecksumPlaceholder, std::string_view(digits).substr(digits.size() - 4));
  }

  std::string error;
  if (!m_winsock2->sendTo(m_remoteAddress, m_busPort, text, &error)) {
    return "0 " + error;
  }
  m_platform.loop().pumpOnce();
  return {};
}

}  // namespace rovalink::xap
