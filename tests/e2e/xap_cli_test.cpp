// tools/xap-cli through a real hub, with a bare peer standing in for the gateway.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

class XapCli : public HubTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(HubTest::SetUp());
    ASSERT_TRUE(m_gateway.registerWith(m_hubPort));
  }

  bool startCli(Program& cli, const QStringList& arguments) {
    return cli.start("xap-cli", arguments + QStringList{"--port", QString::number(m_hubPort),
                                                        "--source", "rovalink.e2e.cli"});
  }

  // The first message from the cli that the gateway peer received after the first `from`.
  std::optional<QByteArray> waitForMessage(std::size_t from = 0) {
    const auto& all = m_gateway.received();
    const auto isCli = [](const QByteArray& d) {
      return d.startsWith("xap-header") && d.contains("\nsource=rovalink.e2e.cli\n");
    };
    if (!waitUntil([&] { return std::any_of(all.begin() + from, all.end(), isCli); }, kReplyMs))
      return std::nullopt;
    return *std::find_if(all.begin() + from, all.end(), isCli);
  }

  UdpPeer m_gateway;
  Program m_cli;
};

TEST_F(XapCli, QuerySendsABscQueryPrintsEachReplyAsJsonAndAnnouncesItsStop) {
  ASSERT_TRUE(
      startCli(m_cli, {"query", "acme.robot.host:spykee.>", "--wait", "20", "--count", "2"}));
  EXPECT_EQ(waitForMessage(),
            "xap-header\n{\nv=13\nhop=1\nuid=FF.00CC:00\nclass=xAPBSC.query\n"
            "source=rovalink.e2e.cli\ntarget=acme.robot.host:spykee.>\n}\nrequest\n{\n}\n");

  const QByteArray info =
      "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Info\n"
      "source=qbt.Spykee.pc:spykee.HeadLED.Relay\n}\noutput.state\n{\nState=ON\nText=0\n}\n";
  m_gateway.send(m_hubPort, info);
  m_gateway.send(m_hubPort,
                 "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:16\nclass=xapBSC.Info\n"
                 "source=qbt.Spykee.pc:spykee.Battery.Switch\n}\ninput.state\n{\nState=ON\n"
                 "Text=87\n}\n");

  ASSERT_EQ(m_cli.waitForExit(kReplyMs), 0) << m_cli.errorText().toStdString();
  const auto printed = m_cli.jsonLines();
  ASSERT_EQ(printed.size(), 2u) << m_cli.lines().join('\n').toStdString();
  EXPECT_EQ(printed[0]["class"].toString(), "xapBSC.Info");
  EXPECT_EQ(printed[0]["source"].toString(), "qbt.Spykee.pc:spykee.HeadLED.Relay");
  EXPECT_EQ(printed[0]["uid"].toString(), "FF.0065:1A");
  EXPECT_EQ(printed[0]["raw"].toString().toLatin1(), info);
  EXPECT_EQ(printed[1]["sections"][0]["name"].toString(), "input.state");
  EXPECT_EQ(item(printed[1], "Text"), "87");
  EXPECT_EQ(item(printed[1], "State"), "ON");
  // Its stopped heartbeat makes the hub drop it at once.
  EXPECT_TRUE(m_hub.waitForStderr("(rovalink.e2e.cli): stopped", kReplyMs))
      << m_hub.errorText().toStdString();
}

TEST_F(XapCli, CmdSendsTheCommandBlockTheGatewayReads) {
  const std::pair<QStringList, QByteArray> cases[] = {
      {{"--id", "1A", "--state", "on"}, "output.state.1\n{\nID=1A\nState=on\n}\n"},
      {{"--id", "*", "--state", "toggle", "--text", "40"},
       "output.state.1\n{\nID=*\nState=toggle\nText=40\n}\n"},
  };
  for (const auto& [arguments, block] : cases) {
    const std::size_t from = m_gateway.received().size();
    Program cli;
    ASSERT_TRUE(startCli(
        cli,
        QStringList{"cmd", "acme.robot.host:spykee.headled.relay", "--wait", "0.2"} + arguments));
    ASSERT_EQ(cli.waitForExit(kReplyMs), 0) << cli.errorText().toStdString();
    EXPECT_EQ(waitForMessage(from),
              "xap-header\n{\nv=13\nhop=1\nuid=FF.00CC:00\nclass=xAPBSC.cmd\n"
              "source=rovalink.e2e.cli\ntarget=acme.robot.host:spykee.headled.relay\n}\n" +
                  block);
  }
}

TEST_F(XapCli, ListenPrintsMessagesButNotHeartbeatsAndCountsOnlyWhatItPrints) {
  ASSERT_TRUE(startCli(m_cli, {"listen", "--count", "1", "--wait", "20"}));
  ASSERT_TRUE(m_cli.waitForStderr("registered on port", kReplyMs));
  UdpPeer other;
  other.send(m_hubPort, other.heartbeat());
  m_gateway.send(m_hubPort,
                 "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:0B\nclass=xapBSC.Event\n"
                 "source=qbt.Spykee.pc:spykee.Movement.Switch\n}\ninput.state\n{\nState=ON\n"
                 "Text=1\n}\n");
  ASSERT_EQ(m_cli.waitForExit(kReplyMs), 0);
  const auto printed = m_cli.jsonLines();
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(printed[0]["class"].toString(), "xapBSC.Event");
}

TEST_F(XapCli, ExitsWith3WhenTheCountedRepliesDoNotArriveInTime) {
  ASSERT_TRUE(startCli(m_cli, {"query", "acme.robot.host:*", "--wait", "0.3", "--count", "1"}));
  EXPECT_EQ(m_cli.waitForExit(kReplyMs), 3);
  EXPECT_TRUE(m_cli.jsonLines().empty());
}

}  // namespace
}  // namespace rovalink::e2e
