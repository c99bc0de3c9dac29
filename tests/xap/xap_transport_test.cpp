#include "xap/xap_transport.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/sim/sim_platform.h"
#include "settings/hs.h"
#include "settings/services.h"
#include "xap/recording_error_log.h"
#include "xap/xap_message.h"

namespace rovalink::xap {
namespace {

using platform::Datagram;
using platform::SimPlatform;
using platform::UdpSocket;
using testing::RecordingErrorLog;

const std::string kSource = "qbt.Spykee.SIMHOST";
const std::string kUid = "FF.0065:00";
const std::string kHeaderText =
    "xap-header\n{\nv=13\nhop=1\nuid=FF1\nclass=xAPBSC.query\nsource=a.b.c\n}\nrequest\n{\n}\n";

// Everything the bus port sees, as an xAP hub would.
class BusListener {
 public:
  BusListener(SimPlatform& sim, std::uint16_t port = kDefaultBusPort)
      : m_socket(sim.createUdpSocket()) {
    m_socket->onDatagram([this](const Datagram& d) { received.push_back(d); });
    EXPECT_TRUE(m_socket->bind("0.0.0.0", port));
  }
  std::vector<Datagram> received;

 private:
  std::unique_ptr<UdpSocket> m_socket;
};

class XapTransportTest : public ::testing::Test {
 protected:
  void SetUp() override { useLoopbackHost(); }

  void useLoopbackHost() { sim.simHost().setIpv4Addresses({"127.0.0.1"}); }

  std::unique_ptr<XapTransport> makeTransport() {
    auto xap = std::make_unique<XapTransport>(sim, log);
    xap->setXapSource(kSource);
    xap->setXapUID(kUid);
    return xap;
  }

  // Sends a text to the transport's private port from another program on this host.
  void deliver(const std::string& text, int port = XapTransport::kFirstPort) {
    ASSERT_TRUE(peer->sendTo("127.0.0.1", static_cast<std::uint16_t>(port), text));
  }

  static std::string heartbeat(const std::string& interval, int port) {
    return "xap-hbeat\n{\nv=13\nhop=1\nuid=FF.0065:00\nclass=xap-hbeat.alive\nsource=" + kSource +
           "\ninterval=" + interval + "\nport=" + std::to_string(port) + "\n}\n";
  }

  SimPlatform sim;
  RecordingErrorLog log;
  std::unique_ptr<UdpSocket> peer = sim.createUdpSocket();
};

// ---- Start-up and heartbeats ----------------------------------------------------------------

TEST_F(XapTransportTest, LoopbackHostAnnouncesItsPrivatePortTo127001) {
  BusListener bus(sim);
  auto xap = makeTransport();
  EXPECT_EQ(xap->InitSockets(), 32768);
  EXPECT_EQ(xap->RemoteAddress(), "127.0.0.1");
  xap->SendHeartbeat(60);
  sim.advanceMs(1);
  ASSERT_EQ(bus.received.size(), 1u);
  EXPECT_EQ(bus.received[0].data, heartbeat("600", 32768));
  EXPECT_EQ(bus.received[0].senderAddress, "127.0.0.1");
  EXPECT_EQ(bus.received[0].senderPort, 32768);
  EXPECT_TRUE(log.entries.empty());
}

struct ClampCase {
  int requested;
  int timerMs;
  bool enabled;
  std::string announced;
};

class HeartbeatClamp : public XapTransportTest, public ::testing::WithParamInterface<ClampCase> {};

TEST_P(HeartbeatClamp, SetsTheTimerAndAnnouncesTenPeriods) {
  const ClampCase& c = GetParam();
  BusListener bus(sim);
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  xap->SendHeartbeat(c.requested);
  sim.advanceMs(1);
  EXPECT_EQ(xap->HBeatTimer().interval(), c.timerMs);
  EXPECT_EQ(xap->HBeatTimer().enabled(), c.enabled);
  ASSERT_EQ(bus.received.size(), 1u);
  EXPECT_EQ(bus.received[0].data, heartbeat(c.announced, 32768));
}

INSTANTIATE_TEST_SUITE_P(
    Intervals, HeartbeatClamp,
    ::testing::Values(ClampCase{3, 5000, true, "50"}, ClampCase{1, 5000, true, "50"},
                      ClampCase{4, 5000, true, "50"}, ClampCase{5, 5000, true, "50"},
                      ClampCase{0, 0, false, "00"}, ClampCase{-7, 0, false, "00"},
                      ClampCase{60, 60000, true, "600"}, ClampCase{61, 60000, true, "600"},
                      ClampCase{90, 60000, true, "600"}));

TEST_F(XapTransportTest, TimerSendsAHeartbeatOnEveryTenthTick) {
  BusListener bus(sim);
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  xap->SendHeartbeat(5);
  sim.advanceMs(49'000);
  EXPECT_EQ(bus.received.size(), 1u);
  sim.advanceMs(1'000);
  EXPECT_EQ(bus.received.size(), 2u);
  sim.advanceMs(49'999);
  EXPECT_EQ(bus.received.size(), 2u);
  sim.advanceMs(1);
  ASSERT_EQ(bus.received.size(), 3u);
  EXPECT_EQ(bus.received[2].data, heartbeat("50", 32768));
}

TEST_F(XapTransportTest, HeartbeatWithoutSocketsIsLoggedNotSent) {
  BusListener bus(sim);
  auto xap = makeTransport();
  xap->SendHeartbeat(60);
  sim.advanceMs(1);
  EXPECT_TRUE(bus.received.empty());
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].first, "xapqbtSpykee");
  EXPECT_EQ(log.entries[0].second, "SendHeartbeat");
}

TEST_F(XapTransportTest, BarInSourceOrUidBecomesALineEndInTheHeartbeat) {
  BusListener bus(sim);
  auto xap = makeTransport();
  xap->setXapSource("a|b");
  ASSERT_GT(xap->InitSockets(), 0);
  xap->SendHeartbeat(0);
  sim.advanceMs(1);
  ASSERT_EQ(bus.received.size(), 1u);
  EXPECT_NE(bus.received[0].data.find("\nsource=a\nb\ninterval=00\n"), std::string::npos);
}

TEST_F(XapTransportTest, TakenLoopbackPortsAreSkipped) {
  auto first = sim.createUdpSocket();
  auto second = sim.createUdpSocket();
  ASSERT_TRUE(first->bind("127.0.0.1", 32768));
  ASSERT_TRUE(second->bind("127.0.0.1", 32769));
  BusListener bus(sim);
  auto xap = makeTransport();
  EXPECT_EQ(xap->InitSockets(), 32770);
  xap->SendHeartbeat(60);
  sim.advanceMs(1);
  ASSERT_EQ(bus.received.size(), 1u);
  EXPECT_EQ(bus.received[0].data, heartbeat("600", 32770));
}

class NoFreePort : public XapTransportTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NoFreePort, InitSocketsFailsWhenAllTwoHundredPortsAreTaken) {
  if (GetParam()) {
    useLoopbackHost();
  } else {
    sim.simHost().setIpv4Addresses({"192.168.1.10"});
  }
  std::vector<std::unique_ptr<UdpSocket>> squatters;
  for (int port = 32768; port < 32768 + 200; ++port) {
    squatters.push_back(sim.createUdpSocket());
    ASSERT_TRUE(squatters.back()->bind("127.0.0.1", static_cast<std::uint16_t>(port)));
  }
  auto xap = makeTransport();
  EXPECT_EQ(xap->InitSockets(), -1);
}

INSTANTIATE_TEST_SUITE_P(Hosts, NoFreePort, ::testing::Values(true, false),
                         [](const auto& testInfo) {
                           return testInfo.param ? "LoopbackOnly" : "Networked";
                         });

struct InterfaceCase {
  std::string name;
  std::vector<std::string> addresses;
  std::string pattern;
  std::string chosen;
};

class InterfaceChoice : public XapTransportTest,
                        public ::testing::WithParamInterface<InterfaceCase> {};

TEST_P(InterfaceChoice, BindsTheSamePortOnTheChosenAddressAndSendsFromIt) {
  const InterfaceCase& c = GetParam();
  sim.simHost().setIpv4Addresses(c.addresses);
  BusListener bus(sim);
  auto xap = makeTransport();
  xap->setInterfaceAddress(c.pattern);
  EXPECT_EQ(xap->InitSockets(), 32768);
  EXPECT_EQ(xap->LocalIP(), c.chosen);
  EXPECT_EQ(xap->RemoteAddress(), "255.255.255.255");
  xap->SendHeartbeat(60);
  sim.advanceMs(1);
  ASSERT_EQ(bus.received.size(), 1u);
  EXPECT_EQ(bus.received[0].senderAddress, c.chosen);
  EXPECT_EQ(bus.received[0].senderPort, 32768);
  // Texts forwarded to the loopback port and to the interface port land in the same queue.
  deliver(kHeaderText);
  ASSERT_TRUE(peer->sendTo(c.chosen, 32768, kHeaderText));
  sim.advanceMs(1);
  EXPECT_EQ(xap->QueuedCount(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, InterfaceChoice,
    ::testing::Values(
        InterfaceCase{"DefaultTakesTheFirst", {"10.0.0.5", "192.168.1.10"}, "Default", "10.0.0.5"},
        InterfaceCase{
            "NetworkPatternSelects", {"10.0.0.5", "192.168.1.10"}, "192.168.1.0", "192.168.1.10"},
        InterfaceCase{
            "ThreePartPatternFallsBack", {"10.0.0.5", "192.168.1.10"}, "192.168.1", "10.0.0.5"},
        InterfaceCase{
            "ZeroPatternMatchesTheFirst", {"10.0.0.5", "192.168.1.10"}, "0.0.0.0", "10.0.0.5"}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(XapTransportTest, InterfaceBindFailureIsNegative) {
  sim.simHost().setIpv4Addresses({"192.168.1.10"});
  auto squatter = sim.createUdpSocket();
  ASSERT_TRUE(squatter->bind("192.168.1.10", 32768));
  auto xap = makeTransport();
  EXPECT_LT(xap->InitSockets(), 0);
}

TEST_F(XapTransportTest, ExplicitBroadcastAddressIsUsed) {
  sim.simHost().setIpv4Addresses({"192.168.1.10"});
  BusListener bus(sim);
  auto xap = makeTransport();
  xap->setBroadcastAddress("192.168.1.255");
  ASSERT_GT(xap->InitSockets(), 0);
  EXPECT_EQ(xap->RemoteAddress(), "192.168.1.255");
  EXPECT_EQ(xap->SendXap("", "xapBSC.Event", "s", PackItems({{"a", "1"}})), "");
  sim.advanceMs(1);
  EXPECT_EQ(bus.received.size(), 1u);
}

struct AddressPatternCase {
  std::string address;
  std::string pattern;
  bool matches;
};

class AddressPattern : public ::testing::TestWithParam<AddressPatternCase> {};

TEST_P(AddressPattern, MatchesByBitMaskPartByPart) {
  EXPECT_EQ(AddressMatches(GetParam().address, GetParam().pattern), GetParam().matches)
      << GetParam().address << " / " << GetParam().pattern;
}

INSTANTIATE_TEST_SUITE_P(Table, AddressPattern,
                         ::testing::Values(AddressPatternCase{"192.168.1.10", "192.168.1.0", true},
                                           AddressPatternCase{"192.168.2.10", "192.168.1.0", false},
                                           AddressPatternCase{"10.1.2.3", "0.0.0.0", true},
                                           AddressPatternCase{"10.1.2.3", "Default", false},
                                           AddressPatternCase{"10.1.2.3", "10.1.2", false},
                                           AddressPatternCase{"10.1.2", "0.0.0.0", false},
                                           AddressPatternCase{"10.1.2.3", "10.1.2.3", true},
                                           AddressPatternCase{"10.1.2.3", "x.1.2.3", true},
                                           AddressPatternCase{"10.1.2.x", "10.1.2.1", false}));

// ---- Receiving ------------------------------------------------------------------------------

TEST_F(XapTransportTest, TextsArrivingWithin50msAreHandedOverInOneBatch) {
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  std::vector<std::vector<std::string>> batches;
  std::vector<double> callTimes;
  xap->RegisterNewMessageCallback([&] {
    callTimes.push_back(sim.nowMs());
    batches.emplace_back();
    for (std::string text = xap->GetMessage(); !text.empty(); text = xap->GetMessage()) {
      batches.back().push_back(text);
    }
  });
  deliver(kHeaderText + "1");
  sim.advanceMs(10);
  deliver(kHeaderText + "2");
  sim.advanceMs(20);
  deliver(kHeaderText + "3");
  sim.advanceMs(19);
  EXPECT_TRUE(batches.empty());
  sim.advanceMs(1);
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0],
            (std::vector<std::string>{kHeaderText + "1", kHeaderText + "2", kHeaderText + "3"}));
  EXPECT_DOUBLE_EQ(callTimes[0], 50.0);
  deliver(kHeaderText + "4");
  sim.advanceMs(100);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[1], (std::vector<std::string>{kHeaderText + "4"}));
  EXPECT_DOUBLE_EQ(callTimes[1], 100.0);
}

TEST_F(XapTransportTest, SteadyTrafficDoesNotPostponeTheHandOver) {
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  std::vector<double> callTimes;
  int taken = 0;
  xap->RegisterNewMessageCallback([&] {
    callTimes.push_back(sim.nowMs());
    while (!xap->GetMessage().empty()) ++taken;
  });
  // A text every 20 ms: each hand-over comes at most 50 ms after the first text it carries.
  for (int i = 0; i < 25; ++i) {
    deliver(kHeaderText);
    sim.advanceMs(20);
  }
  sim.advanceMs(100);
  EXPECT_EQ(taken, 25);
  ASSERT_EQ(callTimes.size(), 9u);
  EXPECT_DOUBLE_EQ(callTimes[0], 50.0);
  for (std::size_t i = 1; i < callTimes.size(); ++i) {
    EXPECT_DOUBLE_EQ(callTimes[i] - callTimes[i - 1], 60.0);
  }
}

struct FilterCase {
  bool filter;
  std::string text;
  bool queued;
};

class HeartbeatFilter : public XapTransportTest,
                        public ::testing::WithParamInterface<FilterCase> {};

TEST_P(HeartbeatFilter, QueuesOnlyMessagesWhileFiltering) {
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  xap->setFilterHeartbeats(GetParam().filter);
  deliver(GetParam().text);
  sim.advanceMs(1);
  EXPECT_EQ(xap->QueuedCount(), GetParam().queued ? 1u : 0u);
  EXPECT_EQ(xap->ReceiveTimer().enabled(), GetParam().queued);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HeartbeatFilter,
    ::testing::Values(FilterCase{true, "xap-hbeat\n{\nclass=xap-hbeat.alive\n}\n", false},
                      FilterCase{true, "XAP-HEADER\n{\n}\n", true},
                      FilterCase{true, "xap-head", true}, FilterCase{true, "xap-hea", false},
                      FilterCase{true, "junk", false},
                      FilterCase{false, "xap-hbeat\n{\nclass=xap-hbeat.alive\n}\n", true},
                      FilterCase{false, "junk", true}));

TEST_F(XapTransportTest, WithoutCallbackTextsWaitForGetMessageInArrivalOrder) {
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  EXPECT_EQ(xap->GetMessage(), "");
  deliver(kHeaderText + "a");
  deliver(kHeaderText + "b");
  sim.advanceMs(500);
  EXPECT_EQ(xap->GetMessage(), kHeaderText + "a");
  EXPECT_EQ(xap->GetMessage(), kHeaderText + "b");
  EXPECT_EQ(xap->GetMessage(), "");
}

TEST_F(XapTransportTest, QueueNobodyTakesStopsGrowing) {
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  for (std::size_t i = 0; i < XapTransport::kMaxQueuedMessages + 50; ++i) deliver(kHeaderText);
  sim.advanceMs(100);
  EXPECT_EQ(xap->QueuedCount(), XapTransport::kMaxQueuedMessages);
}

// ---- Sending --------------------------------------------------------------------------------

TEST_F(XapTransportTest, SendXapWritesTheMessageToTheBusPort) {
  BusListener bus(sim);
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  EXPECT_EQ(xap->SendXap("", "xapBSC.Event", "output.state",
                         PackItems({{"State", "ON"}, {"Text", "a=b"}}), "spykee.HeadLED.Relay",
                         "FF.0065:1A"),
            "");
  sim.advanceMs(1);
  ASSERT_EQ(bus.received.size(), 1u);
  EXPECT_EQ(bus.received[0].data,
            "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\nsource=" + kSource +
                ":spykee.HeadLED.Relay\n}\noutput.state\n{\nState=ON\nText=a=b\n}\n");
}

TEST_F(XapTransportTest, SendXapDefaultsToTheProgramUidAndSkipsPiecesWithoutName) {
  BusListener bus(sim);
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  std::string data = PackItems({{"a", "1"}});
  data += std::string("\0junk\0", 6);
  EXPECT_EQ(xap->SendXap("x.y.z", "c", "s", data), "");
  sim.advanceMs(1);
  ASSERT_EQ(bus.received.size(), 1u);
  EXPECT_EQ(bus.received[0].data, "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:00\nclass=c\nsource=" +
                                      kSource + "\ntarget=x.y.z\n}\ns\n{\na=1\n}\n");
}

struct ChecksumCase {
  std::string name;
  std::string cls;
  std::string value;
};

class Checksum : public XapTransportTest, public ::testing::WithParamInterface<ChecksumCase> {};

TEST_P(Checksum, LengthItemCarriesTheSentTextLength) {
  BusListener bus(sim);
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  EXPECT_EQ(xap->SendXap("a.b.c", GetParam().cls, "output.state.1",
                         PackItems({{"ID", "01"}, {"Text", GetParam().value}})),
            "");
  sim.advanceMs(1);
  ASSERT_EQ(bus.received.size(), 1u);
  const std::string& sent = bus.received[0].data;
  std::string digits = "0000" + std::to_string(sent.size());
  digits = digits.substr(digits.size() - 4);
  XapMessage parsed;
  parsed.FromXap(sent);
  EXPECT_EQ(parsed.GetItem("checksum", "length"), digits);
  EXPECT_EQ(parsed.MsgSection(), (std::vector<std::string>{"output.state.1", "checksum"}));
  EXPECT_EQ(sent.find("~~~~"), std::string::npos);
  const std::string expectedValue =
      GetParam().value == "x~~~~y" ? "x" + digits + "y" : GetParam().value;
  EXPECT_EQ(parsed.GetItem("output.state.1", "text"), expectedValue);
}

INSTANTIATE_TEST_SUITE_P(
    Classes, Checksum,
    ::testing::Values(ChecksumCase{"Short", "xAPBSC.cmd", "hello"},
                      ChecksumCase{"AnyCase", "XAPBSC.CMD", "hello"},
                      ChecksumCase{"PlaceholderInData", "xapbsc.cmd", "x~~~~y"},
                      ChecksumCase{"LongerThan9999", "xAPBSC.cmd", std::string(12000, 'v')}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST_F(XapTransportTest, OtherClassesCarryNoChecksum) {
  BusListener bus(sim);
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  xap->SendXap("", "xAPBSC.query", "request", PackItems({{"v", "~~~~"}}));
  sim.advanceMs(1);
  ASSERT_EQ(bus.received.size(), 1u);
  EXPECT_EQ(bus.received[0].data.find("Checksum"), std::string::npos);
  EXPECT_NE(bus.received[0].data.find("v=~~~~\n"), std::string::npos);
}

TEST_F(XapTransportTest, SendXapRunsDueEventsOnce) {
  auto xap = makeTransport();
  ASSERT_GT(xap->InitSockets(), 0);
  deliver(kHeaderText);  // due now, not yet delivered
  EXPECT_EQ(xap->QueuedCount(), 0u);
  EXPECT_EQ(xap->SendXap("", "c", "s", ""), "");
  EXPECT_EQ(xap->QueuedCount(), 1u);
}

TEST_F(XapTransportTest, SendXapReportsAFailedSendAsText) {
  auto xap = makeTransport();
  xap->setBroadcastAddress("not an address");
  sim.simHost().setIpv4Addresses({"192.168.1.10"});
  ASSERT_GT(xap->InitSockets(), 0);
  const std::string result = xap->SendXap("", "c", "s", "");
  EXPECT_EQ(result.rfind("0 ", 0), 0u) << result;
  EXPECT_GT(result.size(), 2u);
  EXPECT_TRUE(log.entries.empty());
}

TEST_F(XapTransportTest, BusPortSettingMovesHeartbeatsAndMessages) {
  BusListener standard(sim);
  BusListener moved(sim, 4100);
  auto xap = makeTransport();
  xap->setBusPort(4100);
  ASSERT_GT(xap->InitSockets(), 0);
  xap->SendHeartbeat(60);
  xap->SendXap("", "c", "s", "");
  sim.advanceMs(1);
  EXPECT_TRUE(standard.received.empty());
  EXPECT_EQ(moved.received.size(), 2u);
}

// ---- The bus port setting -------------------------------------------------------------------

class NullServices : public settings::Services {
 public:
  void LogError(const std::string&, const std::string&, const std::string&) override {}
  void LogEvent(const std::string&, const std::string&, const std::string&) override {}
  bool CreateFolders(const std::string&) override { return true; }
};

struct BusPortCase {
  std::string name;
  std::string fileText;  // empty: no file
  std::uint16_t port;
};

class BusPortSetting : public ::testing::TestWithParam<BusPortCase> {};

TEST_P(BusPortSetting, ComesFromQbtXapIni) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() /
                          ("rovalink-busport-" + std::to_string(::getpid()) + GetParam().name);
  fs::remove_all(folder);
  fs::create_directories(folder / "Config");
  if (!GetParam().fileText.empty()) {
    std::ofstream(folder / "Config" / "qbtXap.ini", std::ios::binary) << GetParam().fileText;
  }
  NullServices services;
  settings::hs settings(services);
  settings.setAppPath(folder.string());
  EXPECT_EQ(ReadBusPort(settings), GetParam().port);
  fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BusPortSetting,
    ::testing::Values(BusPortCase{"Set", "[Interface]\r\nBusPort=4100\r\n", 4100},
                      BusPortCase{"NoFile", "", 3639},
                      BusPortCase{"NotANumber", "[Interface]\r\nBusPort=abc\r\n", 3639},
                      BusPortCase{"TooLarge", "[Interface]\r\nBusPort=70000\r\n", 3639},
                      BusPortCase{"Zero", "[Interface]\r\nBusPort=0\r\n", 3639}),
    [](const auto& testInfo) { return testInfo.param.name; });

TEST(PackedItems, SplitAtCode0AndCode1) {
  const std::string data = std::string(
      "State\1ON\0Level\1"
      "50\0noname\0a\1b\1c\0",
      32);
  const auto items = UnpackItems(data);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].name, "State");
  EXPECT_EQ(items[0].value, "ON");
  EXPECT_EQ(items[1].name, "Level");
  EXPECT_EQ(items[1].value, "50");
  EXPECT_EQ(items[2].name, "a");
  EXPECT_EQ(items[2].value, "b\1c");
  EXPECT_EQ(PackItems({{"State", "ON"}, {"Level", "50"}}), std::string("State\1ON\0Level\1"
                                                                       "50",
                                                                       17));
}

}  // namespace
}  // namespace rovalink::xap
