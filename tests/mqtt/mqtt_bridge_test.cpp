#include "mqtt/mqtt_bridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "devices/bsc_handler.h"
#include "devices/device_table.h"
#include "mqtt/fake_mqtt_client.h"
#include "mqtt/mqtt_topics.h"
#include "platform/sim/sim_platform.h"
#include "settings/recording_services.h"

namespace rovalink::mqtt {
namespace {

using testing::FakeMqttClient;
using testing::labSettings;

// The bridge on virtual time between a fake client and the real BSC command handling.
class Bridge : public ::testing::Test {
 protected:
  Bridge() {
    bsc.setXapSource("qbt.Spykee.lab");  // commands name this gateway, as the bridge's do
    dispatcher.setRecordHook(&taken);
    bridge.start();
  }

  // The broker's CONNACK arrives with the next readable socket.
  void accept() {
    client.onRead = [this] { client.callbacks.onConnect(0, "Connection Accepted."); };
    sim.makeReadable(client.socket);
    sim.advanceMs(0);
  }
  void receive(const std::string& topic, const std::string& payload) {
    client.onRead = [=, this] { client.callbacks.onMessage(topic, payload); };
    sim.makeReadable(client.socket);
    sim.advanceMs(0);
  }
  std::vector<std::string> eventTexts() const {
    std::vector<std::string> texts;
    for (const auto& e : services.events) texts.push_back(e.second);
    return texts;
  }
  std::size_t publishedTo(const std::string& topic) const {
    return std::count_if(client.published.begin(), client.published.end(),
                         [&](const auto& p) { return p.topic == topic; });
  }
  // What was queued: a command goes out as soon as the loop is free, so the dispatcher's
  // record hook sees each one.
  std::string queued() const { return taken.text; }
  struct Taken : commands::RecordHook {
    void recordCommand(const commands::Command& c) override {
      text += (text.empty() ? "" : " ") + c.Procedure + "|" + c.Parameter;
    }
    std::string text;
  } taken;

  platform::SimPlatform sim;
  devices::Devices devices = devices::BuildDeviceTable();
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  // Publishing an event on the bus pumps the loop once, as the xAP transport's send does.
  struct PumpingServices : rovalink::testing::RecordingServices {
    explicit PumpingServices(platform::EventLoop& eventLoop) : loop(eventLoop) {}
    void LogEvent(const std::string& type, const std::string& data,
                  const std::string& description) override {
      RecordingServices::LogEvent(type, data, description);
      loop.pumpOnce();
    }
    platform::EventLoop& loop;
  } services{sim.loop()};
  devices::BscHandler bsc{
      devices, dispatcher, sim.clock(), {nullptr, nullptr, {}, &services, nullptr}};
  FakeMqttClient::Shared client;
  MqttBridge bridge{
      {sim, services, devices,
       [this](const std::string& target, const std::string& id, const std::string& state,
              const std::string& text) { bsc.HandleBscCommand(target, id, state, text); },
       "qbt.Spykee.lab", "1.0.0"},
      labSettings(),
      std::make_unique<FakeMqttClient>(client)};
};

TEST_F(Bridge, ConnectsWithoutWaitingThenPublishesAvailabilityDiscoveryAndEveryState) {
  EXPECT_EQ(client.calls, std::vector<std::string>{"connect"});
  EXPECT_EQ(client.willTopic, "rovalink/lab/status");
  EXPECT_EQ(client.willPayload, "offline");
  ASSERT_NE(sim.fdWatch(client.socket), nullptr);
  EXPECT_TRUE(client.published.empty()) << "nothing before the broker accepted";

  accept();
  ASSERT_FALSE(client.published.empty());
  EXPECT_EQ(client.published.front().topic, "rovalink/lab/status");
  EXPECT_EQ(client.published.front().payload, "online");
  EXPECT_EQ(client.subscribed, std::vector<std::string>{"rovalink/lab/+/set"});
  const std::size_t configs = HaEntities(devices, 2).size();
  ASSERT_EQ(client.published.size(), 1 + configs + devices.size());
  EXPECT_TRUE(std::all_of(client.published.begin(), client.published.end(),
                          [](const auto& p) { return p.retain; }));
  EXPECT_EQ(client.published.back().topic, "rovalink/lab/Connected/state");
  EXPECT_EQ(eventTexts(), std::vector<std::string>{"MQTT connected to broker:1883"});
}

TEST_F(Bridge, ACallbackThatPumpsTheLoopDoesNotEnterTheClientAgain) {
  client.onRead = [this] {
    sim.makeReadable(client.socket);                        // more data already waiting
    client.callbacks.onConnect(0, "Connection Accepted.");  // its event pumps the loop
  };
  sim.makeReadable(client.socket);
  sim.advanceMs(0);
  EXPECT_TRUE(bridge.connected());
  EXPECT_FALSE(client.reentered);
}

TEST_F(Bridge, SocketReadinessAndKeepAliveRunOnTheEventLoop) {
  accept();
  client.calls.clear();
  // Something to send: writing is watched until the client has written it all.
  client.wantWrite = true;
  bridge.onReport("HeadLED");
  sim.advanceMs(0);
  EXPECT_EQ(client.calls, std::vector<std::string>{"write"});
  EXPECT_FALSE(sim.fdWatch(client.socket)->writeEnabled());

  client.calls.clear();
  sim.advanceMs(3 * MqttBridge::kMiscIntervalMs);
  EXPECT_EQ(client.calls, (std::vector<std::string>{"misc", "misc", "misc"}));
}

TEST_F(Bridge, BrokerDownRetriesWithDoublingDelayThenRestartRepublishesEverything) {
  // The first attempt happened in start(); make the broker refuse from now on.
  FakeMqttClient::lose(client, "Connection refused");
  client.refuseConnect = true;
  std::vector<double> attempts;
  client.onConnectAttempt = [&] { attempts.push_back(sim.nowMs() / 1000); };
  sim.advanceMs(250'000);
  EXPECT_EQ(attempts, (std::vector<double>{1, 3, 7, 15, 31, 63, 123, 183, 243}));
  EXPECT_EQ(eventTexts(), std::vector<std::string>{
                              "MQTT broker broker:1883 unreachable: Connection refused; retrying"});

  client.refuseConnect = false;
  sim.advanceMs(60'000);
  accept();
  ASSERT_TRUE(bridge.connected());
  EXPECT_EQ(bridge.nextRetryMs(), MqttBridge::kFirstRetryMs);

  // The broker restarts: one event, a retry after the first delay, and everything again.
  client.published.clear();
  client.subscribed.clear();
  FakeMqttClient::lose(client, "connection lost");
  attempts.clear();
  sim.advanceMs(1000);
  EXPECT_EQ(attempts.size(), 1u);
  accept();
  EXPECT_EQ(client.subscribed, std::vector<std::string>{"rovalink/lab/+/set"});
  EXPECT_EQ(publishedTo("rovalink/lab/status"), 1u);
  EXPECT_EQ(publishedTo("homeassistant/switch/rovalink_lab/headled/config"), 1u);
  EXPECT_EQ(publishedTo("rovalink/lab/HeadLED/state"), 1u);
  const auto events = eventTexts();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2], "MQTT connection to broker:1883 lost: connection lost; retrying");
  EXPECT_EQ(events[3], "MQTT connected to broker:1883");
}

TEST_F(Bridge, SetCommandsBecomeTheSameQueuedCommandsAsXapOnes) {
  accept();
  struct Case {
    const char* device;
    const char* payload;
    const char* queued;  // "Procedure|Parameter", or "" with one event
  };
  const std::string big(2000, 'x');
  const std::vector<Case> cases = {
      {"HeadLED", "ON", "HeadLEDOn|"},
      {"headled", " off\n", "HeadLEDOff|"},
      {"Docked", "ON", "DockedOn|"},
      {"MoveForward", "PRESS", "MoveForward|"},
      {"SoundLaugh", "press", "SoundLaugh|"},
      {"Volume", "40", "Volume|40"},
      {"Speed", "73", "Speed|49"},
      {"File", R"({"state":"ON","text":"route.txt"})", "FileOn|route.txt"},
      {"Battery", "ON", ""},
      {"Movement", "PRESS", ""},
      {"HeadLED", "maybe", ""},
      {"HeadLED", "", ""},
      {"Volume", "101", ""},
      {"Speed", "24", ""},
      {"Speed", "7e1", ""},
      {"MoveStop", "ON please", ""},
      {"File", R"({"state":["ON"]})", ""},
      {"File", R"({"state":"ON",)", ""},
      {"Nothing", "ON", ""},
      {"HeadLED/extra", "ON", ""},
      {"HeadLED", big.c_str(), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.device) + " <- " + std::string(c.payload).substr(0, 40));
    sim.advanceMs(MqttBridge::kRejectEventMs);
    taken.text.clear();
    services.events.clear();
    receive("rovalink/lab/" + std::string(c.device) + "/set", c.payload);
    EXPECT_EQ(queued(), c.queued);
    if (*c.queued == '\0') {
      ASSERT_EQ(services.events.size(), 1u);
      EXPECT_LT(services.events[0].second.size(), 300u) << "the event is bounded";
    } else {
      EXPECT_TRUE(services.events.empty());
    }
  }
}

TEST_F(Bridge, AFloodOfBadCommandsMakesOneEventAndACount) {
  accept();
  for (int i = 0; i < 100; ++i) receive("rovalink/lab/HeadLED/set", "garbage");
  sim.advanceMs(MqttBridge::kRejectEventMs);
  for (int i = 0; i < 3; ++i) receive("rovalink/lab/Volume/set", "-1");
  sim.advanceMs(MqttBridge::kRejectEventMs);
  const auto events = eventTexts();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(
      events[1],
      "MQTT command on rovalink/lab/HeadLED/set ignored: expected ON or OFF (got \"garbage\")");
  EXPECT_EQ(events[2], "MQTT: 99 more commands ignored");
  EXPECT_EQ(events[4], "MQTT: 2 more commands ignored");
  EXPECT_TRUE(dispatcher.queue().commands().empty());
}

TEST_F(Bridge, ReportsPublishRetainedStatesAndCatchUpSilentChanges) {
  bridge.onReport("HeadLED");
  EXPECT_TRUE(client.published.empty()) << "not connected yet";
  accept();
  client.published.clear();

  devices.at("HeadLED").Status = true;
  devices.at("HeadLED").Value = -1;
  bridge.onReport("headled");
  ASSERT_EQ(client.published.size(), 1u);
  EXPECT_EQ(client.published[0].topic, "rovalink/lab/HeadLED/state");
  EXPECT_EQ(client.published[0].payload, R"({"state":"ON","value":-1})");
  EXPECT_TRUE(client.published[0].retain);

  // Docking turns the LED off without a report of its own; an unchanged report still goes out.
  client.published.clear();
  devices.at("Docked").Status = true;
  devices.at("HeadLED").Status = false;
  bridge.onReport("Docked");
  bridge.onReport("Turbo");
  std::vector<std::string> topics;
  for (const auto& p : client.published) topics.push_back(p.topic);
  EXPECT_EQ(topics,
            (std::vector<std::string>{"rovalink/lab/HeadLED/state", "rovalink/lab/Docked/state",
                                      "rovalink/lab/Turbo/state"}));
  EXPECT_EQ(client.published[0].payload, R"({"state":"OFF","value":-1})");
}

TEST_F(Bridge, CameraSendsOnlyTheLatestFrameAtItsRate) {
  accept();
  client.published.clear();
  bridge.onFrame("\xFF\xD8 first");
  bridge.onFrame("\xFF\xD8 second");
  sim.advanceMs(1000);  // two periods at 2 frames per second, one new frame
  ASSERT_EQ(client.published.size(), 1u);
  EXPECT_EQ(client.published[0].topic, "rovalink/lab/camera");
  EXPECT_EQ(client.published[0].payload, "\xFF\xD8 second");
  EXPECT_FALSE(client.published[0].retain);
}

TEST_F(Bridge, OrderlyStopPublishesOfflineAndNeverRetries) {
  accept();
  client.calls.clear();
  bridge.stop();
  ASSERT_FALSE(client.published.empty());
  EXPECT_EQ(client.published.back().topic, "rovalink/lab/status");
  EXPECT_EQ(client.published.back().payload, "offline");
  EXPECT_TRUE(client.published.back().retain);
  EXPECT_EQ(client.calls, std::vector<std::string>{"disconnect"});
  FakeMqttClient::lose(client, "disconnected");
  sim.advanceMs(120'000);
  EXPECT_EQ(client.calls, std::vector<std::string>{"disconnect"});
  EXPECT_EQ(sim.fdWatch(client.socket), nullptr);
}

}  // namespace
}  // namespace rovalink::mqtt
