// State reports per second through the MQTT side: ReportStatus (xAP message built, MQTT state
// published) on the real event loop and libmosquitto, against mosquitto on a loopback port, until
// a subscriber on the same loop has received every report.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <string>

#include "devices/device_table.h"
#include "devices/status_reporter.h"
#include "mqtt/mosquitto_client.h"
#include "mqtt/mqtt_bridge.h"
#include "platform/qt/qt_platform.h"
#include "platform/thread_host_resolver.h"
#include "robot/robot_state.h"
#include "xap/xap_sender.h"

namespace {

using namespace rovalink;
using Clock = std::chrono::steady_clock;

class NullServices : public settings::Services {
 public:
  void LogError(const std::string&, const std::string&, const std::string&) override {}
  void LogEvent(const std::string&, const std::string& data, const std::string&) override {
    std::fprintf(stderr, "event: %s\n", data.c_str());
  }
  bool CreateFolders(const std::string&) override { return true; }
};

// Takes the xAP message's parts and drops them: xap_bench measures the transport's own cost.
class NullSender : public xap::XapSender {
 public:
  std::string SendXap(const std::string& target, const std::string& cls, const std::string& section,
                      const std::string& items, const std::string& sub,
                      const std::string& uid) override {
    m_bytes += target.size() + cls.size() + section.size() + items.size() + sub.size() + uid.size();
    return {};
  }
  std::size_t m_bytes = 0;
};

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int reports = argc > 1 ? std::atoi(argv[1]) : 20000;

  QTemporaryDir dir;
  quint16 port = 0;
  {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 1;
    port = probe.serverPort();
  }
  QFile conf(QDir(dir.path()).filePath("broker.conf"));
  if (!conf.open(QIODevice::WriteOnly)) return 1;
  conf.write("listener " + QByteArray::number(port) +
             " 127.0.0.1\nallow_anonymous true\npersistence false\nmax_queued_messages 0\n");
  conf.close();
  QProcess broker;
  broker.start("/usr/sbin/mosquitto", {"-c", conf.fileName()});
  if (!broker.waitForStarted(5000)) {
    std::fprintf(stderr, "mosquitto did not start (scripts/deps installs it)\n");
    return 1;
  }

  platform::QtPlatform platform;
  NullServices services;
  NullSender sender;
  devices::Devices table = devices::BuildDeviceTable();
  devices::StatusReporter reporter(table, sender, services);

  mqtt::MqttSettings settings;
  settings.instance = "bench";
  settings.host = "127.0.0.1";
  settings.port = port;
  settings.clientId = "rovalink-bench";
  settings.baseTopic = "bench/robot";
  settings.discoveryPrefix = "homeassistant";
  settings.cameraFps = 0;
  const robot::RobotState robotState;
  mqtt::MqttBridge bridge({platform, services, table, robotState, {}, "qbt.Spykee.bench", "bench"},
                          settings, std::make_unique<mqtt::MosquittoClient>(),
                          std::make_unique<platform::ThreadHostResolver>(platform));
  reporter.setChangeListener([&](const std::string& name) { bridge.onReport(name); });

  // The subscriber: a second client on the same loop.
  long received = 0;
  mqtt::MosquittoClient sub;
  std::string error;
  mqtt::MqttSettings subSettings = settings;
  subSettings.clientId = "rovalink-bench-sub";
  bool subscribed = false;
  sub.setCallbacks(
      {[&](int, const std::string&) { subscribed = sub.subscribe("bench/robot/Turbo/state"); },
       {},
       [&](const std::string&, const std::string&, bool) { ++received; }});
  std::unique_ptr<platform::FdWatch> subWatch;
  auto pump = [&](const std::function<bool()>& done, int maxMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(maxMs);
    while (!done() && Clock::now() < end) {
      platform.loop().waitForEvent(20);
      if (subWatch) subWatch->setWriteEnabled(sub.wantWrite());
    }
    return done();
  };
  const bool brokerUp = pump(
      [&] {
        if (subWatch) return true;
        if (!sub.configure(subSettings, "bench/sub", "gone", error) ||
            !sub.connectAsync("127.0.0.1", port, error))
          return false;
        subWatch = platform.createFdWatch(sub.socket());
        subWatch->onReadable([&] { sub.loopRead(); });
        subWatch->onWritable([&] { sub.loopWrite(); });
        subWatch->setReadEnabled(true);
        return true;
      },
      5000);
  bridge.start();
  if (!brokerUp || !pump([&] { return bridge.connected() && subscribed; }, 10000)) {
    std::fprintf(stderr, "no connection to the broker: %s\n", error.c_str());
    return 1;
  }
  pump([] { return false; }, 300);  // the retained burst of the connect goes by
  received = 0;

  // Turbo is reported on every command, changed or not: each call is one report.
  const auto start = Clock::now();
  for (int i = 0; i < reports; ++i) {
    table.at("Turbo").Status = (i % 2) == 0;
    reporter.ReportStatus("Turbo", false);
    if (i % 64 == 63) platform.loop().pumpOnce();
  }
  const auto handedOver = Clock::now();
  const bool all = pump([&] { return received >= reports; }, 30000);
  const auto end = Clock::now();

  std::printf(
      "%d state reports (xAP parts + MQTT publish): %.0f reports/s handed to the socket"
      " (%.2f us each)\n",
      reports, reports / seconds(handedOver - start), seconds(handedOver - start) * 1e6 / reports);
  std::printf("subscriber received %ld of %d: %.0f reports/s end to end through the broker%s\n",
              received, reports, received / seconds(end - start), all ? "" : " (timed out)");
  bridge.stop();
  broker.terminate();
  broker.waitForFinished(5000);
  return all ? 0 : 1;
}
