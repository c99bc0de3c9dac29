#include "mqtt/mqtt_topics.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "devices/device_table.h"
#include "mqtt/fake_mqtt_client.h"
#include "settings/ascii_case.h"
#include "settings/hs.h"
#include "settings/ini_tool.h"
#include "settings/known_settings.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"

namespace rovalink::mqtt {
namespace {

using mqtt::testing::labSettings;
using nlohmann::json;

TEST(MqttDiscovery, EveryDeviceHasOneEntityGroupedUnderOneRobotWithAvailability) {
  const devices::Devices table = devices::BuildDeviceTable();
  MqttSettings settings = labSettings(1);
  settings.configurationUrl = "http://10.0.0.5:8029/spykee/live";
  const auto configs = DiscoveryConfigs(table, settings, "1.0.0");

  std::set<std::string> uniqueIds;
  std::map<std::string, std::set<std::string>> componentsByDevice;  // device -> components
  std::map<std::string, json> byObject;
  for (const RetainedMessage& message : configs) {
    SCOPED_TRACE(message.topic);
    const json c = json::parse(message.payload);
    for (const char* key : {"name", "unique_id", "object_id", "availability", "device", "origin"})
      EXPECT_TRUE(c.contains(key)) << key;
    EXPECT_EQ(c["availability"][0]["topic"], "rovalink/lab/status");
    EXPECT_EQ(c["availability"][0]["payload_not_available"], "offline");
    EXPECT_EQ(c["device"]["name"], "Spykee (lab)");
    EXPECT_EQ(c["device"]["identifiers"], json::array({"rovalink_lab"}));
    EXPECT_EQ(c["device"]["configuration_url"], "http://10.0.0.5:8029/spykee/live");
    EXPECT_EQ(c["origin"]["name"], "Rovalink");
    // Controls need the robot too.
    const bool control = c.contains("command_topic");
    EXPECT_EQ(c["availability"].size(), control ? 2u : 1u);
    if (control) {
      EXPECT_EQ(c["availability"][1]["topic"], "rovalink/lab/robot");
      EXPECT_EQ(c["availability_mode"], "all");
    }
    EXPECT_TRUE(uniqueIds.insert(c["unique_id"].get<std::string>()).second) << "duplicate id";

    // <prefix>/<component>/<node>/<object>/config
    const std::string component = message.topic.substr(14, message.topic.find('/', 14) - 14);
    const std::string object = c["unique_id"].get<std::string>().substr(13);
    EXPECT_EQ(message.topic, "homeassistant/" + component + "/rovalink_lab/" + object + "/config");
    EXPECT_EQ(c["default_entity_id"], component + ".rovalink_lab_" + object);
    if (component == "button" || component == "switch") {
      EXPECT_TRUE(c.contains("icon"));
    }
    byObject[object] = c;
    for (const char* key : {"state_topic", "command_topic"}) {
      if (!c.contains(key) || object == "robot_status") continue;
      const std::string topic = c[key];
      const std::string device = topic.substr(13, topic.rfind('/') - 13);
      ASSERT_NE(table.find(device), nullptr) << topic;
      componentsByDevice[device].insert(component);
    }
  }

  // Each device once under its own object id, and no entity without a device but the camera.
  ASSERT_EQ(componentsByDevice.size(), table.size());
  for (const devices::Device& d : table)
    EXPECT_EQ(byObject.count(settings::toLowerAscii(d.Name)), 1u);
  EXPECT_EQ(configs.size(), table.size() + 4);  // dock, undock, robot status, camera
  EXPECT_EQ(byObject["camera"]["topic"], "rovalink/lab/camera");
  EXPECT_EQ(byObject["dock"]["command_topic"], "rovalink/lab/Docked/set");
  EXPECT_EQ(byObject["undock"]["payload_press"], "OFF");

  std::set<std::string> switches;
  for (const auto& [device, components] : componentsByDevice)
    if (components.count("switch")) switches.insert(device);
  EXPECT_EQ(switches, (std::set<std::string>{"HeadLED", "LeftLED", "RightLED", "VOIP", "Audio",
                                             "Video", "Turbo"}));
  EXPECT_EQ(componentsByDevice["Docked"], (std::set<std::string>{"binary_sensor", "button"}));
  EXPECT_EQ(componentsByDevice["Connected"], std::set<std::string>{"binary_sensor"});
  EXPECT_EQ(componentsByDevice["SoundLaugh"], std::set<std::string>{"button"});
  EXPECT_EQ(componentsByDevice["StopDock"], std::set<std::string>{"button"});
  EXPECT_EQ(byObject["battery"]["device_class"], "battery");
  EXPECT_EQ(byObject["battery"]["unit_of_measurement"], "%");
  EXPECT_FALSE(byObject["battery"].contains("command_topic"));
  std::set<std::string> diagnostic;
  for (const auto& [object, c] : byObject)
    if (c.value("entity_category", "") == "diagnostic") diagnostic.insert(object);
  EXPECT_EQ(diagnostic, (std::set<std::string>{"battery", "connected", "movement", "file"}));
  EXPECT_EQ(byObject["robot_status"]["device_class"], "enum");
  EXPECT_EQ(byObject["robot_status"]["state_topic"], "rovalink/lab/link");
  EXPECT_EQ(byObject["robot_status"]["options"],
            json::array({"searching", "connecting", "logged in", "refused", "lost"}));
  EXPECT_EQ(byObject["volume"]["min"], 0);
  EXPECT_EQ(byObject["volume"]["max"], 100);
  EXPECT_EQ(byObject["speed"]["min"], 25);
  EXPECT_EQ(byObject["speed"]["max"], 123);
  EXPECT_EQ(byObject["headled"]["command_topic"], "rovalink/lab/HeadLED/set");
  EXPECT_EQ(byObject["headled"]["state_topic"], "rovalink/lab/HeadLED/state");

  // At 0 frames per second the camera's retained config is cleared.
  const auto noCamera = DiscoveryConfigs(table, labSettings(0), "1.0.0");
  ASSERT_EQ(noCamera.size(), configs.size());
  EXPECT_EQ(noCamera.back().topic, "homeassistant/camera/rovalink_lab/camera/config");
  EXPECT_EQ(noCamera.back().payload, "");
}

TEST(MqttSettingsTest, DefaultsFollowTheInstanceAndHostilePartsCannotLeakIntoTopics) {
  rovalink::testing::TestFolder folder;
  rovalink::testing::RecordingServices services;
  settings::hs hs(services);
  hs.setAppPath(folder.path().string());

  MqttSettings s = ReadMqttSettings(hs, "lab");
  EXPECT_FALSE(s.enabled());
  EXPECT_EQ(s.port, 1883);
  EXPECT_EQ(s.clientId, "rovalink-lab");
  EXPECT_EQ(ReadMqttSettings(hs, "lab", "box.local").clientId, "rovalink-lab-box");
  EXPECT_EQ(s.baseTopic, "rovalink/lab");
  EXPECT_EQ(s.discoveryPrefix, "homeassistant");
  EXPECT_EQ(s.cameraFps, 1);
  EXPECT_FALSE(s.insecure);

  rovalink::testing::writeFile(folder.file("Config/qbtRovalink.ini"),
                               "[mqtt]\r\nhost=10.0.0.2\r\nPort=99999\r\nBaseTopic=home/robot/\r\n"
                               "CameraFps=0\r\nInsecure=true\r\n");
  s = ReadMqttSettings(hs, "my+host/#");
  EXPECT_TRUE(s.enabled());
  EXPECT_EQ(s.port, 1883) << "a port out of range keeps the default";
  EXPECT_EQ(s.baseTopic, "home/robot");
  EXPECT_EQ(s.clientId, "rovalink-my_host__");
  EXPECT_EQ(TopicNames(s).node(), "home_robot") << "the base topic sets gateways apart";
  EXPECT_EQ(s.cameraFps, 0);
  EXPECT_TRUE(s.insecure);
}

// The README's [MQTT] example, pasted as it stands, gives exactly the values it shows.
TEST(MqttSettingsTest, TheReadmeExampleReadsAsShown) {
  const std::string readme = rovalink::testing::readFile(ROVALINK_README);
  const auto start = readme.find("```ini\n[MQTT]");
  ASSERT_NE(start, std::string::npos);
  const auto end = readme.find("```", start + 6);
  rovalink::testing::TestFolder folder;
  rovalink::testing::RecordingServices services;
  settings::hs hs(services);
  hs.setAppPath(folder.path().string());
  rovalink::testing::writeFile(folder.file("Config/qbtRovalink.ini"),
                               readme.substr(start + 7, end - start - 7));

  const MqttSettings s = ReadMqttSettings(hs, "lab");
  EXPECT_EQ(s.host + " " + std::to_string(s.port) + " " + s.username + " " + s.password,
            "192.168.1.10 1883 rovalink secret");
  EXPECT_EQ(s.clientId + " " + s.baseTopic + " " + s.discoveryPrefix,
            "rovalink-myhost rovalink/myhost homeassistant");
  EXPECT_EQ(s.caFile, "/etc/ssl/certs/broker-ca.pem");
  EXPECT_FALSE(s.insecure) << "\"false\" is no, not any text";
  settings::IniTool store(services);
  ASSERT_TRUE(store.Load(folder.file("Config/qbtRovalink.ini")));
  EXPECT_EQ(settings::UnknownSettings(store), std::vector<std::string>{});
}

}  // namespace
}  // namespace rovalink::mqtt
