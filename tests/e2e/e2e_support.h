#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
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

  bool start(const QString& name, const QStringList& arguments);
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

}  // namespace rovalink::e2e
