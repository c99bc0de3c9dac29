#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUdpSocket>

#include "xap_text.h"

namespace rovalink::tools {

struct ClientOptions {
  enum class Mode { Query, Command, Listen };
  Mode mode = Mode::Listen;
  QString target;
  QString id;
  QString state;
  QString text;  // null: no Text item
  quint16 busPort = 3639;
  double waitSeconds = 0;   // 0: until interrupted (listen only)
  int count = 0;            // stop after this many printed messages (0: no limit)
  bool heartbeats = false;  // also print heartbeats
  QString source;
  QString uid;
};

// One run of xap-cli: registers with the hub from a private loopback port, sends at most one
// message and prints what comes back, one JSON object per line.
class Client : public QObject {
  Q_OBJECT

 public:
  explicit Client(ClientOptions options, QObject* parent = nullptr);

  bool start(QString* error);
  // Ends the run (also from a signal poll): announces the stop to the hub, then exits.
  void finish(int exitCode);

 private:
  void readPending();
  void handleDatagram(const QByteArray& data);
  void registered(bool confirmed);
  void sendToBus(const QByteArray& data);

  ClientOptions m_options;
  ClientIdentity m_me;
  QUdpSocket m_socket;
  QTimer m_registerTimeout;
  QTimer m_waitTimer;
  QTimer m_heartbeatTimer;
  QByteArray m_heartbeat;
  QByteArray m_sent;
  bool m_registered = false;
  bool m_finished = false;
  int m_printed = 0;
};

}  // namespace rovalink::tools
