#include "devices/status_reporter.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/device_table.h"
#include "platform/sim/sim_platform.h"
#include "xap/xap_helpers.h"
#include "xap/xap_transport.h"

namespace rovalink::devices {
namespace {

struct SentMessage {
  std::string target, msgClass, section, data, subaddress, uid;
};

class RecordingSender : public xap::XapSender {
 public:
  std::string SendXap(const std::string& sTarget, const std::string& sClass,
                      const std::string& sSection, const std::string& sData,
                      const std::string& sSubaddress, const std::string& sUID) override {
    if (throwOnSend) throw std::runtime_error("socket gone");
    sent.push_back({sTarget, sClass, sSection, sData, sSubaddress, sUID});
    return {};
  }
  std::vector<SentMessage> sent;
  bool throwOnSend = false;
};

class RecordingServices : public settings::Services {
 public:
  struct Event {
    std::string type, data, description;
  };
  void LogError(const std::string&, const std::string&, const std::string&) override {}
  void LogEvent(const std::string& type, const std::string& data,
                const std::string& description) override {
    events.push_back({type, data, description});
  }
  bool CreateFolders(const std::string&) override { return true; }
  std::vector<Event> events;
};

std::string packed(const std::string& state, const std::string& text) {
  return std::string("State\1") + state + std::string(1, '\0') + "Text\1" + text;
}

struct ReportCase {
  const char* name;  // as the caller spells it
  bool status;
  int value;
  bool isInfo;
  SentMessage expected;
};

class ReportStatusTest : public ::testing::TestWithParam<ReportCase> {
 protected:
  Devices devices = BuildDeviceTable();
  RecordingSender sender;
  RecordingServices services;
  StatusReporter reporter{devices, sender, services};
};

TEST_P(ReportStatusTest, SendsTheDevicesStateWithItsClassSectionSourceAndUid) {
  const ReportCase& c = GetParam();
  devices.at(c.name).Status = c.status;
  devices.at(c.name).setValue(c.value);

  reporter.ReportStatus(c.name, c.isInfo);

  ASSERT_EQ(sender.sent.size(), 1u);
  const SentMessage& got = sender.sent[0];
  EXPECT_EQ(got.target, c.expected.target);
  EXPECT_EQ(got.msgClass, c.expected.msgClass);
  EXPECT_EQ(got.section, c.expected.section);
  EXPECT_EQ(got.data, c.expected.data);
  EXPECT_EQ(got.subaddress, c.expected.subaddress);
  EXPECT_EQ(got.uid, c.expected.uid);
  EXPECT_TRUE(services.events.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ReportStatusTest,
    ::testing::Values(
        ReportCase{"HeadLED",
                   true,
                   0,
                   false,
                   {"", "xapBSC.Event", "output.state", packed("ON", "0"), "spykee.HeadLED.Relay",
                    "FF.0065:1A"}},
        ReportCase{"Battery",
                   true,
                   87,
                   false,
                   {"", "xapBSC.Event", "input.state", packed("ON", "87"), "spykee.Battery.Switch",
                    "FF.0065:16"}},
        ReportCase{"Movement",
                   false,
                   -1,
                   false,
                   {"", "xapBSC.Event", "input.state", packed("OFF", "-1"),
                    "spykee.Movement.Switch", "FF.0065:0B"}},
        ReportCase{"Speed",
                   true,
                   73,
                   true,
                   {"", "xapBSC.Info", "output.state", packed("ON", "73"), "spykee.Speed.Index",
                    "FF.0065:18"}},
        // Names are looked up without regard to case; the message keeps the stored spelling.
        ReportCase{"vIdeo",
                   false,
                   15,
                   true,
                   {"", "xapBSC.Info", "output.state", packed("OFF", "15"), "spykee.Video.Relay",
                    "FF.0065:20"}},
        ReportCase{"battery",
                   false,
                   0,
                   true,
                   {"", "xapBSC.Info", "input.state", packed("OFF", "0"), "spykee.Battery.Switch",
                    "FF.0065:16"}}));

TEST(ReportStatus, AnUnknownNameIsOnlyLogged) {
  const Devices devices = BuildDeviceTable();
  RecordingSender sender;
  RecordingServices services;
  StatusReporter reporter(devices, sender, services);

  reporter.ReportStatus("HeadLEDD", false);

  EXPECT_TRUE(sender.sent.empty());
  ASSERT_EQ(services.events.size(), 1u);
  EXPECT_EQ(services.events[0].type, "xapqbtSpykee");
  EXPECT_EQ(services.events[0].data,
            "ReportStatus for HeadLEDD is not recognized as a item in spykee");
}

TEST(ReportStatus, AFailedSendIsLoggedAndNeverReachesTheCaller) {
  const Devices devices = BuildDeviceTable();
  RecordingSender sender;
  sender.throwOnSend = true;
  RecordingServices services;
  StatusReporter reporter(devices, sender, services);

  EXPECT_NO_THROW(reporter.ReportStatus("Turbo", false));

  ASSERT_EQ(services.events.size(), 1u);
  EXPECT_EQ(services.events[0].type, "xapqbtSpykee");
  EXPECT_EQ(services.events[0].data, "ReportEvent Turbo");
  EXPECT_EQ(services.events[0].description, "socket gone");
}

// The whole road on the simulated network: the reporter, the holding helper and the real
// transport, with a socket on the bus port standing in for the hub.
class ReportStatusOnTheBus : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.simHost().setIpv4Addresses({"127.0.0.1"});
    bus->onDatagram([this](const platform::Datagram& d) { received.push_back(d.data); });
    ASSERT_TRUE(bus->bind("0.0.0.0", xap::kDefaultBusPort));
    transport.setXapSource("qbt.Spykee.SIMHOST");
    transport.setXapUID("FF.0065:00");
    helpers.setSender(&transport);
  }

  void becomeReady() {
    ASSERT_GT(transport.InitSockets(), 0);
    helpers.setXapReady(true);
  }

  std::vector<std::string> drain(std::size_t count) {
    sim.runUntil([&] { return received.size() >= count; }, 1000);
    return received;
  }

  platform::SimPlatform sim;
  xap::XapHelpers helpers{sim.clock(), sim.host()};
  xap::XapTransport transport{sim, helpers};
  std::unique_ptr<platform::UdpSocket> bus = sim.createUdpSocket();
  std::vector<std::string> received;
  Devices devices = BuildDeviceTable();
  StatusReporter reporter{devices, helpers.HeldSender(), helpers};
};

TEST_F(ReportStatusOnTheBus, AnEventCarriesTheExactText) {
  becomeReady();
  devices.at("HeadLED").Status = true;
  reporter.ReportStatus("HeadLED", false);

  const auto texts = drain(1);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0],
            "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\n"
            "source=qbt.Spykee.SIMHOST:spykee.HeadLED.Relay\n}\n"
            "output.state\n{\nState=ON\nText=0\n}\n");
}

TEST_F(ReportStatusOnTheBus, ReportsMadeBeforeTheTransportIsReadyGoOutFirstInOrder) {
  devices.at("Battery").Status = true;
  devices.at("Battery").setValue(64);
  reporter.ReportStatus("Battery", false);
  reporter.ReportStatus("Connected", false);
  EXPECT_TRUE(drain(1).empty());

  becomeReady();
  reporter.ReportStatus("Volume", true);

  const auto texts = drain(3);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0],
            "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:16\nclass=xapBSC.Event\n"
            "source=qbt.Spykee.SIMHOST:spykee.Battery.Switch\n}\n"
            "input.state\n{\nState=ON\nText=64\n}\n");
  EXPECT_NE(texts[1].find("uid=FF.0065:22\nclass=xapBSC.Event\n"), std::string::npos);
  EXPECT_NE(texts[2].find("uid=FF.0065:17\nclass=xapBSC.Info\n"), std::string::npos);
  EXPECT_NE(texts[2].find("source=qbt.Spykee.SIMHOST:spykee.Volume.Index\n"), std::string::npos);
}

TEST_F(ReportStatusOnTheBus, AQueryForAllDevicesGives34InfoMessagesInTableOrder) {
  becomeReady();
  for (const Device& d : devices) reporter.ReportStatus(d.Name, true);

  const auto texts = drain(34);
  ASSERT_EQ(texts.size(), 34u);
  std::size_t i = 0;
  for (const Device& d : devices) {
    SCOPED_TRACE(d.Name);
    EXPECT_NE(texts[i].find("uid=FF.0065:" + d.uID +
                            "\nclass=xapBSC.Info\nsource=qbt.Spykee."
                            "SIMHOST:spykee." +
                            d.Name + "." + d.FunctionType + "\n}\n"),
              std::string::npos);
    ++i;
  }
}

}  // namespace
}  // namespace rovalink::devices
