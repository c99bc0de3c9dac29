#include "mqtt/mqtt_settings.h"

#include <charconv>

#include "settings/ascii_case.h"
#include "settings/hs.h"

namespace rovalink::mqtt {
namespace {

constexpr const char* kFile = "qbtRovalink.ini";
constexpr const char* kSection = "MQTT";

int readInt(const settings::hs& settings, const char* key, int fallback, int low, int high) {
  const std::string text = settings.GetINISetting(kSection, key, "", kFile);
  int value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
      value < low || value > high) {
    return fallback;
  }
  return value;
}

std::string withoutTrailingSlashes(std::string topic) {
  while (!topic.empty() && topic.back() == '/') topic.pop_back();
  return topic;
}

}  // namespace

std::string TopicSafe(const std::string& text) {
  std::string safe;
  for (const char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_';
    safe += plain ? c : '_';
  }
  return safe.empty() ? "spykee" : safe;
}

MqttSettings ReadMqttSettings(const settings::hs& settings, const std::string& instance,
                              const std::string& hostName) {
  MqttSettings s;
  s.instance = instance;
  const std::string safe = TopicSafe(instance);
  auto text = [&](const char* key, const std::string& fallback) {
    const std::string value = settings.GetINISetting(kSection, key, "", kFile);
    return value.empty() ? fallback : value;
  };
  s.host = settings.GetINISetting(kSection, "Host", "", kFile);
  s.port = static_cast<std::uint16_t>(readInt(settings, "Port", 1883, 1, 65535));
  s.username = settings.GetINISetting(kSection, "Username", "", kFile);
  s.password = settings.GetINISetting(kSection, "Password", "", kFile);
  const std::string host = hostName.substr(0, hostName.find('.'));
  s.clientId =
      text("ClientId",
           "rovalink-" + safe + (host.empty() || host == instance ? "" : "-" + TopicSafe(host)));
  s.baseTopic = withoutTrailingSlashes(text("BaseTopic", "rovalink/" + safe));
  s.discoveryPrefix = withoutTrailingSlashes(text("DiscoveryPrefix", "homeassistant"));
  s.cameraFps = readInt(settings, "CameraFps", 1, 0, 30);
  s.caFile = settings.GetINISetting(kSection, "CaFile", "", kFile);
  const std::string insecure =
      settings::toLowerAscii(settings.GetINISetting(kSection, "Insecure", "false", kFile));
  s.insecure = insecure == "true" || insecure == "1" || insecure == "yes";
  return s;
}

}  // namespace rovalink::mqtt
