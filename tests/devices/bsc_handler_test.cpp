#include "devices/bsc_handler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "devices/device_table.h"
#include "platform/sim/sim_platform.h"
#include "settings/recording_services.h"
#include "xap/xap_sender.h"
#include "xap/xap_transport.h"

namespace rovalink::devices {
namespace {

using Names = std::vector<std::string>;

class RecordingSender : public xap::XapSender {
 public:
  struct Sent {
    std::string target, cls, section, data, subAddress, uid;
  };
  std::string SendXap(const std::string& sTarget, const std::string& sClass,
                      const std::string& sSection, const std::string& sData,
                      const std::string& sSubaddress, const std::string& sUID) override {
    sent.push_back({sTarget, sClass, sSection, sData, sSubaddress, sUID});
    return {};
  }
  std::vector<Sent> sent;
};

// "name=value" lines of a body section.
std::string message(const std::string& cls, const std::string& target, const std::string& section,
                    const std::vector<std::string>& items) {
  std::string text =
      "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=" + cls + "\nsource=acme.controller.host\n";
  if (!target.empty()) text += "target=" + target + "\n";
  text += "}\n" + section + "\n{\n";
  for (const auto& item : items) text += item + "\n";
  return text + "}\n";
}

std::string unpacked(const std::string& data) {
  std::string out;
  for (const auto& item : xap::UnpackItems(data)) {
    out += std::string(item.name) + "=" + std::string(item.value) + ";";
  }
  return out;
}

class Bsc : public ::testing::Test {
 protected:
  Bsc()
      : devices(BuildDeviceTable()),
        dispatcher(sim.loop(), sim.clock()),
        handler(devices, dispatcher, sim.clock(),
                BscHandler::Wiring{&transport, &held,
                                   [this](const std::string& name, bool isInfo) {
                                     reports.push_back(name + (isInfo ? "/info" : "/event"));
                                   },
                                   &services, nullptr}) {
    handler.setXapSource("qbt.Spykee.SIMHOST");
    handler.setProgramFile("/opt/rovalink/bin/rovalink");
  }

  void command(const std::string& target, const std::string& section,
               const std::vector<std::string>& items) {
    handler.DispatchBscMessage(message("xAPBSC.cmd", target, section, items));
  }
  void query(const std::string& target) {
    handler.DispatchBscMessage(message("xAPBSC.query", target, "request", {}));
  }

  Names queuedNames() const {
    Names names;
    for (const auto& c : dispatcher.queue().commands()) names.push_back(c.Procedure);
    return names;
  }
  const commands::Command& only() const {
    EXPECT_EQ(dispatcher.queue().size(), 1u);
    return dispatcher.queue().front();
  }

  platform::SimPlatform sim;
  Devices devices;
  commands::CommandDispatcher dispatcher;
  RecordingSender transport;
  RecordingSender held;
  testing::RecordingServices services;
  Names reports;
  BscHandler handler;
};

// ---- Commands -------------------------------------------------------------------------------

struct RelayCase {
  std::string state;
  std::string procedure;
};

class BscRelay : public Bsc, public ::testing::WithParamInterface<RelayCase> {};

TEST_P(BscRelay, RelayStateChoosesOnOrOff) {
  command("acme.robot.host:spykee.headled.relay", "output.state.1",
          {"ID=1A", "State=" + GetParam().state});
  EXPECT_EQ(only().Procedure, GetParam().procedure);
  EXPECT_EQ(only().Parameter, "");
  EXPECT_EQ(only().TimeStamp, 0.0);
}

INSTANTIATE_TEST_SUITE_P(States, BscRelay,
                         ::testing::Values(RelayCase{"on", "HeadLEDOn"},
                                           RelayCase{"ON", "HeadLEDOn"},
                                           RelayCase{"off", "HeadLEDOff"},
                                           RelayCase{"toggle", "HeadLEDOff"}));

TEST_F(Bsc, WildcardTargetAndIdSelectTheFirstDevice) {
  command("any.thing.else:*", "output.state.1", {"ID=*"});
  EXPECT_EQ(queuedNames(), Names{"LoginSequence"});
}

TEST_F(Bsc, NumericTextIsADurationThatStampsTheNextCommand) {
  sim.setLocalDateTime({2026, 12, 6, 12, 0, 0});
  const double noon = 12 * 3600.0;
  command("a.b.c:spykee.>", "output.state.1", {"ID=17", "Text=40"});
  EXPECT_EQ(only().Procedure, "Volume");
  EXPECT_EQ(only().Parameter, "40");
  EXPECT_EQ(only().TimeStamp, 0.0);  // the previous NextCommandTime: 0 after start-up
  EXPECT_DOUBLE_EQ(handler.NextCommandTime(), noon + 40);

  // The next numeric command starts where the last one said it would end.
  command("a.b.c:spykee.>", "output.state.1", {"ID=17", "Text=2.5"});
  ASSERT_EQ(dispatcher.queue().size(), 2u);
  EXPECT_DOUBLE_EQ(dispatcher.queue().commands()[1].TimeStamp, noon + 40);
  EXPECT_DOUBLE_EQ(handler.NextCommandTime(), noon + 2.5);
}

TEST_F(Bsc, NonNumericTextIsAParameterWithoutTiming) {
  sim.setLocalDateTime({2026, 12, 6, 12, 0, 0});
  command("a.b.c:spykee.file.relay", "output.state.1", {"ID=19", "State=on", "Text=/p/walk.txt"});
  EXPECT_EQ(only().Procedure, "FileOn");
  EXPECT_EQ(only().Parameter, "/p/walk.txt");
  EXPECT_EQ(only().TimeStamp, 0.0);
  EXPECT_DOUBLE_EQ(handler.NextCommandTime(), 12 * 3600.0);
}

TEST_F(Bsc, BlockWithoutIndexIsReadWhenTheIndexedOneIsAbsent) {
  command("a.b.c:spykee.video.relay", "output.state", {"ID=20", "State=ON", "Text=3"});
  EXPECT_EQ(only().Procedure, "VideoOn");
  EXPECT_EQ(only().Parameter, "3");
}

struct IgnoredCase {
  std::string name;
  std::string target;
  std::string id;
};

class BscIgnored : public Bsc, public ::testing::WithParamInterface<IgnoredCase> {};

TEST_P(BscIgnored, CommandQueuesNothing) {
  command(GetParam().target, "output.state.1", {"ID=" + GetParam().id, "State=on"});
  EXPECT_TRUE(dispatcher.queue().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, BscIgnored,
    ::testing::Values(IgnoredCase{"FourPieces", "a.b.c:spykee.movement.switch.extra", "*"},
                      IgnoredCase{"IdCaseMatters", "a.b.c:spykee.headled.relay", "1a"},
                      IgnoredCase{"NoColon", "a.b.c", "*"},
                      IgnoredCase{"EmptySubAddress", "a.b.c:", "*"},
                      IgnoredCase{"NoSuchDevice", "a.b.c:spykee.wheel", "*"},
                      IgnoredCase{"IdOfAnotherDevice", "a.b.c:spykee.headled.relay", "01"},
                      IgnoredCase{"OtherVendorPart", "a.b.c:robot.headled.relay", "*"}),
    [](const auto& p) { return p.param.name; });

TEST_F(Bsc, OnlyTheFirstMatchingDeviceIsCommanded) {
  // Every relay matches: "File" comes first in table order.
  command("a.b.c:spykee.*.relay", "output.state.1", {"ID=*", "State=on"});
  EXPECT_EQ(queuedNames(), Names{"FileOn"});
}

TEST_F(Bsc, NonRelayNameIsQueuedWhateverItsState) {
  command("a.b.c:Spykee.MoveStop", "output.state.1", {"ID=0A", "State=off"});
  EXPECT_EQ(queuedNames(), Names{"MoveStop"});
}

// ---- Queries --------------------------------------------------------------------------------

TEST_F(Bsc, QueryForAllRelaysReportsTheTenRelaysInTableOrder) {
  query("a.b.c:spykee.*.relay");
  EXPECT_EQ(reports,
            (Names{"File/info", "HeadLED/info", "LeftLED/info", "RightLED/info", "Docked/info",
                   "VOIP/info", "Audio/info", "Video/info", "Turbo/info", "Connected/info"}));
}

struct QueryCountCase {
  std::string name;
  std::string target;
  std::size_t reported;
};

class BscQueryCount : public Bsc, public ::testing::WithParamInterface<QueryCountCase> {};

TEST_P(BscQueryCount, ReportsEveryMatchingDevice) {
  query(GetParam().target);
  EXPECT_EQ(reports.size(), GetParam().reported);
}

INSTANTIATE_TEST_SUITE_P(Targets, BscQueryCount,
                         ::testing::Values(QueryCountCase{"Rest", "a.b.c:>", 34},
                                           QueryCountCase{"EmptySubAddress", "a.b.c:", 34},
                                           QueryCountCase{"NoColon", "a.b.c", 0},
                                           QueryCountCase{"OneDevice", "a.b.c:spykee.battery", 1},
                                           QueryCountCase{"ExtraPiecesDropped",
                                                          "a.b.c:spykee.volume.index.x", 1},
                                           QueryCountCase{"Index", "a.b.c:spykee.*.index", 2},
                                           QueryCountCase{"OtherVendor", "a.b.c:other.>", 0}),
                         [](const auto& p) { return p.param.name; });

// ---- Other services -------------------------------------------------------------------------

struct RoleCase {
  std::string role;
  bool answered;
};

class BscRole : public Bsc, public ::testing::WithParamInterface<RoleCase> {};

TEST_P(BscRole, AnswersComputerManagementAndAnyOnly) {
  handler.DispatchBscMessage(
      message("Homeseer.Role", "", "Role.Query", {"Role=" + GetParam().role}));
  ASSERT_EQ(transport.sent.size(), GetParam().answered ? 1u : 0u);
  if (!GetParam().answered) return;
  const auto& sent = transport.sent[0];
  EXPECT_EQ(sent.target, "");
  EXPECT_EQ(sent.cls, "Homeseer.Role");
  EXPECT_EQ(sent.section, "Role.Notification");
  EXPECT_EQ(unpacked(sent.data), "Role=Interface;Path=/opt/rovalink/bin/rovalink;");
  EXPECT_EQ(sent.subAddress, "");
  EXPECT_EQ(sent.uid, "FF.0065:00");
  EXPECT_TRUE(held.sent.empty());
}

INSTANTIATE_TEST_SUITE_P(Roles, BscRole,
                         ::testing::Values(RoleCase{"Any", true},
                                           RoleCase{"Computer Management", true},
                                           RoleCase{"Controller", false}, RoleCase{"", false}));

struct EchoCase {
  std::string name;
  std::string target;
  std::string query;
  bool answered;
  std::string response = {};
};

class BscEcho : public Bsc, public ::testing::WithParamInterface<EchoCase> {};

TEST_P(BscEcho, AnswersEchoesMeantForUs) {
  handler.DispatchBscMessage(
      message("WDT.Echo", GetParam().target, "Echo.Query", {"Query=" + GetParam().query}));
  ASSERT_EQ(held.sent.size(), GetParam().answered ? 1u : 0u);
  if (!GetParam().answered) return;
  EXPECT_EQ(held.sent[0].target, "acme.controller.host");
  EXPECT_EQ(held.sent[0].cls, "WDT.Echo");
  EXPECT_EQ(held.sent[0].section, "Echo.Response");
  EXPECT_EQ(unpacked(held.sent[0].data), "Response=" + GetParam().response + ";");
  EXPECT_TRUE(transport.sent.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Echoes, BscEcho,
    ::testing::Values(EchoCase{"NoTarget", "", "Hello", true, "hello"},
                      EchoCase{"OurSource", "qbt.Spykee.SIMHOST", "ping", true, "ping"},
                      EchoCase{"Wildcard", "qbt.*.SIMHOST", "PING", true, "ping"},
                      EchoCase{"SomeoneElse", "acme.other.host", "ping", false}),
    [](const auto& p) { return p.param.name; });

TEST_F(Bsc, EchoWithoutQueryIsNotAnswered) {
  handler.DispatchBscMessage(message("WDT.Echo", "", "Echo.Query", {"Other=1"}));
  EXPECT_TRUE(held.sent.empty());
}

TEST_F(Bsc, TimeTodayKeepsSunriseAndSunset) {
  handler.DispatchBscMessage(
      message("Time.Today", "any.one", "Time.Today", {"Sunrise=07:12", "Sunset=16:48"}));
  EXPECT_EQ(handler.SunriseText(), "07:12");
  EXPECT_EQ(handler.SunsetText(), "16:48");
  handler.DispatchBscMessage(message("Time.Today", "", "Time.Today", {"Sunrise=07:13"}));
  EXPECT_EQ(handler.SunriseText(), "07:13");
  EXPECT_EQ(handler.SunsetText(), "Unknown");
}

TEST_F(Bsc, TextWithoutSourceIsIgnored) {
  std::string text = message("xAPBSC.query", "a.b.c:>", "request", {});
  text.replace(text.find("source="), 7, "origin=");
  handler.DispatchBscMessage(text);
  EXPECT_TRUE(reports.empty());
}

TEST_F(Bsc, OtherClassesAndGarbageDoNothing) {
  handler.DispatchBscMessage(message("xAPBSC.event", "a.b.c:>", "output.state", {"ID=*"}));
  handler.DispatchBscMessage("source=\n\n{{{}}}");
  handler.DispatchBscMessage(std::string("xap-header\n{\nsource=\0x\n}\n", 25));
  EXPECT_TRUE(reports.empty());
  EXPECT_TRUE(dispatcher.queue().empty());
  EXPECT_TRUE(transport.sent.empty());
  EXPECT_TRUE(held.sent.empty());
}

TEST_F(Bsc, FailingReportIsLoggedAsQueryEventAndTheNextMessageIsHandled) {
  Devices localDevices = BuildDeviceTable();
  int calls = 0;
  BscHandler failing(localDevices, dispatcher, sim.clock(),
                     BscHandler::Wiring{&transport, &held,
                                        [&](const std::string&, bool) {
                                          if (++calls == 1) throw std::runtime_error("send failed");
                                        },
                                        &services, nullptr});
  failing.DispatchBscMessage(message("xAPBSC.query", "a.b.c:>", "request", {}));
  ASSERT_EQ(services.events.size(), 1u);
  EXPECT_EQ(services.events[0].first, "xapqbtSpykee");
  EXPECT_EQ(services.events[0].second, "BSCQuery");
  EXPECT_EQ(services.events[0].description, "send failed");
  failing.DispatchBscMessage(message("xAPBSC.query", "a.b.c:>", "request", {}));
  EXPECT_EQ(calls, 1 + 34);
}

}  // namespace
}  // namespace rovalink::devices
