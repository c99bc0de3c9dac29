#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <deque>
#include <vector>

#include "packet_log.h"
#include "sim_options.h"

namespace robotsim {

// The robot's side of the link: answers discovery, accepts one control connection at a time,
// reads the program's packets off the byte stream and answers the way the robot does.
class RobotPeer : public QObject {
  Q_OBJECT

 public:
  RobotPeer(const SimOptions& options, PacketLog& log, QObject* parent = nullptr);

  // Binds UDP and TCP; false with a reason printed on stderr.
  bool start();
  quint16 udpPort() const { return m_udp.localPort(); }
  quint16 tcpPort() const { return m_server.serverPort(); }

 private:
  void onDiscovery();
  void onNewConnection();
  void onReadyRead();
  void onDisconnected();
  void handlePacket(quint8 type, const QByteArray& payload);
  void handleLogin(const QByteArray& payload);

  // Queues the packet as one or more writes (see --chunk); returns how many.
  int sendPacket(quint8 type, const QByteArray& payload);
  void sendNextWrite();
  void queueWrite(const QByteArray& bytes, const std::vector<qsizetype>& packetStarts);
  void flushCoalesced();
  void sendPower();
  void sendVideoFrame();
  void drainBattery();
  void updateStreams();

  SimOptions m_options;
  PacketLog& m_log;
  QUdpSocket m_udp;
  QUdpSocket m_forger;  // sends the forged answers of --forged-reply
  QTcpServer m_server;
  QPointer<QTcpSocket> m_client;
  QByteArray m_inbound;
  // Each entry is one write; the gap between writes keeps the peer's reads apart.
  std::deque<QByteArray> m_outbound;
  QTimer m_writeTimer;
  QTimer m_coalesceTimer;
  QByteArray m_coalesced;
  std::vector<qsizetype> m_coalescedStarts;
  QTimer m_powerTimer;
  QTimer m_videoTimer;
  QTimer m_batteryTimer;
  QRandomGenerator m_random;

  int m_packetsReceived = 0;
  bool m_closedOnce = false;
  bool m_loggedIn = false;
  bool m_videoOn = false;
  bool m_docked = false;
  int m_battery = 100;
  quint32 m_frameNumber = 0;
};

}  // namespace robotsim
