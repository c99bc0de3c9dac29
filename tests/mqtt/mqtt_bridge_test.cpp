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

using testing::FakeHostResolver;
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
  void receive(const std::string& topic, const std::string& payload, bool retained = false) {
    client.onRead = [=, this] { client.callbacks.onMessage(topic, payload, retained); };
    sim.makeReadable(client.socket);
    sim.advanceMs(0);
  }
  std::vector<std::string> eventTexts() const {
    std::vector<std::string> texts;
    for (const auto& e : services.events) texts.push_back(e.second);
    return texts;
  }
  std::string lastTo(const std::string& topic) const {
    for (auto p = client.published.rbegin(); p != client.published.rend(); ++p)
      if (p->topic == topic) return p->payload;
    return "(none)";
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
  FakeHostResolver::Shared names;
  robot::RobotState robot;
  MqttBridge bridge{
      {sim, services, devices, robot,
       [this](const std::string& target, const std::string& id, const std::string& state,
              const std::string& text) { bsc.HandleBscCommand(target, id, state, text); },
       "qbt.Spykee.lab", "1.0.0"},
      labSettings(),
      std::make_unique<FakeMqttClient>(client),
      std::make_unique<FakeHostResolver>(names)};
};

TEST_F(Bridge, ConnectsWithoutWaitingThenPublishesAvailabilityDiscoveryAndEveryState) {
  EXPECT_EQ(client.calls, std::vector<std::string>{"connect 10.0.0.2"}) << "the looked-up address";
  EXPECT_EQ(client.willTopic, "rovalink/lab/status");
  EXPECT_EQ(client.willPayload, "offline");
  ASSERT_NE(sim.fdWatch(client.socket), nullptr);
  EXPECT_TRUE(client.published.empty()) << "nothing before the broker accepted";

  accept();
  ASSERT_FALSE(client.published.empty());
  EXPECT_EQ(client.published.front().topic, "rovalink/lab/status");
  EXPECT_EQ(client.published.front().payload, "online");
  EXPECT_EQ(client.subscribed,
            (std::vector<std::string>{"rovalink/lab/+/set", "rovalink/lab/status"}));
  const std::size_t configs = HaEntities(devices, 2).size();
  ASSERT_EQ(client.published.size(), 1 + configs + 2 + devices.size());  // + robot, link
  EXPECT_TRUE(std::all_of(client.published.begin(), client.published.end(),
                          [](const auto& p) { return p.retain; }));
  EXPECT_EQ(client.published[1].qos, 1) << "discovery at QoS 1";
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
      {"Volume", "40.5", "Volume|41"},
      {"Speed", "73", "Speed|49"},
      {"Speed", "122.6", "Speed|99"},
      {"Speed", R"({"state":"ON","text":"73"})", "Speed|49"},
      {"Volume", R"({"state":"ON","text":40.4})", "Volume|40"},
      {"Volume", R"({"state":"ON","text":"-5"})", ""},
      {"Volume", R"({"state":"ON","text":"NaN"})", ""},
      {"Volume", R"({"state":"ON","text":1e308})", ""},
      {"Speed", R"({"state":"ON","text":9999})", ""},
      {"Speed", "123.5", ""},
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
  EXPECT_TRUE(client.published[0].retain) << "a picture for Home Assistant after its restart";
}

TEST_F(Bridge, NothingIsShownAsMeasuredBeforeTheRobotHasSaidIt) {
  accept();
  constexpr const char* kNull = R"({"state":null,"value":null})";
  for (const char* device : {"Battery", "Docked", "Movement", "Volume", "Speed"})
    EXPECT_EQ(lastTo("rovalink/lab/" + std::string(device) + "/state"), kNull) << device;
  EXPECT_EQ(lastTo("rovalink/lab/robot"), "offline");
  EXPECT_EQ(lastTo("rovalink/lab/link"), "searching");

  // The robot logs in and reports its level; the status refresh sets the devices; the link
  // status changes without a report and is caught up within a keep-alive period.
  robot.LoggedIn = true;
  robot.BatteryReported = true;
  robot.BatteryLevel = 100;
  robot.Status = robot::LinkStatus::LoggedIn;
  devices.at("Battery").Status = true;
  devices.at("Battery").Value = 100;
  devices.at("Speed").Value = 73;
  devices.at("Connected").Status = true;
  bridge.onReport("Connected");
  EXPECT_EQ(lastTo("rovalink/lab/Battery/state"), R"({"level":100,"state":"ON","value":78})");
  EXPECT_EQ(lastTo("rovalink/lab/Speed/state"), R"({"state":"OFF","value":73})");
  EXPECT_EQ(lastTo("rovalink/lab/Docked/state"), R"({"state":"OFF","value":0})");
  EXPECT_EQ(lastTo("rovalink/lab/robot"), "online");
  robot.Status = robot::LinkStatus::Refused;
  sim.advanceMs(MqttBridge::kMiscIntervalMs);
  EXPECT_EQ(lastTo("rovalink/lab/link"), "refused");
}

TEST_F(Bridge, RetainedCommandsAndAnotherGatewaysPresenceAreToldOnceAndNeverObeyed) {
  accept();
  receive("rovalink/lab/status", "online", true);  // someone else's, from before we came
  receive("rovalink/lab/MoveForward/set", "PRESS", true);
  receive("rovalink/lab/HeadLED/set", "ON", true);
  EXPECT_TRUE(dispatcher.queue().commands().empty());
  EXPECT_EQ(eventTexts(),
            (std::vector<std::string>{
                "MQTT connected to broker:1883",
                "MQTT: another gateway is already online under rovalink/lab; give each its own "
                "BaseTopic",
                "MQTT command on rovalink/lab/MoveForward/set ignored: retained (an old message; "
                "later ones are not reported)"}));
  receive("rovalink/lab/MoveForward/set", "PRESS");
  EXPECT_EQ(queued(), "MoveForward|") << "a live command still works";
}

TEST_F(Bridge, ABrokerNameWithoutAnswerNeverHoldsTheLoopAndIsGivenUpInTime) {
  // A fresh bridge whose broker name the name server never answers.
  names.table.clear();
  FakeMqttClient::Shared quiet;
  MqttBridge slow{{sim, services, devices, robot, nullptr, "qbt.Spykee.lab", "1.0.0"},
                  labSettings(),
                  std::make_unique<FakeMqttClient>(quiet),
                  std::make_unique<FakeHostResolver>(names)};
  slow.start();
  EXPECT_EQ(names.pending, "broker");
  sim.advanceMs(MqttBridge::kLookupTimeoutMs);
  EXPECT_TRUE(quiet.calls.empty()) << "no connection without an address";
  EXPECT_EQ(names.cancels, 1);
  EXPECT_EQ(eventTexts().back(),
            "MQTT broker broker:1883 unreachable: no answer to the lookup of broker; retrying");
  sim.advanceMs(MqttBridge::kFirstRetryMs);
  ASSERT_EQ(names.pending, "broker") << "asked again";
  slow.stop();
  EXPECT_EQ(names.cancels, 2) << "stop drops the lookup at once";
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
