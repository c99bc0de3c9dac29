#include "mqtt/mqtt_topics.h"

#include <nlohmann/json.hpp>

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
                        component == "button" ? "PRESS" : ""});
    if (d.Name == "Docked") {
      entities.push_back({"button", "dock", d.Name, "Dock", "ON"});
      entities.push_back({"button", "undock", d.Name, "Undock", "OFF"});
    }
  }
  if (cameraFps > 0) entities.push_back({"camera", "camera", "", "Camera", ""});
  return entities;
}

std::vector<RetainedMessage> DiscoveryConfigs(const devices::Devices& devices,
                                              const MqttSettings& settings,
                                              const std::string& version) {
  const TopicNames topics(settings);
  const std::string node = topics.node();
  const json device = {{"identifiers", json::array({node})},
                       {"name", "Spykee (" + settings.instance + ")"},
                       {"manufacturer", "Meccano"},
                       {"model", "Spykee"},
                       {"sw_version", version}};
  std::vector<RetainedMessage> configs;
  for (const HaEntity& e : HaEntities(devices, settings.cameraFps)) {
    json c = {{"name", e.name},
              {"unique_id", node + "_" + e.objectId},
              {"object_id", node + "_" + e.objectId},
              {"availability_topic", topics.status()},
              {"payload_available", kOnline},
              {"payload_not_available", kOffline},
              {"device", device}};
    if (e.component == "camera") {
      c["topic"] = topics.camera();
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
        const NumberRange range = RangeOf(*devices.find(e.device));
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
      }
      if (e.device == "Connected") c["device_class"] = "connectivity";
      if (e.device == "File") c["name"] = "Path file running";
    }
    configs.push_back(
        {settings.discoveryPrefix + "/" + e.component + "/" + node + "/" + e.objectId + "/config",
         c.dump()});
  }
  return configs;
}

std::string StatePayload(const devices::Device& device) {
  return json{{"state", device.Status ? "ON" : "OFF"}, {"value", device.Value}}.dump();
}

}  // namespace rovalink::mqtt
