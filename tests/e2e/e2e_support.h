#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QHostAddress>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <functional>
#include <optional>
#include <ostream>
#include <vector>

// Lets test failures show Qt strings as text.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace rovalink::e2e {

// Bounds for waits on a slow, loaded machine: long enough never to fail a healthy run.
inline constexpr int kStartMs = 20000;
inline constexpr int kReplyMs = 10000;

// Runs the event loop until condition() holds or timeoutMs pass; returns condition().
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// A program built with the tests ("rovalink", "xap-hub", "xap-cli", "robot-sim"), or an installed
// one given by its absolute path, run as a child
// whose stdout lines and stderr text are collected. Stopped (SIGTERM, then SIGKILL) when destroyed.
class Program {
 public:
  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program();

  // unset: environment variables the program must not see.
  bool start(const QString& name, const QStringList& arguments, const QStringList& unset = {});
  // The first stdout line (from `from` on) that contains text, waiting up to timeoutMs.
  std::optional<QString> waitForLine(const QString& text, int timeoutMs, int from = 0);
  bool waitForStderr(const QString& text, int timeoutMs);
  // The exit code, or nullopt when the program is still running after timeoutMs.
  std::optional<int> waitForExit(int timeoutMs);
  void stop();
  // Sends a signal (SIGTERM, SIGINT, SIGHUP) to the running program.
  void signal(int number);
  // SIGKILL: no chance to clean up.
  void kill();

  const QStringList& lines() const { return m_lines; }
  // Every complete stdout line that is a JSON object, parsed.
  std::vector<QJsonObject> jsonLines() const;
  const QString& errorText() const { return m_stderr; }

 private:
  void collect();

  QProcess m_process;
  QByteArray m_partial;
  QStringList m_lines;
  QString m_stderr;
};

// The built program's path ("rovalink", "xap-hub", ...), as the build passed it in.
QString programPath(const QString& name);
// A loopback TCP port that was free a moment ago.
quint16 freeTcpPort();

// Starts tools/xap-hub on a free port; returns the port, or 0 (with a test failure) on error.
quint16 startHub(Program& hub, const QStringList& arguments = {});

// A bare xAP client on a private loopback port that keeps every datagram it receives.
class UdpPeer {
 public:
  UdpPeer();

  quint16 port() const { return m_socket.localPort(); }
  QByteArray heartbeat(const QString& hbClass = QStringLiteral("xap-hbeat.alive"),
                       int intervalSeconds = 60) const;
  // Sends an alive heartbeat to the hub and waits for the hub to forward it back.
  bool registerWith(quint16 hubPort, int intervalSeconds = 60,
                    const QHostAddress& to = QHostAddress::LocalHost);
  void send(quint16 port, const QByteArray& data, const QHostAddress& to = QHostAddress::LocalHost);
  bool waitFor(const QByteArray& data, int timeoutMs);
  bool hasReceived(const QByteArray& data) const;
  const std::vector<QByteArray>& received() const { return m_received; }

 private:
  QUdpSocket m_socket;
  std::vector<QByteArray> m_received;
};

// The first section's item of a message as xap-cli prints it.
QString item(const QJsonObject& message, const char* name);

// An xAPBSC.cmd to the gateway's device at subAddress, as a bus client would send it.
QByteArray bscCommand(const char* subAddress, const char* state, const char* text = nullptr,
                      const char* id = "*");

// The packets of the gateway's login, in robot-sim's log form "type:payloadhex".
inline const QStringList kLoginSequence{"10:0561646d696e056b656c706f", "15:0101", "18:", "9:32"};

// What GatewayTest::startAll sets up.
struct GatewaySetup {
  QStringList sim{};  // robot-sim arguments besides "--port 0"
  // Lines after RobotPort in [SPYKEE] of qbtRovalink.ini (may open further sections).
  QByteArray spykeeLines{};
  QByteArray interfaceAddress = "127.0.0.1";
  quint16 robotPort = 0;   // the port the gateway is given; 0: robot-sim's
  bool listener = true;    // an xap-cli listener on the bus
  bool noDisplay = false;  // started without --headless and without any display
};

// A running xap-hub on a free port.
class HubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_hubPort = startHub(m_hub);
    ASSERT_NE(m_hubPort, 0);
  }
  Program m_hub;
  quint16 m_hubPort = 0;
};

// The real `rovalink --headless` on a fresh application folder, with the hub, robot-sim and an
// xap-cli listener; the settings keep every datagram on loopback.
class GatewayTest : public ::testing::Test {
 protected:
  void TearDown() override { m_gateway.stop(); }

  void startAll(const GatewaySetup& setup);

  QString appPath(const QString& relative) const {
    return QDir(m_appDir.path()).filePath(relative);
  }
  // Writes a file below the application folder, making its folders.
  void write(const QString& relative, const QByteArray& content);
  QByteArray read(const QString& relative) const;
  QString errorLog() const { return QString::fromLatin1(read("Data/xapqbtSpykee.txt")); }

  // The packets robot-sim received, in order, as "type:payloadhex".
  QStringList packets() const;
  std::vector<QJsonObject> simEvents(const QString& name) const;
  bool waitForPackets(int count, int timeoutMs = kReplyMs);
  // The four packets of the login sequence, and the volume report that closes it on the bus.
  void waitForLogin();

  // The messages of class msgClass the listener printed.
  std::vector<QJsonObject> bus(const QString& msgClass) const;
  // The xapBSC.Event messages of one device, given by its sub-address.
  std::vector<QJsonObject> events(const QString& subAddress) const;
  // The Data items of the Homeseer.Event messages that start with start.
  std::vector<QString> eventData(const QString& start) const;

  // The hub's log of the gateway's registration, waited for: captures the port it registered,
  // then the address and port its heartbeat came from. No match when none came.
  QRegularExpressionMatch registration() const;

  void sendCommand(const char* subAddress, const char* state, const char* text = nullptr,
                   const char* id = "*");
  void sendQuery(const QByteArray& subAddress);

  QTemporaryDir m_appDir;
  QByteArray m_settings;  // qbtRovalink.ini as written
  Program m_hub;
  Program m_listener;
  UdpPeer m_sender;  // not registered: the hub passes on datagrams from anyone
  Program m_sim;
  Program m_gateway;
  quint16 m_hubPort = 0;
};

}  // namespace rovalink::e2e
