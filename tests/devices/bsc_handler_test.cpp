#include "devices/bsc_handler.h"

#include <gtest/gtest.h>

#include <array>
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
  // The one command a message queued as "Procedure|Parameter", else how many it queued.
  std::string queuedBy(const std::string& text) {
    const std::size_t before = dispatcher.queue().size();
    handler.DispatchBscMessage(text);
    const auto& queue = dispatcher.queue().commands();
    if (queue.size() != before + 1) return std::to_string(queue.size() - before) + " queued";
    return queue.back().Procedure + "|" + queue.back().Parameter;
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

const std::string kHeadLed = "a.b.c:spykee.headled.relay";

TEST_F(Bsc, CommandQueuesTheProcedureOfTheFirstMatchingDeviceOnly) {
  // Target, body items, what is queued. Table order decides among several matching devices;
  // the ID's letter case matters; four pieces, no colon, an empty subaddress, an unknown device
  // or another vendor queue nothing.
  for (const auto& [target, items, expected] : std::vector<std::array<std::string, 3>>{
           {kHeadLed, "ID=1A\nState=ON", "HeadLEDOn|"},
           {kHeadLed, "ID=1A\nState=on", "HeadLEDOn|"},
           {kHeadLed, "ID=1A\nState=off", "HeadLEDOff|"},
           {kHeadLed, "ID=1A\nState=toggle", "HeadLEDOff|"},
           {"x.y.z:*", "ID=*", "LoginSequence|"},
           {"a.b.c:spykee.*.relay", "ID=*\nState=on", "FileOn|"},
           {"a.b.c:Spykee.MoveStop", "ID=0A\nState=off", "MoveStop|"},
           {"a.b.c:spykee.file.relay", "ID=19\nState=on\nText=/p/w.txt", "FileOn|/p/w.txt"},
           {kHeadLed, "ID=1a\nState=on", "0 queued"},
           {kHeadLed, "ID=01\nState=on", "0 queued"},
           {"a.b.c:spykee.movement.switch.x", "ID=*", "0 queued"},
           {"a.b.c", "ID=*", "0 queued"},
           {"a.b.c:", "ID=*", "0 queued"},
           {"a.b.c:spykee.wheel", "ID=*", "0 queued"},
           {"a.b.c:robot.headled.relay", "ID=*", "0 queued"}}) {
    EXPECT_EQ(queuedBy(message("xAPBSC.cmd", target, "output.state.1", items)), expected)
        << target << " " << items;
  }
}

TEST_F(Bsc, NumericTextIsADurationThatStampsTheNextCommand) {
  sim.setLocalDateTime({2026, 12, 6, 12, 0, 0});
  const double noon = 12 * 3600.0;
  queuedBy(message("xAPBSC.cmd", "a.b.c:spykee.>", "output.state.1", "ID=17\nText=40"));
  // A block without index is read when there is no indexed one.
  EXPECT_EQ(queuedBy(message("xAPBSC.cmd", "a.b.c:spykee.video.relay", "output.state",
                             "ID=20\nState=ON\nText=2.5")),
            "VideoOn|2.5");
  EXPECT_EQ(dispatcher.queue().commands()[0].TimeStamp, 0.0);  // nothing came before it
  EXPECT_DOUBLE_EQ(dispatcher.queue().commands()[1].TimeStamp, noon + 40);
  EXPECT_DOUBLE_EQ(handler.NextCommandTime(), noon + 2.5);
  queuedBy(message("xAPBSC.cmd", kHeadLed, "output.state.1", "ID=1A"));
  EXPECT_EQ(dispatcher.queue().commands()[2].TimeStamp, 0.0);
  EXPECT_DOUBLE_EQ(handler.NextCommandTime(), noon);
}

TEST_F(Bsc, QueryIsAnsweredForEveryMatchingDeviceInTableOrder) {
  // Target; how many answers, the first and the last. Pieces beyond three are dropped.
  for (const auto& [target, expected] :
       std::vector<std::array<std::string, 2>>{{"a.b.c:>", "34 LoginSequence Connected"},
                                               {"a.b.c:", "34 LoginSequence Connected"},
                                               {"a.b.c:spykee.*.relay", "10 File Connected"},
                                               {"a.b.c:spykee.*.index", "2 Volume Speed"},
                                               {"a.b.c:spykee.battery", "1 Battery Battery"},
                                               {"a.b.c:spykee.volume.index.x", "1 Volume Volume"},
                                               {"a.b.c", "0"},
                                               {"a.b.c:other.>", "0"}}) {
    reports.clear();
    handler.DispatchBscMessage(message("xAPBSC.query", target, "request", ""));
    EXPECT_EQ(std::to_string(reports.size()) +
                  (reports.empty() ? "" : " " + reports.front() + " " + reports.back()),
              expected)
        << target;
  }
}

TEST_F(Bsc, RoleQueryForUsOrAnyIsAnsweredAtOnceWithTheProgramPath) {
  for (const std::string role : {"Any", "Computer Management", "Controller", ""}) {
    handler.DispatchBscMessage(message("Homeseer.Role", "", "Role.Query", "Role=" + role));
  }
  const std::string reply =
      "|Homeseer.Role|Role.Notification|Role=Interface;Path=/opt/rovalink/bin/rovalink||FF.0065:00";
  EXPECT_EQ(transport.sent, Names(2, reply));
  EXPECT_TRUE(held.sent.empty());
}

TEST_F(Bsc, EchoMeantForUsIsAnsweredInLowerCaseThroughTheHeldSender) {
  handler.DispatchBscMessage(message("WDT.Echo", "", "Echo.Query", "Query=Hello"));
  handler.DispatchBscMessage(message("WDT.Echo", "qbt.Spykee.SIMHOST", "Echo.Query", "Query=B"));
  handler.DispatchBscMessage(message("WDT.Echo", "qbt.*.SIMHOST", "Echo.Query", "Query=C"));
  handler.DispatchBscMessage(message("WDT.Echo", "acme.other.host", "Echo.Query", "Query=D"));
  handler.DispatchBscMessage(message("WDT.Echo", "", "Echo.Query", "Other=E"));
  const std::string reply = "acme.controller.host|WDT.Echo|Echo.Response|Response=";
  EXPECT_EQ(held.sent,
            (Names{reply + "hello||FF.0065:00", reply + "b||FF.0065:00", reply + "c||FF.0065:00"}));
  EXPECT_TRUE(transport.sent.empty());
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
  std::string noSource = message("xAPBSC.query", "a.b.c:>", "request", "");
  noSource.replace(noSource.find("source="), 7, "origin=");
  for (const std::string& text :
       {noSource, message("xAPBSC.event", "a.b.c:>", "output.state", "ID=*"),
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
  failing.DispatchBscMessage(message("xAPBSC.query", "a.b.c:>", "request", ""));
  ASSERT_EQ(services.events.size(), 1u);
  EXPECT_EQ(services.events[0].second, "BSCQuery");
  EXPECT_EQ(services.events[0].description, "send failed");
  failing.DispatchBscMessage(message("xAPBSC.query", "a.b.c:>", "request", ""));
  EXPECT_EQ(calls, 1 + 34);
}

}  // namespace
}  // namespace rovalink::devices
