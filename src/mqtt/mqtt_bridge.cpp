#include "mqtt/mqtt_bridge.h"

#include <algorithm>
#include <utility>

#include "devices/device_table.h"
#include "mqtt/mqtt_topics.h"
#include "mqtt/set_command.h"
#include "platform/diag.h"
#include "settings/ascii_case.h"

namespace rovalink::mqtt {
namespace {

using settings::kProgramWord;
constexpr std::size_t kShownBytes = 80;
// Enough rounds to hand a burst of queued publishes to the socket at shutdown, never a hang.
constexpr int kFlushRounds = 64;

// Outside text shown in an event: printable ASCII only, cut short.
std::string shown(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, kShownBytes)) out += (c >= 0x20 && c < 0x7F) ? c : '?';
  if (text.size() > kShownBytes) out += "...";
  return out;
}

}  // namespace

MqttBridge::MqttBridge(Wiring wiring, MqttSettings settings, std::unique_ptr<MqttClient> client,
                       std::unique_ptr<platform::HostResolver> resolver)
    : m_wiring(std::move(wiring)),
      m_settings(std::move(settings)),
      m_client(std::move(client)),
      m_resolver(std::move(resolver)),
      m_lookupTimer(m_wiring.platform.loop().createTimer()),
      m_miscTimer(m_wiring.platform.loop().createTimer()),
      m_retryTimer(m_wiring.platform.loop().createTimer()),
      m_cameraTimer(m_wiring.platform.loop().createTimer()),
      m_rejectTimer(m_wiring.platform.loop().createTimer()),
      m_published(m_wiring.devices.size()) {
  m_miscTimer->setInterval(kMiscIntervalMs);
  m_miscTimer->onTick([this] {
    serviceSocket(&MqttClient::loopMisc);
    // The link status and what the robot reports change without a report of their own.
    if (connected()) catchUp("");
  });
  m_lookupTimer->setInterval(kLookupTimeoutMs);
  m_lookupTimer->onTick([this] {
    m_lookupTimer->setEnabled(false);
    if (m_state != State::Resolving) return;
    m_resolver->cancel();
    failed("no answer to the lookup of " + m_settings.host);
  });
  m_retryTimer->onTick([this] {
    m_retryTimer->setEnabled(false);
    connect();
  });
  if (m_settings.cameraFps > 0) m_cameraTimer->setInterval(1000 / m_settings.cameraFps);
  m_cameraTimer->onTick([this] { publishFrame(); });
  m_rejectTimer->setInterval(kRejectEventMs);
  m_rejectTimer->onTick([this] {
    m_rejectTimer->setEnabled(false);
    if (m_rejectsUnreported > 0)
      event("MQTT: " + std::to_string(std::exchange(m_rejectsUnreported, 0)) +
            " more commands ignored");
  });
  m_client->setCallbacks(
      MqttClient::Callbacks{[this](int rc, const std::string& reason) { onConnected(rc, reason); },
                            [this](int, const std::string& reason) { onDisconnected(reason); },
                            [this](const std::string& topic, const std::string& payload,
                                   bool retained) { onMessage(topic, payload, retained); }});
}

MqttBridge::~MqttBridge() {
  m_watch.reset();
  m_client.reset();
}

void MqttBridge::start() {
  std::string error;
  if (!m_client->configure(m_settings, TopicNames(m_settings).status(), kOffline, error)) {
    m_state = State::Stopped;
    event("MQTT settings refused: " + error);
    diag::warning("MQTT not started: " + error);
    return;
  }
  connect();
}

void MqttBridge::stop() {
  if (m_state == State::Stopped) return;
  const bool wasConnected = connected();
  m_state = State::Stopped;
  m_resolver->cancel();
  m_lookupTimer->setEnabled(false);
  m_retryTimer->setEnabled(false);
  m_cameraTimer->setEnabled(false);
  m_miscTimer->setEnabled(false);
  if (wasConnected) {
    m_client->publish(TopicNames(m_settings).status(), kOffline, true, 1);
    // Inside a client callback the client writes by itself once the callback returns.
    for (int round = 0; round < kFlushRounds && !m_inClient && m_client->wantWrite(); ++round) {
      if (m_client->loopWrite() != 0) break;
    }
  }
  m_client->disconnect();
  m_watch.reset();
}

void MqttBridge::connect() {
  if (m_state == State::Stopped) return;
  m_state = State::Resolving;
  m_refusal.clear();
  // The library would look the name up itself, blocking the one thread while a name server
  // does not answer; so the lookup runs aside and the library gets the address.
  m_lookupTimer->setEnabled(true);
  m_resolver->resolve(
      m_settings.host,
      [this](const std::string& address, const std::string& error) { onResolved(address, error); });
}

void MqttBridge::onResolved(const std::string& address, const std::string& error) {
  if (m_state != State::Resolving) return;
  m_lookupTimer->setEnabled(false);
  if (address.empty()) {
    failed("cannot look up " + m_settings.host + ": " + error);
    return;
  }
  m_state = State::Connecting;
  // A checked TLS certificate names the host, which the library compares with what it was
  // given; that name resolved a moment ago, so its second lookup is answered at once.
  const bool checksName = !m_settings.caFile.empty() && !m_settings.insecure;
  std::string reason;
  if (!m_client->connectAsync(checksName ? m_settings.host : address, m_settings.port, reason)) {
    failed(reason);
    return;
  }
  m_watch = m_wiring.platform.createFdWatch(m_client->socket());
  m_watch->onReadable([this] { serviceSocket(&MqttClient::loopRead); });
  m_watch->onWritable([this] { serviceSocket(&MqttClient::loopWrite); });
  m_watch->setReadEnabled(true);
  updateWriteWatch();
  m_miscTimer->setEnabled(true);
}

void MqttBridge::serviceSocket(int (MqttClient::*call)()) {
  if (m_state != State::Connecting && m_state != State::Connected) return;
  // Sending an xAP event from a callback pumps the loop; the client must not be entered again
  // then. Readiness is level-triggered, so a skipped notification comes back.
  if (m_inClient) return;
  m_inClient = true;
  (m_client.get()->*call)();
  m_inClient = false;
  // A failed call has closed the socket and reported it through onDisconnect.
  updateWriteWatch();
}

void MqttBridge::updateWriteWatch() {
  if (m_watch) m_watch->setWriteEnabled(m_client->wantWrite());
}

void MqttBridge::onConnected(int rc, const std::string& reason) {
  if (m_state != State::Connecting) return;
  if (rc != 0) {
    // The client closes the connection next and reports that; the refusal is the reason shown.
    m_refusal = "refused: " + reason;
    return;
  }
  m_state = State::Connected;
  m_retryMs = kFirstRetryMs;
  if (m_reported != Reported::Up) {
    m_reported = Reported::Up;
    event("MQTT connected to " + brokerText());
    diag::status("MQTT connected to " + brokerText());
  }
  publishAll();
  if (m_settings.cameraFps > 0) m_cameraTimer->setEnabled(true);
}

void MqttBridge::onDisconnected(const std::string& reason) {
  if (m_state != State::Connecting && m_state != State::Connected) return;
  failed(m_refusal.empty() ? reason : m_refusal);
}

void MqttBridge::failed(const std::string& reason) {
  const bool wasUp = m_state == State::Connected;
  m_state = State::Waiting;
  m_lookupTimer->setEnabled(false);
  // Only the first connection can tell another gateway's "online" from this one's own.
  m_twinChecked |= wasUp;
  m_watch.reset();
  m_miscTimer->setEnabled(false);
  m_cameraTimer->setEnabled(false);
  if (m_reported != Reported::Down) {
    m_reported = Reported::Down;
    const std::string text = std::string(wasUp ? "MQTT connection to " : "MQTT broker ") +
                             brokerText() + (wasUp ? " lost: " : " unreachable: ") + shown(reason) +
                             "; retrying";
    event(text);
    diag::status(text);
  }
  diag::info("MQTT: " + reason + "; next attempt in " + std::to_string(m_retryMs) + " ms");
  m_retryTimer->setInterval(m_retryMs);
  m_retryTimer->setEnabled(true);
  m_retryMs = std::min(m_retryMs * 2, kMaxRetryMs);
}

void MqttBridge::publishAll() {
  const TopicNames topics(m_settings);
  m_client->subscribe(topics.setPattern());
  // Before our own "online": a retained "online" then is another gateway's.
  if (!m_twinChecked) m_client->subscribe(topics.status());
  m_client->publish(topics.status(), kOnline, true, 1);
  for (const RetainedMessage& config :
       DiscoveryConfigs(m_wiring.devices, m_settings, m_wiring.version)) {
    m_client->publish(config.topic, config.payload, true, 1);
  }
  if (m_settings.cameraFps <= 0) m_client->publish(topics.camera(), "", true, 0);
  m_robotPublished.clear();
  publishRobot();
  for (std::size_t i = 0; i < m_wiring.devices.size(); ++i) publishState(i);
  updateWriteWatch();
}

void MqttBridge::publishRobot() {
  const devices::Device* link = m_wiring.devices.find("Connected");
  const char* available = link != nullptr && link->Status ? kOnline : kOffline;
  const std::string status = robot::LinkStatusText(m_wiring.robot.Status);
  if (m_robotPublished == available + status) return;
  m_robotPublished = available + status;
  const TopicNames topics(m_settings);
  m_client->publish(topics.robot(), available, true, 0);
  m_client->publish(topics.link(), status, true, 0);
}

void MqttBridge::publishState(std::size_t index) {
  const devices::Device& device = *(m_wiring.devices.begin() + static_cast<std::ptrdiff_t>(index));
  m_published[index] = StatePayload(device, m_wiring.robot);
  m_client->publish(TopicNames(m_settings).state(device.Name), m_published[index], true, 0);
}

void MqttBridge::onReport(const std::string& deviceName) {
  if (!connected()) return;  // every state goes out again on connect
  catchUp(deviceName);
}

void MqttBridge::catchUp(const std::string& reportedName) {
  publishRobot();
  std::size_t index = 0;
  for (const devices::Device& device : m_wiring.devices) {
    const bool reported = settings::equalsNoCase(device.Name, reportedName);
    if (reported || m_published[index] != StatePayload(device, m_wiring.robot)) publishState(index);
    ++index;
  }
  updateWriteWatch();
}

void MqttBridge::onFrame(std::string_view jpeg) {
  if (m_settings.cameraFps <= 0) return;
  m_frame.assign(jpeg);
  m_frameNew = true;
}

void MqttBridge::publishFrame() {
  if (!connected() || !m_frameNew) return;
  m_frameNew = false;
  // Retained, so Home Assistant has a picture again right after its own restart.
  m_client->publish(TopicNames(m_settings).camera(), m_frame, true, 0);
  updateWriteWatch();
}

void MqttBridge::onMessage(const std::string& topic, const std::string& payload, bool retained) {
  if (topic == TopicNames(m_settings).status()) {
    if (retained && payload == kOnline && !m_twinChecked) {
      event("MQTT: another gateway is already online under " + shown(m_settings.baseTopic) +
            "; give each its own BaseTopic");
    }
    m_twinChecked = true;
    return;
  }
  // A retained command is an old one (left by any publisher, kept across broker restarts):
  // the robot never acts on it.
  if (retained) {
    if (!std::exchange(m_retainedCommandTold, true)) {
      event("MQTT command on " + shown(topic) +
            " ignored: retained (an old message; later ones are not reported)");
    }
    diag::info("MQTT: retained message on " + shown(topic) + " ignored");
    return;
  }
  if (topic.size() > kMaxTopicBytes) {
    rejectSet(topic, "topic too long");
    return;
  }
  const std::string prefix = m_settings.baseTopic + "/";
  constexpr std::string_view kSuffix = "/set";
  if (topic.size() <= prefix.size() + kSuffix.size() || topic.compare(0, prefix.size(), prefix) ||
      !topic.ends_with(kSuffix)) {
    rejectSet(topic, "not a command topic");
    return;
  }
  const std::string name =
      topic.substr(prefix.size(), topic.size() - prefix.size() - kSuffix.size());
  const devices::Device* device =
      name.find('/') == std::string::npos ? m_wiring.devices.find(name) : nullptr;
  if (device == nullptr) {
    rejectSet(topic, "no such device");
    return;
  }
  std::string error;
  const auto fields = MapSetPayload(*device, payload, error);
  if (!fields) {
    rejectSet(topic, error + " (got \"" + shown(payload) + "\")");
    return;
  }
  if (m_wiring.command)
    m_wiring.command(m_wiring.xapSource + ":" + devices::DeviceSubAddress(*device), device->uID,
                     fields->State, fields->Text);
}

void MqttBridge::rejectSet(const std::string& topic, const std::string& reason) {
  // A flood of bad commands must not become a flood of bus events.
  if (m_rejectTimer->enabled()) {
    ++m_rejectsUnreported;
    return;
  }
  m_rejectTimer->setEnabled(true);
  event("MQTT command on " + shown(topic) + " ignored: " + reason);
}

void MqttBridge::event(const std::string& text) {
  m_wiring.services.LogEvent(kProgramWord, text);
}

std::string MqttBridge::brokerText() const {
  return m_settings.host + ":" + std::to_string(m_settings.port);
}

}  // namespace rovalink::mqtt
