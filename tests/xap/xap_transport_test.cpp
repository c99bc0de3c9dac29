#include "xap/xap_transport.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/sim_platform.h"
#include "settings/hs.h"
#include "settings/recording_services.h"
#include "settings/test_folder.h"
#include "xap/recording_error_log.h"
#include "xap/xap_message.h"

namespace rovalink::xap {
namespace {

using Texts = std::vector<std::string>;

const std::string kSource = "qbt.Spykee.SIMHOST";
const std::string kQuery =
    "xap-header\n{\nv=13\nhop=1\nuid=FF1\nclass=xAPBSC.query\nsource=a.b.c\n}\nrequest\n{\n}\n";

std::string heartbeat(const std::string& interval, const std::string& state = "alive") {
  return "xap-hbeat\n{\nv=13\nhop=1\nuid=FF.0065:00\nclass=xap-hbeat." + state +
         "\nsource=" + kSource + "\ninterval=" + interval + "\nport=32770\n}\n";
}

// The transport on a loopback-only host, with a socket on the bus port standing in for the hub.
class XapTransportTest : public ::testing::Test {
 protected:
  XapTransportTest() {
    sim.simHost().setIpv4Addresses({"127.0.0.1"});
    bus->onDatagram([this](const platform::Datagram& d) {
      heard.push_back(d.data);
      senders.push_back(d.senderAddress + ":" + std::to_string(d.senderPort));
    });
    EXPECT_TRUE(bus->bind("0.0.0.0", kDefaultBusPort));
    xap.setXapSource(kSource);
    xap.setXapUID("FF.0065:00");
  }
  // Sends a text to the transport's private port from another program on this host.
  void deliver(const std::string& text) { ASSERT_TRUE(peer->sendTo("127.0.0.1", 32768, text)); }
  Texts drain() {
    Texts texts;
    for (std::string text = xap.GetMessage(); !text.empty(); text = xap.GetMessage())
      texts.push_back(text);
    return texts;
  }

  platform::SimPlatform sim;
  testing::RecordingErrorLog log;
  std::unique_ptr<platform::UdpSocket> bus = sim.createUdpSocket(), peer = sim.createUdpSocket();
  Texts heard, senders;  // what the bus port heard, and from where
  XapTransport xap{sim, log};
};

// Taken loopback ports are skipped; the period is 0 (off) or 5 to 60 seconds, the heartbeat
// announces ten periods and the timer sends one on every tenth tick. Before the sockets exist a
// heartbeat is logged, not sent.
TEST_F(XapTransportTest, HeartbeatsAnnounceTheFreeLoopbackPortTo127001WithTheClampedPeriod) {
  xap.SendHeartbeat(60);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].first + " " + log.entries[0].second, "xapqbtSpykee SendHeartbeat");
  auto first = sim.createUdpSocket(), second = sim.createUdpSocket();
  ASSERT_TRUE(first->bind("127.0.0.1", 32768) && second->bind("127.0.0.1", 32769));
  ASSERT_EQ(xap.InitSockets(), 32770);
  EXPECT_EQ(xap.RemoteAddress(), "127.0.0.1");
  std::vector<int> timers;  // the period in ms, -1 when the timer is off
  for (int seconds : {-7, 0, 1, 4, 5, 60, 61}) {
    xap.SendHeartbeat(seconds);
    timers.push_back(xap.HBeatTimer().enabled() ? xap.HBeatTimer().interval() : -1);
  }
  sim.advanceMs(1);
  EXPECT_EQ(timers, (std::vector<int>{-1, -1, 5000, 5000, 5000, 60000, 60000}));
  EXPECT_EQ(heard, (Texts{heartbeat("00"), heartbeat("00"), heartbeat("50"), heartbeat("50"),
                          heartbeat("50"), heartbeat("600"), heartbeat("600")}));
  EXPECT_EQ(senders[0], "127.0.0.1:32770");
  // On a live bus (a text every 30 s) the next one is the tenth tick's, at 600 s.
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(peer->sendTo("127.0.0.1", 32770, kQuery));
    sim.advanceMs(i < 19 ? 30'000 : 29'998);
  }
  EXPECT_EQ(heard.size(), 7u);
  sim.advanceMs(1);
  EXPECT_EQ(heard.size() == 8 ? heard.back() : "none", heartbeat("600"));
  // The goodbye, and nothing after it.
  xap.SendStoppedHeartbeat();
  sim.advanceMs(3'600'000);
  EXPECT_EQ(heard.size() == 9 ? heard.back() : "none", heartbeat("600", "stopped"));
}

// A hub that (re)starts knows no client until it hears a heartbeat. The hub forwards a query
// every 10 s (at 3, 13, 23 ... s) while it knows us; it dies at some phase of the 60 s tick and
// a new one starts at once. Silence is checked every 5 s from the last datagram: the new hub
// hears us within 65 s whatever the phase, and a live bus gets no extra heartbeat.
struct HubRestartCase {
  int diesAt;              // s
  std::string heartbeats;  // when heartbeats went out, s
};

class XapHubRestart : public XapTransportTest,
                      public ::testing::WithParamInterface<HubRestartCase> {};

TEST_P(XapHubRestart, ARestartedHubHearsUsWithin65sAndALiveBusGetsNoExtraHeartbeat) {
  ASSERT_EQ(xap.InitSockets(), 32768);
  bool knowsUs = false;
  std::string heartbeats;
  bus->onDatagram([&](const platform::Datagram& d) {
    if (d.data.rfind("xap-hbeat\n", 0) != 0) return;
    heartbeats += std::to_string(static_cast<int>(sim.nowMs()) / 1000) + " ";
    knowsUs = true;
  });
  xap.RegisterNewMessageCallback([&] { drain(); });
  xap.SendHeartbeat(60);
  for (int second = 0; second < GetParam().diesAt + 150; ++second) {
    if (second == GetParam().diesAt) knowsUs = false;
    if (knowsUs && second % 10 == 3) deliver(kQuery);
    sim.advanceMs(1000);
  }
  EXPECT_EQ(heartbeats, GetParam().heartbeats);
}

INSTANTIATE_TEST_SUITE_P(PhasesOfTheTick, XapHubRestart,
                         ::testing::Values(HubRestartCase{300, "0 355 "},   // 55 s
                                           HubRestartCase{302, "0 355 "},   // 53 s
                                           HubRestartCase{307, "0 365 "},   // 58 s
                                           HubRestartCase{331, "0 385 "},   // 54 s
                                           HubRestartCase{345, "0 405 "},   // 60 s
                                           HubRestartCase{358, "0 415 "}),  // 57 s
                         [](const auto& p) { return "DiesAt" + std::to_string(p.param.diesAt); });

// With every one of the 200 ports taken no port is announced, on a loopback-only host too.
TEST_F(XapTransportTest, InitSocketsFailsWhenNoLoopbackPortIsFree) {
  std::vector<std::unique_ptr<platform::UdpSocket>> squatters;
  for (int port = 32768; port < 32768 + 200; ++port) {
    squatters.push_back(sim.createUdpSocket());
    ASSERT_TRUE(squatters.back()->bind("127.0.0.1", static_cast<std::uint16_t>(port)));
  }
  EXPECT_EQ(xap.InitSockets(), -1);
  sim.simHost().setIpv4Addresses({"192.168.1.10"});
  XapTransport networked(sim, log);
  EXPECT_EQ(networked.InitSockets(), -1);
}

// The chosen interface sends to the broadcast address from a free port of its own: the private
// port is bound on loopback only. "Default" and patterns that match nothing take the host's first
// address; 127.0.0.1 is found when asked for, although the host's list leaves loopback out.
TEST_F(XapTransportTest, ChosenInterfaceSendsFromItsOwnPortAndLoopbackCanBeChosen) {
  struct Case {
    std::vector<std::string> host;
    std::string pattern, chosen, remote;
  };
  const std::vector<std::string> networked = {"10.0.0.5", "192.168.1.10"};
  for (const Case& c : {Case{networked, "192.168.1.0", "192.168.1.10", "192.168.1.255"},
                        Case{networked, "Default", "10.0.0.5", "192.168.1.255"},
                        Case{networked, "127.0.0.1", "127.0.0.1", "127.0.0.1"},
                        Case{{}, "Default", "127.0.0.1", "127.0.0.1"}}) {
    SCOPED_TRACE(c.pattern);
    sim.simHost().setIpv4Addresses(c.host);
    XapTransport transport(sim, log);
    transport.setInterfaceAddress(c.pattern);
    transport.setBroadcastAddress(c.remote == "127.0.0.1" ? "192.168.1.255" : c.remote);
    EXPECT_EQ(transport.InitSockets(), 32768);
    EXPECT_EQ(transport.LocalIP() + " to " + transport.RemoteAddress(),
              c.chosen + " to " + c.remote);
    senders.clear();
    EXPECT_EQ(transport.SendXap("", "c", "s", ""), "");
    sim.advanceMs(1);
    ASSERT_EQ(senders.size(), 1u);
    EXPECT_EQ(senders[0].substr(0, c.chosen.size() + 1), c.chosen + ":");
    EXPECT_NE(senders[0], c.chosen + ":32768");
  }
  EXPECT_TRUE(log.entries.empty());
}

// Only what the hub on this computer forwards to the loopback port is taken: a datagram from
// another address (even to the loopback port) and anything sent to the sending socket are
// dropped, counted, and reported at once, then at most once a minute.
TEST_F(XapTransportTest, DatagramsNotFromTheLocalHubAreDroppedAndReportedOnceAMinute) {
  sim.simHost().setIpv4Addresses({"192.168.1.10"});
  xap.setBroadcastAddress("127.0.0.1");
  ASSERT_EQ(xap.InitSockets(), 32768);
  ASSERT_EQ(xap.SendXap("", "c", "s", ""), "");
  sim.advanceMs(1);
  ASSERT_EQ(senders.size(), 1u);
  const auto sendingPort = static_cast<std::uint16_t>(std::stoi(senders[0].substr(13)));
  auto stranger = sim.createUdpSocket(), localButNotLoopback = sim.createUdpSocket();
  ASSERT_TRUE(stranger->bind("10.0.0.99", 5000) && localButNotLoopback->bind("192.168.1.10", 0));
  const auto attack = [&] {
    ASSERT_TRUE(stranger->sendTo("127.0.0.1", 32768, kQuery));
    ASSERT_TRUE(localButNotLoopback->sendTo("127.0.0.1", 32768, kQuery));
    ASSERT_TRUE(stranger->sendTo("192.168.1.10", sendingPort, kQuery));
  };
  attack();
  deliver(kQuery + "from the hub");
  sim.advanceMs(1);
  EXPECT_EQ(drain(), Texts{kQuery + "from the hub"});
  EXPECT_EQ(xap.ForeignDatagrams(), 3u);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].second, "xAP datagrams dropped");
  EXPECT_EQ(log.entries[0].description,
            "1 not forwarded by the local hub, last from 10.0.0.99:5000");
  for (int i = 0; i < 5; ++i) attack();
  sim.advanceMs(59'998);
  EXPECT_EQ(log.entries.size(), 1u);
  sim.advanceMs(1);
  ASSERT_EQ(log.entries.size(), 2u);
  EXPECT_EQ(log.entries[1].description,
            "17 not forwarded by the local hub, last from 10.0.0.99:5000");
  sim.advanceMs(600'000);
  attack();
  sim.advanceMs(1);
  EXPECT_EQ(log.entries.size(), 3u);
  EXPECT_EQ(xap.QueuedCount(), 0u);
  EXPECT_EQ(xap.ForeignDatagrams(), 21u);
}

// Part by part, (pattern AND address) == pattern; a part that is no number counts as 0.
TEST(AddressMatches, ComparesFourPartsByBitMask) {
  for (const char* pattern : {"192.168.1.0", "0.0.0.0", "192.168.1.10", "x.168.1.10"})
    EXPECT_TRUE(AddressMatches("192.168.1.10", pattern)) << pattern;
  for (const char* pattern : {"192.168.2.0", "Default", "192.168.1", "192.168.1.11"})
    EXPECT_FALSE(AddressMatches("192.168.1.10", pattern)) << pattern;
  EXPECT_FALSE(AddressMatches("10.1.2", "0.0.0.0") || AddressMatches("10.1.2.x", "10.1.2.1"));
}

// A text is handed over as soon as the loop is free after its socket event, ahead of any timer
// due later; texts that arrived by then go in the same batch.
TEST_F(XapTransportTest, TextsAreHandedOverAsSoonAsTheLoopIsFree) {
  ASSERT_GT(xap.InitSockets(), 0);
  Texts batches;  // each: the virtual µs of the hand-over, then the numbers of its texts
  xap.RegisterNewMessageCallback([&] {
    batches.push_back(std::to_string(sim.simLoop().now()) + " us:");
    for (const std::string& text : drain()) batches.back() += " " + text.substr(kQuery.size());
  });
  const auto tick = sim.loop().createTimer();
  tick->onTick([&] { batches.push_back(std::to_string(sim.simLoop().now()) + " us: tick"); });
  tick->setInterval(1);
  tick->setEnabled(true);
  for (int i = 0; i < 3; ++i) {
    deliver(kQuery + std::to_string(2 * i));
    deliver(kQuery + std::to_string(2 * i + 1));
    sim.simLoop().advance(20 * 1000 + 300);
  }
  tick->setEnabled(false);
  EXPECT_EQ(batches[0], "0 us: 0 1");
  EXPECT_EQ(batches[21], "20300 us: 2 3");
  EXPECT_EQ(batches[42], "40600 us: 4 5");
  EXPECT_EQ(batches.size(), 63u);  // and 60 ticks of 1 ms between them
}

// Without a callback texts wait in arrival order, up to a bound; while filtering, only texts that
// start like a message are queued.
TEST_F(XapTransportTest, ReceivedTextsAreQueuedInArrivalOrderUpToTheBound) {
  ASSERT_GT(xap.InitSockets(), 0);
  EXPECT_EQ(xap.GetMessage(), "");
  const Texts texts = {"xap-hbeat\n{\nclass=xap-hbeat.alive\n}\n", "XAP-HEADER\n{\n}\n", "xap-head",
                       "xap-hea", "junk"};
  for (bool filter : {true, false}) {
    xap.setFilterHeartbeats(filter);
    for (const std::string& text : texts) deliver(text);
    sim.advanceMs(1);
    EXPECT_EQ(drain(), (filter ? Texts{"XAP-HEADER\n{\n}\n", "xap-head"} : texts));
  }
  // A flood beyond the bound costs the oldest texts, never the newest (the stop after a burst).
  deliver(kQuery + "a");
  for (std::size_t i = 0; i < XapTransport::kMaxQueuedMessages + 50; ++i) deliver(kQuery);
  deliver(kQuery + "z");
  sim.advanceMs(100);
  EXPECT_EQ(xap.QueuedCount(), XapTransport::kMaxQueuedMessages);
  const Texts kept = drain();
  EXPECT_EQ(kept.front(), kQuery);
  EXPECT_EQ(kept.back(), kQuery + "z");
  // Large texts are bounded by their bytes, long before their count.
  const std::string big = kQuery + std::string(60000, 'x');
  for (int i = 0; i < 100; ++i) deliver(big);
  sim.advanceMs(1);
  EXPECT_EQ(xap.QueuedCount(), XapTransport::kMaxQueuedBytes / big.size());
  EXPECT_LE(xap.QueuedBytes(), XapTransport::kMaxQueuedBytes);
  drain();
  EXPECT_EQ(xap.QueuedBytes(), 0u);
}

// Only commands get a checksum: its Length item holds the length of the text as sent, in four
// digits, in any letter case; a placeholder in the data is replaced too. A text never exceeds
// 1500 bytes: long values are cut, and share the room evenly.
TEST_F(XapTransportTest, SendXapWritesTheExactTextWithTheSentLengthInCommands) {
  ASSERT_GT(xap.InitSockets(), 0);
  deliver(kQuery);  // due now, not yet delivered
  EXPECT_EQ(xap.QueuedCount(), 0u);
  EXPECT_EQ(
      xap.SendXap("", "xapBSC.Event", "output.state", PackItems({{"State", "ON"}, {"Text", "a=b"}}),
                  "spykee.HeadLED.Relay", "FF.0065:1A"),
      "");
  // The program's UID by default; a piece without a name is skipped.
  xap.SendXap("x.y.z", "xAPBSC.query", "s", PackItems({{"a", "~~~~"}}) + std::string("\0junk", 5));
  EXPECT_EQ(xap.QueuedCount(), 1u);  // due events ran once
  sim.advanceMs(1);
  EXPECT_EQ(
      heard,
      (Texts{"xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\nsource=" + kSource +
                 ":spykee.HeadLED.Relay\n}\noutput.state\n{\nState=ON\nText=a=b\n}\n",
             "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:00\nclass=xAPBSC.query\nsource=" + kSource +
                 "\ntarget=x.y.z\n}\ns\n{\na=~~~~\n}\n"}));
  const Texts classes = {"xAPBSC.cmd", "XAPBSC.CMD", "xapbsc.cmd"};
  const Texts values = {"hello", "x~~~~y", std::string(12000, 'v')};
  for (std::size_t i = 0; i < values.size(); ++i) {
    heard.clear();
    xap.SendXap("a.b.c", classes[i], "output.state.1",
                PackItems({{"ID", "01"}, {"Text", values[i]}}));
    sim.advanceMs(1);
    ASSERT_EQ(heard.size(), 1u);
    XapMessage parsed;
    parsed.FromXap(heard[0]);
    EXPECT_EQ(parsed.MsgSection(), (Texts{"output.state.1", "checksum"}));
    EXPECT_EQ(parsed.GetItem("checksum", "length"),
              std::to_string(10000 + heard[0].size()).substr(1));
    const std::string text = parsed.GetItem("output.state.1", "text");
    if (i == 2) {
      EXPECT_EQ(heard[0].size(), XapTransport::kMaxMessageBytes);
      EXPECT_EQ(text, std::string(text.size() - 3, 'v') + "...");
    } else {
      EXPECT_EQ(text, i == 1 ? "x" + parsed.GetItem("checksum", "length") + "y" : values[i]);
    }
  }
  heard.clear();
  xap.SendXap("", "Homeseer.Event", "Event.Log",
              PackItems({{"Time", "now"},
                         {"Type", std::string(3000, 't')},
                         {"Data", std::string(900, 'd')},
                         {"More", std::string(5000, 'm')}}));
  sim.advanceMs(1);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].size(), XapTransport::kMaxMessageBytes);
  XapMessage parsed;
  parsed.FromXap(heard[0]);
  EXPECT_EQ(parsed.GetItem("event.log", "time"), "now");
  EXPECT_EQ(parsed.GetItem("event.log", "type").size(), parsed.GetItem("event.log", "more").size());
  EXPECT_EQ(parsed.GetItem("event.log", "data").substr(0, 10), "dddddddddd");
  // Without its values a message may still be too long: it is not sent, and the caller hears so.
  EXPECT_EQ(xap.SendXap(std::string(1500, 't'), "c", "s", "").substr(0, 2), "0 ");
  sim.advanceMs(1);
  EXPECT_EQ(heard.size(), 1u);
}

// A NUL or code 1 inside a value cannot split it into items, nor an LF start a line.
TEST_F(XapTransportTest, ControlCharactersInValuesCannotInjectItemsOrLines) {
  ASSERT_GT(xap.InitSockets(), 0);
  const char quoted[] = "abc\0Injected\1value\n}\nblock\n{\nx=1";
  const std::string line(quoted, sizeof quoted - 1);
  xap.SendXap("", "Homeseer.Event", "Event.Log", PackItems({{"Data", line}, {"Type\n", "t"}}));
  sim.advanceMs(1);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].substr(heard[0].find("}\nEvent.Log")),
            "}\nEvent.Log\n{\nData=abc\\x00Injected\\x01value\\x0A}\\x0Ablock\\x0A{\\x0Ax=1\n"
            "Type\\x0A=t\n}\n");
}

TEST_F(XapTransportTest, SendXapReportsAFailedSendAsText) {
  sim.simHost().setIpv4Addresses({"192.168.1.10"});
  xap.setBroadcastAddress("not an address");
  ASSERT_GT(xap.InitSockets(), 0);
  const std::string result = xap.SendXap("", "c", "s", "");
  EXPECT_TRUE(result.size() > 2 && result.substr(0, 2) == "0 ") << result;
  EXPECT_TRUE(log.entries.empty());
}

TEST(BusPortSetting, ComesFromQbtXapIniElseTheStandardPort) {
  rovalink::testing::TestFolder folder;
  rovalink::testing::RecordingServices services;
  settings::hs settings(services);
  settings.setAppPath(folder.path().string());
  EXPECT_EQ(ReadBusPort(settings), 3639);
  for (const std::string text : {"abc", "70000", "0", "4100"}) {
    rovalink::testing::writeFile(folder.file("Config/qbtXap.ini"),
                                 "[Interface]\r\nBusPort=" + text + "\r\n");
    EXPECT_EQ(ReadBusPort(settings), text == "4100" ? 4100 : 3639) << text;
  }
}

}  // namespace
}  // namespace rovalink::xap
