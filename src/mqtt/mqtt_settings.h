#pragma once

#include <cstdint>
#include <string>

namespace rovalink::settings {
class hs;
}

namespace rovalink::mqtt {

// The optional [MQTT] section of "qbtRovalink.ini". An empty Host leaves MQTT off.
struct MqttSettings {
  std::string instance;  // the xAP instance name the defaults below are made from
  std::string host;
  std::uint16_t port = 1883;
  std::string username;
  std::string password;
  std::string clientId;          // default "rovalink-<instance>-<host>"
  std::string baseTopic;         // default "rovalink/<instance>"
  std::string discoveryPrefix;   // default "homeassistant"
  int cameraFps = 1;             // 0: no camera entity, no frames
  std::string caFile;            // TLS on when set
  bool insecure = false;         // TLS without checking the broker's host name
  std::string configurationUrl;  // the live page, when the web server is on (not from [MQTT])

  bool enabled() const { return !host.empty(); }
};

// Reads [MQTT]; a bad number keeps its default. Topic levels made from the instance keep only
// letters, digits, '-' and '_' so a host name cannot inject '+', '#' or '/'. The default client
// id also names the host: two gateways given the same instance would otherwise throw each
// other off the broker in turn.
MqttSettings ReadMqttSettings(const settings::hs& settings, const std::string& instance,
                              const std::string& hostName = "");

// The instance reduced to letters, digits, '-' and '_' ("_" for anything else; "spykee" if empty).
std::string TopicSafe(const std::string& text);

}  // namespace rovalink::mqtt
