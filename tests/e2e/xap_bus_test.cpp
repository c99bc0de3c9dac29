#include <gtest/gtest.h>

#include <QJsonArray>
#include <memory>
#include <string>
#include <vector>

#include "commands/command_dispatcher.h"
#include "devices/bsc_handler.h"
#include "devices/device_table.h"
#include "devices/status_reporter.h"
#include "e2e/e2e_support.h"
#include "platform/qt/qt_platform.h"
#include "xap/xap_helpers.h"
#include "xap/xap_transport.h"

namespace rovalink::e2e {
namespace {

constexpr const char* kSource = "qbt.Spykee.e2e";

// Stands in for the robot's LED procedures: the device changes and its state is reported.
class LedRunner : public commands::ProcedureRunner {
 public:
  LedRunner(devices::Devices& devices, devices::StatusReporter& reporter)
      : m_devices(devices), m_reporter(reporter) {}
  bool runProcedure(const commands::Command& command) override {
    ran.push_back(command.Procedure);
    if (command.Procedure != "HeadLEDOn" && command.Procedure != "HeadLEDOff") return false;
    m_devices.at("HeadLED").Status = command.Procedure == "HeadLEDOn";
    m_reporter.ReportStatus("HeadLED", false);
    return true;
  }
  std::vector<std::string> ran;

 private:
  devices::Devices& m_devices;
  devices::StatusReporter& m_reporter;
};

// The gateway's xAP side on the real Qt platform, registered with a real hub on loopback: the
// transport, the holding helper, the device table, status reporting and the BSC handler.
class XapBus : public ::testing::Test {
 protected:
  void SetUp() override {
    m_hubPort = startHub(m_hub);
    ASSERT_NE(m_hubPort, 0);

    m_transport.setXapSource(kSource);
    m_transport.setXapUID("FF.0065:00");
    // Loopback broadcast keeps the test off the real network on any host.
    m_transport.setBroadcastAddress("127.255.255.255");
    m_transport.setBusPort(m_hubPort);
    m_transport.RegisterNewMessageCallback([this] {
      for (std::string text = m_transport.GetMessage(); !text.empty();
           text = m_transport.GetMessage()) {
        m_received.push_back(text);
        m_bsc.DispatchBscMessage(text);
      }
    });
    m_bsc.setXapSource(kSource);
    m_dispatcher.setProcedureRunner(&m_runner);

    const int port = m_transport.InitSockets();
    ASSERT_GT(port, 0);
    m_helpers.setSender(&m_transport);
    m_transport.SendHeartbeat(60);
    m_helpers.setXapReady(true);
    ASSERT_TRUE(m_hub.waitForStderr(QStringLiteral("registered port %1").arg(port), kReplyMs))
        << m_hub.errorText().toStdString();
  }

  bool startCli(Program& cli, const QStringList& arguments) {
    return cli.start(programPath(QStringLiteral("xap-cli")), QStringList{arguments}
                                                                 << QStringLiteral("--port")
                                                                 << QString::number(m_hubPort));
  }

  Program m_hub;
  quint16 m_hubPort = 0;
  platform::QtPlatform m_platform;
  xap::XapHelpers m_helpers{m_platform.clock(), m_platform.host()};
  xap::XapTransport m_transport{m_platform, m_helpers};
  devices::Devices m_devices = devices::BuildDeviceTable();
  devices::StatusReporter m_reporter{m_devices, m_helpers.HeldSender(), m_helpers};
  commands::CommandDispatcher m_dispatcher{m_platform.loop(), m_platform.clock()};
  devices::BscHandler m_bsc{
      m_devices, m_dispatcher, m_platform.clock(),
      devices::BscHandler::Wiring{
          &m_transport, &m_helpers.HeldSender(),
          [this](const std::string& name, bool isInfo) { m_reporter.ReportStatus(name, isInfo); },
          &m_helpers, &m_helpers}};
  LedRunner m_runner{m_devices, m_reporter};
  std::vector<std::string> m_received;
};

TEST_F(XapBus, AQueryFromTheCliIsAnsweredWithOneInfoPerMatchingDeviceInTableOrder) {
  Program cli;
  ASSERT_TRUE(
      startCli(cli, {"query", "acme.robot.host:spykee.*.relay", "--count", "10", "--wait", "30"}));
  ASSERT_EQ(cli.waitForExit(30000), 0) << cli.errorText().toStdString();

  const auto printed = cli.jsonLines();
  ASSERT_EQ(printed.size(), 10u) << cli.lines().join('\n').toStdString();
  const std::vector<std::string> relays = {"File", "HeadLED", "LeftLED", "RightLED", "Docked",
                                           "VOIP", "Audio",   "Video",   "Turbo",    "Connected"};
  for (std::size_t i = 0; i < relays.size(); ++i) {
    SCOPED_TRACE(relays[i]);
    const devices::Device& d = m_devices.at(relays[i]);
    EXPECT_EQ(printed[i]["raw"].toString().toStdString(),
              "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:" + d.uID +
                  "\nclass=xapBSC.Info\nsource=qbt.Spykee.e2e:spykee." + d.Name +
                  ".Relay\n}\noutput.state\n{\nState=OFF\nText=0\n}\n");
  }
}

TEST_F(XapBus, ACommandFromTheCliReachesTheGatewayAndItsEventReachesAListener) {
  Program listener;
  ASSERT_TRUE(startCli(listener, {"listen", "--count", "2", "--wait", "30"}));
  ASSERT_TRUE(listener.waitForStderr(QStringLiteral("registered on port"), kReplyMs));

  Program commander;
  ASSERT_TRUE(startCli(commander, {"cmd", "acme.robot.host:spykee.headled.relay", "--id", "1A",
                                   "--state", "on", "--wait", "0.2"}));
  ASSERT_TRUE(waitUntil([&] { return !m_runner.ran.empty(); }, kReplyMs));
  EXPECT_EQ(m_runner.ran, std::vector<std::string>{"HeadLEDOn"});
  ASSERT_EQ(m_received.size(), 1u);
  EXPECT_NE(m_received[0].find("\nclass=xAPBSC.cmd\n"), std::string::npos);
  EXPECT_NE(m_received[0].find("}\noutput.state.1\n{\nID=1A\nState=on\n}\n"), std::string::npos);

  // The listener counts only what it prints; the command itself comes first through the hub.
  ASSERT_EQ(listener.waitForExit(kReplyMs), 0) << listener.errorText().toStdString();
  std::vector<QJsonObject> printed = listener.jsonLines();
  ASSERT_FALSE(printed.empty());
  EXPECT_EQ(
      printed.back()["raw"].toString().toStdString(),
      "xap-header\n{\nv=13\nhop=1\nuid=FF.0065:1A\nclass=xapBSC.Event\n"
      "source=qbt.Spykee.e2e:spykee.HeadLED.Relay\n}\noutput.state\n{\nState=ON\nText=0\n}\n");
  EXPECT_EQ(commander.waitForExit(kReplyMs), 0);
}

}  // namespace
}  // namespace rovalink::e2e
