#pragma once

#include <string>
#include <vector>

#include "devices/devices.h"
#include "mqtt/mqtt_settings.h"
#include "robot/robot_state.h"

namespace rovalink::mqtt {

inline constexpr const char* kOnline = "online";
inline constexpr const char* kOffline = "offline";

struct TopicNames {
  explicit TopicNames(const MqttSettings& settings) : m_settings(settings) {}

  std::string status() const { return m_settings.baseTopic + "/status"; }
  std::string state(const std::string& device) const {
    return m_settings.baseTopic + "/" + device + "/state";
  }
  std::string set(const std::string& device) const {
    return m_settings.baseTopic + "/" + device + "/set";
  }
  std::string setPattern() const { return m_settings.baseTopic + "/+/set"; }
  std::string camera() const { return m_settings.baseTopic + "/camera"; }
  // "online" while the robot's control connection is up: the controls' second availability.
  std::string robot() const { return m_settings.baseTopic + "/robot"; }
  // What a person is told about the robot link ("searching", ..., "lost").
  std::string link() const { return m_settings.baseTopic + "/link"; }
  // The Home Assistant node the entities are grouped under. Made from the base topic, which is
  // what sets one gateway apart from another on a broker ("rovalink_<instance>" by default).
  std::string node() const { return TopicSafe(m_settings.baseTopic); }

 private:
  const MqttSettings& m_settings;
};

// One Home Assistant entity over a device of the table.
struct HaEntity {
  std::string component;     // "switch", "button", "sensor", "binary_sensor", "number", "camera"
  std::string objectId;      // lower case, unique within the node
  std::string device;        // the device it shows or commands ("" for the camera)
  std::string name;          // what Home Assistant shows
  std::string pressPayload;  // buttons: what a press sends on the device's /set
  std::string icon;          // buttons and switches
};

// The entities in table order, then the robot status and the camera (when cameraFps > 0).
// Every device of the table is shown by exactly one entity; "Docked" also gets the dock and
// undock buttons.
std::vector<HaEntity> HaEntities(const devices::Devices& devices, int cameraFps);

struct RetainedMessage {
  std::string topic;
  std::string payload;
};

// The retained discovery config of every entity, then an empty retained config for each entity
// these settings no longer show (the camera at 0 frames per second), so Home Assistant drops it.
std::vector<RetainedMessage> DiscoveryConfigs(const devices::Devices& devices,
                                              const MqttSettings& settings,
                                              const std::string& version);

// The retained state of a device: {"state":"ON"|"OFF","value":<Value>}, the two items an xAP
// status message carries. Both are null while the value is only a placeholder (nothing
// measured or set yet), which Home Assistant shows as unknown. Battery's value is a percentage
// of the robot's full level 128, with the robot's own level beside it as "level".
std::string StatePayload(const devices::Device& device, const robot::RobotState& robot);

// Home Assistant's percentage for the robot's battery level 0..128.
int BatteryPercent(int level);

// Devices with no robot procedure behind them have no /set.
bool IsCommandable(const devices::Device& device);

// The real range of a number entity (Volume, Speed).
struct NumberRange {
  int min;
  int max;
};
NumberRange RangeOf(const devices::Device& device);

}  // namespace rovalink::mqtt
