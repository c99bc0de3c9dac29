#include <gtest/gtest.h>

#include <QJsonArray>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

// A peer acting as the gateway: registered with the hub, it sees what xap-cli sends and answers.
class XapCli : public ::testing::Test {
 protected:
  void SetUp() override {
    m_hubPort = startHub(m_hub);
    ASSERT_NE(m_hubPort, 0);
    ASSERT_TRUE(m_gateway.registerWith(m_hubPort));
  }

  bool startCli(const QStringList& arguments) {
    return m_cli.start(programPath(QStringLiteral("xap-cli")), QStringList{arguments}
                                                                   << QStringLiteral("--port")
                                                                   << QString::number(m_hubPort));
  }

  // The first datagram the gateway received that starts with an xAP header.
  std::optional<QByteArray> waitForMessage() {
    std::optional<QByteArray> found;
    waitUntil(
        [&] {
          for (const QByteArray& d : m_gateway.received())
            if (d.startsWith("xap-header")) found = d;
          return found.has_value();
        },
        kReplyMs);
    return found;
  }

  Program m_hub;
  quint16 m_hubPort = 0;
  UdpPeer m_gateway;
  Program m_cli;
};

TEST_F(XapCli, QuerySendsABscQueryAndPrintsEachReplyAsJson) {
  ASSERT_TRUE(startCli({"query", "acme.robot.host:spykee.>", "--wait", "20", "--count", "2"}));
  const auto query = waitForMessage();
  ASSERT_TRUE(query.has_value());
  const QByteArray source =
      query->mid(query->indexOf("source=") + 7,
                 query->indexOf('\n', query->indexOf("source=")) - query->indexOf("source=") - 7);
  EXPECT_EQ(*query, "xap-header\n{\nv=13\nhop=1\nuid=FF.00CC:00\nclass=xAPBSC.query\nsource=" +
                        source + "\ntarget=acme.robot.host:spykee.>\n}\nrequest\n{\n}\n");

  const QByteArray info =
      "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Info\n"
      "source=qbt.Spykee.pc:spykee.HeadLED.Relay\n}\noutput.state\n{\nState=ON\nText=0\n}\n";
  const QByteArray battery =
      "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:16\nclass=xapBSC.Info\n"
      "source=qbt.Spykee.pc:spykee.Battery.Switch\n}\ninput.state\n{\nState=ON\nText=87\n}\n";
  m_gateway.send(m_hubPort, info);
  m_gateway.send(m_hubPort, battery);

  ASSERT_EQ(m_cli.waitForExit(kReplyMs), 0) << m_cli.errorText().toStdString();
  const auto printed = m_cli.jsonLines();
  ASSERT_EQ(printed.size(), 2u) << m_cli.lines().join('\n').toStdString();
  EXPECT_EQ(printed[0]["class"].toString(), "xapBSC.Info");
  EXPECT_EQ(printed[0]["source"].toString(), "qbt.Spykee.pc:spykee.HeadLED.Relay");
  EXPECT_EQ(printed[0]["uid"].toString(), "FF.0065:1A");
  EXPECT_EQ(printed[0]["raw"].toString().toLatin1(), info);
  const QJsonObject section = printed[1]["sections"].toArray()[0].toObject();
  EXPECT_EQ(section["name"].toString(), "input.state");
  EXPECT_EQ(section["items"].toObject()["Text"].toString(), "87");
  EXPECT_EQ(section["items"].toObject()["State"].toString(), "ON");
}

struct CommandCase {
  QStringList arguments;
  QByteArray block;
};

class XapCliCommand : public XapCli, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(XapCliCommand, SendsTheCommandBlockTheGatewayReads) {
  ASSERT_TRUE(startCli(QStringList{"cmd", "acme.robot.host:spykee.headled.relay", "--wait", "0.2"}
                       << GetParam().arguments));
  const auto command = waitForMessage();
  ASSERT_TRUE(command.has_value());
  EXPECT_TRUE(command->contains("\nclass=xAPBSC.cmd\n")) << command->toStdString();
  EXPECT_TRUE(command->contains("\ntarget=acme.robot.host:spykee.headled.relay\n}\n"));
  EXPECT_TRUE(command->endsWith("}\n" + GetParam().block)) << command->toStdString();
  EXPECT_EQ(m_cli.waitForExit(kReplyMs), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, XapCliCommand,
    ::testing::Values(CommandCase{{"--id", "1A", "--state", "on"},
                                  "output.state.1\n{\nID=1A\nState=on\n}\n"},
                      CommandCase{{"--id", "*", "--state", "toggle", "--text", "40"},
                                  "output.state.1\n{\nID=*\nState=toggle\nText=40\n}\n"}));

TEST_F(XapCli, ListenPrintsMessagesButNotHeartbeatsAndCountsOnlyWhatItPrints) {
  ASSERT_TRUE(startCli({"listen", "--count", "1", "--wait", "20"}));
  ASSERT_TRUE(m_cli.waitForStderr(QStringLiteral("registered on port"), kReplyMs));

  UdpPeer other;
  other.send(m_hubPort, other.heartbeat());
  const QByteArray event =
      "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:0B\nclass=xapBSC.Event\n"
      "source=qbt.Spykee.pc:spykee.Movement.Switch\n}\ninput.state\n{\nState=ON\nText=1\n}\n";
  m_gateway.send(m_hubPort, event);

  ASSERT_EQ(m_cli.waitForExit(kReplyMs), 0);
  const auto printed = m_cli.jsonLines();
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(printed[0]["class"].toString(), "xapBSC.Event");
}

TEST_F(XapCli, ExitsWith3WhenTheCountedRepliesDoNotArriveInTime) {
  ASSERT_TRUE(startCli({"query", "acme.robot.host:*", "--wait", "0.3", "--count", "1"}));
  EXPECT_EQ(m_cli.waitForExit(kReplyMs), 3);
  EXPECT_TRUE(m_cli.jsonLines().empty());
}

TEST_F(XapCli, AnnouncesItsStopSoTheHubDropsIt) {
  ASSERT_TRUE(startCli({"query", "acme.robot.host:*", "--wait", "0.1"}));
  ASSERT_EQ(m_cli.waitForExit(kReplyMs), 0);
  EXPECT_TRUE(m_hub.waitForStderr(QStringLiteral("stopped"), kReplyMs))
      << m_hub.errorText().toStdString();
}

}  // namespace
}  // namespace rovalink::e2e
