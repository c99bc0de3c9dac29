#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/sim_platform.h"
#include "settings/hs.h"
#include "settings/test_folder.h"
#include "xap/packed_items.h"
#include "xap/xap_helpers.h"
#include "xap/xap_message.h"
#include "xap/xap_transport.h"

namespace rovalink::xap {
namespace {

struct Sent {
  std::string target, cls, section, data, subaddress, uid;
};

class RecordingSender : public XapSender {
 public:
  std::string SendXap(const std::string& sTarget, const std::string& sClass,
                      const std::string& sSection, const std::string& sData,
                      const std::string& sSubaddress, const std::string& sUID) override {
    sent.push_back({sTarget, sClass, sSection, sData, sSubaddress, sUID});
    if (duringSend) duringSend(sent.back());
    return failWith;
  }
  std::vector<Sent> sent;
  std::function<void(const Sent&)> duringSend;
  std::string failWith;
};

std::vector<std::string> classes(const std::vector<Sent>& sent) {
  std::vector<std::string> result;
  for (const Sent& s : sent) result.push_back(s.cls);
  return result;
}

class XapHelpersSend : public ::testing::Test {
 protected:
  XapHelpersSend() { helpers.setSender(&sender); }

  platform::SimPlatform sim;
  XapHelpers helpers{sim.clock(), sim.host()};
  RecordingSender sender;
};

TEST_F(XapHelpersSend, HeldMessagesGoOutOldestFirstAheadOfTheFirstSendWhenReady) {
  helpers.SendXapMessage("", "held.1", "s", "");
  helpers.LogEvent("xapqbtSpykee", "settings complaint");
  helpers.SendXapMessage("", "held.3", "s", "");
  EXPECT_TRUE(sender.sent.empty());
  EXPECT_EQ(helpers.PendingMessages().size(), 3u);

  helpers.setXapReady(true);
  EXPECT_TRUE(sender.sent.empty());  // nothing moves until the next send
  helpers.SendXapMessage("", "now", "s", "");
  EXPECT_EQ(classes(sender.sent),
            (std::vector<std::string>{"held.1", "Homeseer.Event", "held.3", "now"}));
  EXPECT_TRUE(helpers.PendingMessages().empty());
  helpers.SendXapMessage("", "later", "s", "");
  EXPECT_EQ(sender.sent.size(), 5u);
}

TEST_F(XapHelpersSend, EmptyUidMeansTheProgramUidQueuedOrNot) {
  helpers.SendXapMessage("t.a.b", "c", "s", "d", "sub", "");
  helpers.SendXapMessage("t.a.b", "c", "s", "d", "sub", "FF.0065:1A");
  helpers.setXapReady(true);
  helpers.SendXapMessage("", "c", "s", "", "", "");
  helpers.SendXapMessage("", "c", "s", "", "", "FF.0065:07");
  ASSERT_EQ(sender.sent.size(), 4u);
  EXPECT_EQ(sender.sent[0].uid, "FF.0065:00");
  EXPECT_EQ(sender.sent[0].target, "t.a.b");
  EXPECT_EQ(sender.sent[0].section, "s");
  EXPECT_EQ(sender.sent[0].data, "d");
  EXPECT_EQ(sender.sent[0].subaddress, "sub");
  EXPECT_EQ(sender.sent[1].uid, "FF.0065:1A");
  EXPECT_EQ(sender.sent[2].uid, "FF.0065:00");
  EXPECT_EQ(sender.sent[3].uid, "FF.0065:07");
}

TEST_F(XapHelpersSend, ASendMadeDuringAFlushKeepsOrderAndSendsNothingTwice) {
  helpers.SendXapMessage("", "held.1", "s", "");
  helpers.SendXapMessage("", "held.2", "s", "");
  helpers.setXapReady(true);
  bool nested = false;
  sender.duringSend = [&](const Sent& s) {
    if (s.cls == "held.1" && !nested) {
      nested = true;
      helpers.SendXapMessage("", "nested", "s", "");
    }
  };
  helpers.SendXapMessage("", "outer", "s", "");
  EXPECT_EQ(classes(sender.sent),
            (std::vector<std::string>{"held.1", "held.2", "outer", "nested"}));
  EXPECT_TRUE(helpers.PendingMessages().empty());
}

TEST_F(XapHelpersSend, NotReadyWithoutASender) {
  helpers.setSender(nullptr);
  helpers.setXapReady(true);
  helpers.SendXapMessage("", "c", "s", "");
  EXPECT_EQ(helpers.PendingMessages().size(), 1u);
  helpers.setSender(&sender);
  helpers.SendXapMessage("", "c2", "s", "");
  EXPECT_EQ(classes(sender.sent), (std::vector<std::string>{"c", "c2"}));
}

struct EventCase {
  std::string name;
  std::string description;
  std::string expectedData;
};

class LogEventText : public XapHelpersSend, public ::testing::WithParamInterface<EventCase> {};

TEST_P(LogEventText, PublishesAHomeseerEvent) {
  sim.setLocalDateTime({2026, 12, 6, 9, 5, 7});
  helpers.setXapReady(true);
  helpers.LogEvent("xapqbtSpykee", "Using xAP port 32768", GetParam().description);
  ASSERT_EQ(sender.sent.size(), 1u);
  const Sent& s = sender.sent[0];
  EXPECT_EQ(s.cls, "Homeseer.Event");
  EXPECT_EQ(s.target, "");
  EXPECT_EQ(s.section, "Event.Log");
  EXPECT_EQ(s.subaddress, "");
  EXPECT_EQ(s.uid, "FF.0065:00");
  const auto items = UnpackItems(s.data);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].name, "Time");
  EXPECT_EQ(items[0].value, "2026/12/06 09:05:07");
  EXPECT_EQ(items[1].name, "Type");
  EXPECT_EQ(items[1].value, "xapqbtSpykee");
  EXPECT_EQ(items[2].name, "Data");
  EXPECT_EQ(items[2].value, GetParam().expectedData);
}

INSTANTIATE_TEST_SUITE_P(Errors, LogEventText,
                         ::testing::Values(EventCase{"NoPendingError", "", "Using xAP port 32768"},
                                           EventCase{"PendingError", "Address in use",
                                                     "Using xAP port 32768 Line 0 Address in use"}),
                         [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(XapHelpersSend, FailedSendIsLoggedAndTheRestStillGoOut) {
  rovalink::testing::TestFolder folder;
  settings::hs settings(helpers);
  LaunchLocation launch;
  launch.appDirOption = folder.path().string();
  launch.executablePath = folder.file("rovalink");
  ASSERT_TRUE(helpers.InitXap(launch, settings));
  sim.setLocalDateTime({2026, 12, 6, 10, 0, 0});

  helpers.SendXapMessage("", "first", "s", PackItems({{"a", "1"}}));
  helpers.SendXapMessage("", "second", "s", "");
  helpers.setXapReady(true);
  sender.duringSend = [&](const Sent& s) { sender.failWith = s.cls == "first" ? "0 boom" : ""; };
  helpers.SendXapMessage("", "third", "s", "");
  EXPECT_EQ(classes(sender.sent), (std::vector<std::string>{"first", "second", "third"}));
  const std::string log = rovalink::testing::readFile(folder.file("Data/xapqbtSpykee.txt"));
  EXPECT_EQ(log, "2026/12/06 10:00:00 | xapqbtSpykee SendXap  " + PackItems({{"a", "1"}}) +
                     " 0 0 boom\r\n");
}

// The helpers and the real transport together, as start-up wires them.
TEST(XapHelpersOnTheBus, EventsLoggedDuringStartUpPrecedeTheFirstStatusMessage) {
  platform::SimPlatform sim;
  sim.simHost().setIpv4Addresses({"127.0.0.1"});
  XapHelpers helpers(sim.clock(), sim.host());
  auto bus = sim.createUdpSocket();
  std::vector<std::string> received;
  bus->onDatagram([&](const platform::Datagram& d) { received.push_back(d.data); });
  ASSERT_TRUE(bus->bind("0.0.0.0", kDefaultBusPort));

  helpers.LogEvent("IniTool", "settings complaint");
  XapTransport transport(sim, helpers);
  transport.setXapSource("qbt.Spykee.SIMHOST");
  transport.setXapUID(helpers.DefaultUID());
  helpers.setSender(&transport);
  ASSERT_EQ(transport.InitSockets(), 32768);
  transport.SendHeartbeat(60);
  helpers.setXapReady(true);
  helpers.SendXapMessage("", "xapBSC.Event", "output.state",
                         PackItems({{"State", "ON"}, {"Text", "0"}}), "spykee.HeadLED.Relay",
                         "FF.0065:1A");
  sim.advanceMs(1);

  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].rfind("xap-hbeat\n", 0), 0u);
  XapMessage event;
  event.FromXap(received[1]);
  EXPECT_EQ(event.MsgClass(), "Homeseer.Event");
  EXPECT_EQ(event.msgSource(), "qbt.Spykee.SIMHOST");
  EXPECT_EQ(event.MsgUID(), "FF.0065:00");
  EXPECT_EQ(event.MsgTarget(), "Unknown");  // no target line
  EXPECT_EQ(event.GetItem("event.log", "type"), "IniTool");
  EXPECT_EQ(event.GetItem("event.log", "data"), "settings complaint");
  XapMessage status;
  status.FromXap(received[2]);
  EXPECT_EQ(status.MsgClass(), "xapBSC.Event");
  EXPECT_EQ(status.msgSource(), "qbt.Spykee.SIMHOST:spykee.HeadLED.Relay");
  EXPECT_EQ(status.GetItem("output.state", "state"), "ON");
}

}  // namespace
}  // namespace rovalink::xap
