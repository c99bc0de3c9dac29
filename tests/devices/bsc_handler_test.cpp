#include "devices/bsc_handler.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <array>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "devices/device_table.h"
#include "platform/sim/sim_platform.h"
#include "settings/recording_services.h"
#include "xap/recording_error_log.h"

namespace rovalink::devices {
namespace {

using Names = std::vector<std::string>;

std::string message(const std::string& cls, const std::string& target, const std::string& section,
                    const std::string& items) {
  std::string text =
      "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=" + cls + "\nsource=acme.controller.host\n";
  if (!target.empty()) text += "target=" + target + "\n";
  return text + "}\n" + section + "\n{\n" + items + (items.empty() ? "" : "\n") + "}\n";
}

class Bsc : public ::testing::Test {
 protected:
  Bsc() {
    handler.setXapSource("qbt.Spykee.SIMHOST");
    handler.setProgramFile("/opt/rovalink/bin/rovalink");
  }
  BscHandler::Wiring wiring(BscHandler::ReportStatusFn report) {
    return {&transport, &held, std::move(report), &services, nullptr};
  }
  // The commands a message queued, as "Procedure|Parameter" joined by blanks.
  // The commands the message added, in queue order (a stop goes to the front).
  std::string queuedBy(const std::string& text) {
    std::vector<std::string> before;
    for (const auto& c : dispatcher.queue().commands())
      before.push_back(c.Procedure + "|" + c.Parameter);
    handler.DispatchBscMessage(text);
    std::string queued;
    for (const auto& c : dispatcher.queue().commands()) {
      const std::string key = c.Procedure + "|" + c.Parameter;
      const auto old = std::find(before.begin(), before.end(), key);
      if (old != before.end()) {
        before.erase(old);
      } else {
        queued += (queued.empty() ? "" : " ") + key;
      }
    }
    return queued;
  }

  platform::SimPlatform sim;
  Devices devices = BuildDeviceTable();
  commands::CommandDispatcher dispatcher{sim.loop(), sim.clock()};
  xap::testing::RecordingSender transport, held;
  testing::RecordingServices services;
  Names reports;
  BscHandler handler{devices, dispatcher, sim.clock(),
                     wiring([this](const std::string& name, bool info) {
                       reports.push_back(info ? name : name + " as an event");
                     })};
};

const std::string kUs = "qbt.Spykee.SIMHOST";
const std::string kHeadLed = kUs + ":spykee.headled.relay";
const std::string kRelays =
    "FileOn| HeadLEDOn| LeftLEDOn| RightLEDOn| DockedOn| VOIPOn| "
    "AudioOn| VideoOn| TurboOn| ConnectedOn|";

TEST_F(Bsc, CommandQueuesOneProcedurePerSelectedDeviceInTableOrder) {
  // Target, body items, what is queued. The ID's letter case matters; four pieces, no colon, an
  // empty subaddress, an unknown device, another vendor or another gateway queue nothing.
  for (const auto& [target, items, expected] : std::vector<std::array<std::string, 3>>{
           {kHeadLed, "ID=1A\nState=ON", "HeadLEDOn|"},
           {kHeadLed, "ID=1A\nState=off", "HeadLEDOff|"},
           {kUs + ":spykee.*.relay", "ID=*\nState=on", kRelays},
           {"qbt.Spykee.*:spykee.*.relay", "ID=*\nState=on", kRelays},
           {"qbt.>:spykee.movestop", "ID=*", "MoveStop|"},
           {kUs + ":Spykee.MoveStop", "ID=0A\nState=off", "MoveStop|"},
           {kUs + ":spykee.file.relay", "ID=19\nState=on\nText=/p/w.txt", "FileOn|/p/w.txt"},
           {kHeadLed, "ID=1a\nState=on", ""},
           {kHeadLed, "ID=01\nState=on", ""},
           {kUs + ":spykee.movement.switch.x", "ID=*", ""},
           {kUs, "ID=*", ""},
           {kUs + ":", "ID=*", ""},
           {kUs + ":spykee.wheel", "ID=*", ""},
           {kUs + ":robot.headled.relay", "ID=*", ""},
           {"qbt.Spykee.otherhost:spykee.leftled.relay", "ID=*\nState=on", ""},
           {"x.y.z:*", "ID=*", ""},
           {"qbt.Spykee.SIMHOST.x:spykee.leftled.relay", "ID=*\nState=on", ""}}) {
    dispatcher.queue().Replace();  // a stop would replace the one queued by an earlier row
    EXPECT_EQ(queuedBy(message("xAPBSC.cmd", target, "output.state.1", items)), expected)
        << target << " " << items;
  }
}

TEST_F(Bsc, StateWordsAreReadWithoutCaseAndToggleInvertsTheDevice) {
  // HeadLED's state before, the State words ("|" between), what each queues; an unreadable or
  // empty State queues nothing and is logged, as is a missing one.
  for (const auto& [before, states, expected] :
       std::vector<std::array<std::string, 3>>{{"0", "On|TRUE|yes|1|toggle", "HeadLEDOn|"},
                                               {"1", "OFF|false|No|0|Toggle", "HeadLEDOff|"},
                                               {"1", "|dim|onn", ""}}) {
    std::istringstream words(states);
    for (std::string state; std::getline(words, state, '|');) {
      devices.at("HeadLED").Status = before == "1";
      services.events.clear();
      EXPECT_EQ(
          queuedBy(message("xAPBSC.cmd", kHeadLed, "output.state.1", "ID=1A\nState=" + state)),
          expected)
          << before << " " << state;
      EXPECT_EQ(services.events.size(), expected.empty() ? 1u : 0u) << state;
    }
  }
  services.events.clear();
  EXPECT_EQ(queuedBy(message("xAPBSC.cmd", kHeadLed, "output.state.1", "ID=1A")), "");
  EXPECT_EQ(services.events.size(), 1u);
}

TEST_F(Bsc, IndexDevicesTakeALevelScaledOntoTheirRange) {
  // Device, items, what is queued. A number in Text wins; without either, nothing is queued.
  for (const auto& [device, items, expected] : std::vector<std::array<std::string, 3>>{
           {"volume.index", "ID=17\nLevel=60/100", "Volume|60"},
           {"volume.index", "ID=17\nLevel=1/3", "Volume|33"},
           {"volume.index", "ID=17\nLevel=300/255", "Volume|100"},
           {"speed.index", "ID=18\nLevel=0/10", "Speed|1"},
           {"speed.index", "ID=18\nLevel=10/10", "Speed|99"},
           {"volume.index", "ID=17\nText=40\nLevel=60/100", "Volume|40"},
           {"volume.index", "ID=17", ""},
           {"volume.index", "ID=17\nLevel=60", ""},
           {"volume.index", "ID=17\nLevel=6/0", ""},
           {"volume.index", "ID=17\nText=loud", ""}}) {
    services.events.clear();
    EXPECT_EQ(queuedBy(message("xAPBSC.cmd", kUs + ":spykee." + device, "output.state.1", items)),
              expected)
        << items;
    EXPECT_EQ(services.events.size(), expected.empty() ? 1u : 0u) << items;
  }
}

TEST_F(Bsc, NumericTextIsADurationThatStampsTheNextCommand) {
  sim.setLocalDateTime({2026, 12, 6, 12, 0, 0});
  const double noon = 12 * 3600.0;
  queuedBy(message("xAPBSC.cmd", kUs + ":spykee.>", "output.state.1", "ID=17\nText=40"));
  // A block without index is read when there is no indexed one.
  EXPECT_EQ(queuedBy(message("xAPBSC.cmd", kUs + ":spykee.video.relay", "output.state",
                             "ID=20\nState=ON\nText=2.5")),
            "VideoOn|2.5");
  EXPECT_EQ(dispatcher.queue().commands()[0].TimeStamp, 0.0);  // nothing came before it
  EXPECT_DOUBLE_EQ(dispatcher.queue().commands()[1].TimeStamp, noon + 40);
  EXPECT_DOUBLE_EQ(handler.NextCommandTime(), noon + 2.5);
  queuedBy(message("xAPBSC.cmd", kUs + ":spykee.movestop", "output.state.1", "ID=0A"));
  EXPECT_EQ(dispatcher.queue().front().Procedure, "MoveStop");  // goes first
  EXPECT_EQ(dispatcher.queue().front().TimeStamp, 0.0);
  EXPECT_DOUBLE_EQ(handler.NextCommandTime(), noon);
}

TEST_F(Bsc, QueryIsAnsweredForEveryMatchingDeviceInTableOrder) {
  // Target; how many answers, the first and the last. Pieces beyond three are dropped.
  for (const auto& [target, expected] : std::vector<std::array<std::string, 2>>{
           {"qbt.Spykee.SIMHOST:>", "34 LoginSequence Connected"},
           {"qbt.Spykee.SIMHOST:", "34 LoginSequence Connected"},
           {"qbt.Spykee.SIMHOST:spykee.*.relay", "10 File Connected"},
           {"qbt.Spykee.SIMHOST:spykee.*.index", "2 Volume Speed"},
           {"qbt.Spykee.SIMHOST:spykee.battery", "1 Battery Battery"},
           {"qbt.Spykee.SIMHOST:spykee.volume.index.x", "1 Volume Volume"},
           {"qbt.Spykee.SIMHOST", "0"},
           {"acme.other.box:spykee.battery.switch", "0"},
           {"qbt.*.SIMHOST:spykee.battery", "1 Battery Battery"},
           {"qbt.Spykee.SIMHOST:other.>", "0"}}) {
    reports.clear();
    handler.DispatchBscMessage(message("xAPBSC.query", target, "request", ""));
    EXPECT_EQ(std::to_string(reports.size()) +
                  (reports.empty() ? "" : " " + reports.front() + " " + reports.back()),
              expected)
        << target;
  }
}

// A role query for us or any is answered at once with the program path; an echo meant for us is
// answered in lower case through the held sender.
TEST_F(Bsc, RoleAndEchoQueriesMeantForUsAreAnsweredEachThroughItsSender) {
  for (const std::string role : {"Any", "Computer Management", "Controller", ""})
    handler.DispatchBscMessage(message("Homeseer.Role", "", "Role.Query", "Role=" + role));
  for (const auto& [target, items] :
       std::vector<std::array<std::string, 2>>{{"", "Query=Hello"},
                                               {"qbt.Spykee.SIMHOST", "Query=B"},
                                               {"qbt.*.SIMHOST", "Query=C"},
                                               {"acme.other.host", "Query=D"},
                                               {"", "Other=E"}})
    handler.DispatchBscMessage(message("WDT.Echo", target, "Echo.Query", items));
  EXPECT_EQ(transport.sent,
            Names(2,
                  "|Homeseer.Role|Role.Notification|Role=Interface;Path=/opt/rovalink/bin/"
                  "rovalink||FF.0065:00"));
  const std::string reply = "acme.controller.host|WDT.Echo|Echo.Response|Response=";
  EXPECT_EQ(held.sent,
            (Names{reply + "hello||FF.0065:00", reply + "b||FF.0065:00", reply + "c||FF.0065:00"}));
}

TEST_F(Bsc, TimeTodayKeepsSunriseAndSunset) {
  handler.DispatchBscMessage(
      message("Time.Today", "any.one", "Time.Today", "Sunrise=07:12\nSunset=16:48"));
  EXPECT_EQ(handler.SunriseText(), "07:12");
  EXPECT_EQ(handler.SunsetText(), "16:48");
  handler.DispatchBscMessage(message("Time.Today", "", "Time.Today", "Sunrise=07:13"));
  EXPECT_EQ(handler.SunriseText(), "07:13");
  EXPECT_EQ(handler.SunsetText(), "Unknown");
}

TEST_F(Bsc, OtherClassesTextsWithoutSourceAndGarbageDoNothing) {
  std::string noSource = message("xAPBSC.query", "qbt.Spykee.SIMHOST:>", "request", "");
  noSource.replace(noSource.find("source="), 7, "origin=");
  for (const std::string& text :
       {noSource, message("xAPBSC.event", "qbt.Spykee.SIMHOST:>", "output.state", "ID=*"),
        std::string("source=\n\n{{{}}}"), std::string("xap-header\n{\nsource=\0x\n}\n", 25)}) {
    handler.DispatchBscMessage(text);
  }
  EXPECT_TRUE(reports.empty() && dispatcher.queue().empty());
  EXPECT_TRUE(transport.sent.empty() && held.sent.empty());
}

TEST_F(Bsc, FailingReportIsLoggedAsQueryEventAndTheNextMessageIsHandled) {
  int calls = 0;
  BscHandler failing(devices, dispatcher, sim.clock(), wiring([&](const std::string&, bool) {
                       if (++calls == 1) throw std::runtime_error("send failed");
                     }));
  failing.setXapSource("qbt.Spykee.SIMHOST");
  failing.DispatchBscMessage(message("xAPBSC.query", "qbt.Spykee.SIMHOST:>", "request", ""));
  ASSERT_EQ(services.events.size(), 1u);
  EXPECT_EQ(services.events[0].second, "BSCQuery");
  EXPECT_EQ(services.events[0].description, "send failed");
  failing.DispatchBscMessage(message("xAPBSC.query", "qbt.Spykee.SIMHOST:>", "request", ""));
  EXPECT_EQ(calls, 1 + 34);
}

}  // namespace
}  // namespace rovalink::devices
