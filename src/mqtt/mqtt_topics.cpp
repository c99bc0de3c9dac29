#include "mqtt/mqtt_topics.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "robot/robot_state.h"
#include "settings/ascii_case.h"

namespace rovalink::mqtt {
namespace {

using nlohmann::json;

bool isOneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    if (name == n) return true;
  }
  return false;
}

constexpr int kFullBattery = 128;
constexpr robot::LinkStatus kLinkStatuses[] = {
    robot::LinkStatus::Searching, robot::LinkStatus::Connecting, robot::LinkStatus::LoggedIn,
    robot::LinkStatus::Refused, robot::LinkStatus::Lost};

std::string iconOf(const std::string& name) {
  static const std::pair<const char*, const char*> kIcons[] = {
      {"LoginSequence", "mdi:login"},
      {"MoveForward", "mdi:arrow-up"},
      {"MoveBackward", "mdi:arrow-down"},
      {"MoveRight", "mdi:arrow-right"},
      {"MoveLeft", "mdi:arrow-left"},
      {"MoveForwardRight", "mdi:arrow-top-right"},
      {"MoveBackwardRight", "mdi:arrow-bottom-right"},
      {"MoveForwardLeft", "mdi:arrow-top-left"},
      {"MoveBackwardLeft", "mdi:arrow-bottom-left"},
      {"MoveStop", "mdi:stop-circle"},
      {"StopDock", "mdi:home-remove-outline"},
      {"HeadLED", "mdi:led-on"},
      {"LeftLED", "mdi:led-on"},
      {"RightLED", "mdi:led-on"},
      {"VOIP", "mdi:phone"},
      {"Audio", "mdi:microphone"},
      {"Video", "mdi:video"},
      {"Turbo", "mdi:rabbit"},
      {"File", "mdi:map-marker-path"}};
  for (const auto& [device, icon] : kIcons)
    if (name == device) return icon;
  if (name.starts_with("Sound")) return "mdi:volume-high";
  return "";
}

std::string componentOf(const devices::Device& d) {
  if (isOneOf(d.Name, {"Battery", "Movement"})) return "sensor";
  if (isOneOf(d.Name, {"Docked", "Connected", "File"})) return "binary_sensor";
  const std::string kind = settings::toLowerAscii(d.FunctionType);
  if (kind == "index") return "number";
  if (kind == "relay") return "switch";
  return "button";
}

}  // namespace

bool IsCommandable(const devices::Device& device) {
  return !isOneOf(device.Name, {"Battery", "Movement"});
}

NumberRange RangeOf(const devices::Device& device) {
  // Speed shows the drive speed the robot moves at; Volume the level the robot is given.
  if (device.Name == "Speed") return {robot::RobotState::kMinSpeed, robot::RobotState::kMaxSpeed};
  return {0, 100};
}

std::vector<HaEntity> HaEntities(const devices::Devices& devices, int cameraFps) {
  std::vector<HaEntity> entities;
  for (const devices::Device& d : devices) {
    const std::string component = componentOf(d);
    entities.push_back({component, settings::toLowerAscii(d.Name), d.Name, d.Name,
                        component == "button" ? "PRESS" : "", iconOf(d.Name)});
    if (d.Name == "Docked") {
      entities.push_back({"button", "dock", d.Name, "Dock", "ON", "mdi:home-import-outline"});
      entities.push_back({"button", "undock", d.Name, "Undock", "OFF", "mdi:home-export-outline"});
    }
  }
  entities.push_back({"sensor", "robot_status", "", "Robot status", "", "mdi:robot"});
  if (cameraFps > 0) entities.push_back({"camera", "camera", "", "Camera", "", ""});
  return entities;
}

std::vector<RetainedMessage> DiscoveryConfigs(const devices::Devices& devices,
                                              const MqttSettings& settings,
                                              const std::string& version) {
  const TopicNames topics(settings);
  const std::string node = topics.node();
  json device = {{"identifiers", json::array({node})},
                 {"name", "Spykee (" + settings.instance + ")"},
                 {"manufacturer", "Meccano"},
                 {"model", "Spykee"},
                 {"sw_version", version}};
  if (!settings.configurationUrl.empty()) device["configuration_url"] = settings.configurationUrl;
  json origin = {{"name", "Rovalink"}, {"sw_version", version}};
  // The gateway's own pages are where its user finds help; there is no other address to give.
  if (!settings.configurationUrl.empty()) origin["support_url"] = settings.configurationUrl;
  const json gateway = {{"topic", topics.status()},
                        {"payload_available", kOnline},
                        {"payload_not_available", kOffline}};
  const json robotLink = {{"topic", topics.robot()},
                          {"payload_available", kOnline},
                          {"payload_not_available", kOffline}};
  std::vector<RetainedMessage> configs;
  std::set<std::string> shown;
  auto configTopic = [&](const HaEntity& e) {
    return settings.discoveryPrefix + "/" + e.component + "/" + node + "/" + e.objectId + "/config";
  };
  for (const HaEntity& e : HaEntities(devices, settings.cameraFps)) {
    json c = {{"name", e.name},
              {"unique_id", node + "_" + e.objectId},
              {"object_id", node + "_" + e.objectId},
              {"default_entity_id", e.component + "." + node + "_" + e.objectId},
              {"device", device},
              {"origin", origin}};
    const devices::Device* shownDevice = e.device.empty() ? nullptr : devices.find(e.device);
    if (!e.icon.empty()) c["icon"] = e.icon;
    if (isOneOf(e.device, {"Battery", "Connected", "Movement", "File"}))
      c["entity_category"] = "diagnostic";
    if (e.component == "camera") {
      c["topic"] = topics.camera();
    } else if (e.objectId == "robot_status") {
      c["state_topic"] = topics.link();
      c["device_class"] = "enum";
      json options = json::array();
      for (const robot::LinkStatus status : kLinkStatuses)
        options.push_back(LinkStatusText(status));
      c["options"] = options;
    } else if (e.component == "button") {
      c["command_topic"] = topics.set(e.device);
      c["payload_press"] = e.pressPayload;
    } else {
      c["state_topic"] = topics.state(e.device);
      if (e.component == "switch" || e.component == "binary_sensor") {
        c["value_template"] = "{{ value_json.state }}";
        c["payload_on"] = "ON";
        c["payload_off"] = "OFF";
      } else {
        c["value_template"] = "{{ value_json.value }}";
      }
      if (e.component == "switch") {
        c["command_topic"] = topics.set(e.device);
        c["state_on"] = "ON";
        c["state_off"] = "OFF";
      }
      if (e.component == "number") {
        const NumberRange range = RangeOf(*shownDevice);
        c["command_topic"] = topics.set(e.device);
        c["min"] = range.min;
        c["max"] = range.max;
        c["step"] = 1;
        c["mode"] = "slider";
      }
      if (e.device == "Battery") {
        c["device_class"] = "battery";
        c["unit_of_measurement"] = "%";
        c["state_class"] = "measurement";
        c["json_attributes_topic"] = topics.state(e.device);
        c["json_attributes_template"] = "{{ {'level': value_json.level} | tojson }}";
      }
      // A number is expected, so a null value reads as unknown rather than the text "None".
      if (e.device == "Movement") c["suggested_display_precision"] = 0;
      if (e.device == "Connected") c["device_class"] = "connectivity";
      if (e.device == "File") c["name"] = "Path file running";
    }
    // Controls grey out while the robot cannot hear them; what is shown stays.
    if (c.contains("command_topic")) {
      c["availability"] = json::array({gateway, robotLink});
      c["availability_mode"] = "all";
    } else {
      c["availability"] = json::array({gateway});
    }
    shown.insert(configTopic(e));
    configs.push_back({configTopic(e), c.dump()});
  }
  for (const HaEntity& e : HaEntities(devices, 1)) {
    if (!shown.count(configTopic(e))) configs.push_back({configTopic(e), ""});
  }
  return configs;
}

int BatteryPercent(int level) {
  return (std::clamp(level, 0, int{kFullBattery}) * 100 + kFullBattery / 2) / kFullBattery;
}

std::string StatePayload(const devices::Device& device, const robot::RobotState& robot) {
  bool known = true;
  json value = device.Value;
  if (device.Name == "Battery") {
    known = robot.BatteryReported;
    value = BatteryPercent(robot.BatteryLevel);
  } else if (device.Name == "Docked" || device.Name == "Movement") {
    known = robot.LoggedIn;  // the first login reply tells the dock; the robot stands still then
  } else if (device.Name == "Volume") {
    known = device.Status;  // set once a level has been sent
  } else if (device.Name == "Speed") {
    const NumberRange range = RangeOf(device);
    known = device.Value >= range.min && device.Value <= range.max;
  }
  if (!known) return json{{"state", nullptr}, {"value", nullptr}}.dump();
  json state = {{"state", device.Status ? "ON" : "OFF"}, {"value", value}};
  if (device.Name == "Battery") state["level"] = robot.BatteryLevel;
  return state.dump();
}

}  // namespace rovalink::mqtt
