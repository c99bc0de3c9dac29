// The real gateway on a real MQTT broker (Debian's mosquitto on a loopback port picked per test),
// with robot-sim and the hub: discovery configs and states are retained, a /set command reaches
// the robot as its exact packet, camera frames arrive as JPEGs, a killed gateway goes offline
// through its last will, and a restarted broker gets everything again.
#include <gtest/gtest.h>

#include <QFile>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

const QString kBroker = QStringLiteral("/usr/sbin/mosquitto");
const QString kSub = QStringLiteral("/usr/bin/mosquitto_sub");
const QString kPub = QStringLiteral("/usr/bin/mosquitto_pub");

QString hex(const QByteArray& text) {
  return QString::fromLatin1(text.toHex());
}

class MqttE2e : public GatewayTest {
 protected:
  void SetUp() override {
    if (!QFile::exists(kBroker) || !QFile::exists(kSub) || !QFile::exists(kPub))
      GTEST_SKIP() << "mosquitto and mosquitto-clients are not installed (scripts/deps)";
    m_port = freeTcpPort();
    ASSERT_NE(m_port, 0);
    write("broker.conf", "listener " + QByteArray::number(m_port) +
                             " 127.0.0.1\nallow_anonymous true\npersistence false\n");
  }

  void startBroker(Program& broker) {
    ASSERT_TRUE(broker.start(kBroker, {"-c", appPath("broker.conf")}));
    ASSERT_TRUE(broker.waitForStderr("running", kStartMs)) << broker.errorText().toStdString();
  }

  void startGateway() {
    ASSERT_NO_FATAL_FAILURE(startAll(
        {.sim = {"--fps", "10"},
         .spykeeLines = "[MQTT]\r\nHost=127.0.0.1\r\nPort=" + QByteArray::number(m_port) +
                        "\r\nBaseTopic=e2e/robot\r\nDiscoveryPrefix=e2eha\r\nCameraFps=5\r\n",
         .listener = true}));
  }

  // A fresh subscriber: it gets the retained messages first, flagged "1".
  void subscribe(Program& sub, const QString& topic) {
    ASSERT_TRUE(sub.start(
        kSub, {"-h", "127.0.0.1", "-p", QString::number(m_port), "-t", topic, "-F", "%r %t %x"}));
  }
  int count(const Program& sub, const QString& prefix) const {
    int n = 0;
    for (const QString& line : sub.lines()) n += line.startsWith(prefix) ? 1 : 0;
    return n;
  }
  bool waitForLine(Program& sub, const QString& line, int timeoutMs = kReplyMs) {
    return waitUntil([&] { return sub.lines().contains(line); }, timeoutMs);
  }
  void publish(const QString& topic, const QString& payload) {
    Program pub;
    ASSERT_TRUE(pub.start(
        kPub, {"-h", "127.0.0.1", "-p", QString::number(m_port), "-t", topic, "-m", payload}));
    ASSERT_EQ(pub.waitForExit(kReplyMs), 0);
  }

  quint16 m_port = 0;
  Program m_broker;
};

const QString kOn = hex(R"({"state":"ON","value":0})");

TEST_F(MqttE2e, HomeAssistantSeesTheRobotCommandsItAndSurvivesBrokerAndGatewayFaults) {
  ASSERT_NO_FATAL_FAILURE(startBroker(m_broker));
  Program live;  // everything as it happens
  ASSERT_NO_FATAL_FAILURE(subscribe(live, "#"));
  ASSERT_NO_FATAL_FAILURE(startGateway());
  ASSERT_TRUE(waitForLine(live, "0 e2e/robot/status " + hex("online"), kStartMs))
      << m_gateway.errorText().toStdString();
  ASSERT_TRUE(waitUntil([&] { return count(live, "0 e2e/robot/Connected/state") > 0; }, kReplyMs));

  // A newcomer gets the discovery configs (34 devices, dock and undock, robot status, the
  // camera) and every state, the robot's availability and link status from the broker's store.
  Program retained;
  ASSERT_NO_FATAL_FAILURE(subscribe(retained, "#"));
  ASSERT_TRUE(waitUntil([&] { return count(retained, "1 e2eha/") == 38; }, kReplyMs));
  ASSERT_TRUE(waitUntil([&] { return count(retained, "1 e2e/robot/") >= 37; }, kReplyMs));
  EXPECT_EQ(count(retained, "1 e2eha/switch/"), 7);

  // Once logged in, the head LED is switched on from the MQTT side.
  ASSERT_TRUE(waitUntil([&] { return packets().contains("18:"); }, kStartMs));
  publish("e2e/robot/HeadLED/set", "ON");
  ASSERT_TRUE(waitUntil([&] { return packets().contains("4:0001"); }, kReplyMs));
  ASSERT_TRUE(waitForLine(live, "0 e2e/robot/HeadLED/state " + kOn));
  Program state;
  ASSERT_NO_FATAL_FAILURE(subscribe(state, "e2e/robot/HeadLED/state"));
  EXPECT_TRUE(waitForLine(state, "1 e2e/robot/HeadLED/state " + kOn));

  // Over MQTT 5 the broker keeps a packet above the gateway's 64 KiB from it altogether: no
  // event about it, and the next command is taken.
  write("big.txt", QByteArray(100 * 1024, 'x'));
  Program big;
  ASSERT_TRUE(big.start(kPub, {"-h", "127.0.0.1", "-p", QString::number(m_port), "-t",
                               "e2e/robot/LeftLED/set", "-f", appPath("big.txt")}));
  ASSERT_EQ(big.waitForExit(kReplyMs), 0);
  publish("e2e/robot/LeftLED/set", "ON");
  EXPECT_TRUE(waitForLine(live, "0 e2e/robot/LeftLED/state " + kOn));
  EXPECT_FALSE(eventData("MQTT connected").empty()) << "the bus events are seen";
  EXPECT_TRUE(eventData("MQTT command").empty());

  // Camera frames come live, whole JPEG images.
  ASSERT_TRUE(waitUntil([&] { return count(live, "0 e2e/robot/camera ffd8") > 0; }, kReplyMs));
  for (const QString& line : live.lines())
    if (line.startsWith("0 e2e/robot/camera ")) {
      EXPECT_TRUE(line.endsWith("ffd9"));
    }

  // The broker restarts with nothing retained: the gateway reconnects and republishes it all.
  m_broker.stop();
  Program restarted;
  ASSERT_NO_FATAL_FAILURE(startBroker(restarted));
  bool republished = false;
  for (int attempt = 0; attempt < 40 && !republished; ++attempt) {
    Program again;  // asks afresh what the new broker retains
    ASSERT_NO_FATAL_FAILURE(subscribe(again, "e2e/robot/HeadLED/state"));
    republished = waitForLine(again, "1 e2e/robot/HeadLED/state " + kOn, 500);
  }
  EXPECT_TRUE(republished);

  // Killed without a word, the gateway goes offline through its last will.
  Program watcher;
  ASSERT_NO_FATAL_FAILURE(subscribe(watcher, "e2e/robot/status"));
  ASSERT_TRUE(waitForLine(watcher, "1 e2e/robot/status " + hex("online")));
  m_gateway.kill();
  EXPECT_TRUE(waitForLine(watcher, "0 e2e/robot/status " + hex("offline"), kStartMs));
}

}  // namespace
}  // namespace rovalink::e2e
