#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUdpSocket>
#include <map>

namespace rovalink::tools {

// A minimal xAP hub: receives the bus port on every address and forwards each datagram,
// unchanged, to the loopback ports that local heartbeats announce.
class Hub : public QObject {
  Q_OBJECT

 public:
  explicit Hub(QObject* parent = nullptr);

  // Like real hubs, the hub announces itself to its clients every heartbeatSeconds, so a
  // registered client hears something at least that often.
  void setHeartbeatSeconds(int seconds) { m_heartbeatSeconds = seconds; }

  // Binds the bus port on all IPv4 addresses (0: any free port).
  bool listen(quint16 port, QString* error);
  quint16 port() const { return m_socket.localPort(); }

 private:
  struct Client {
    QString source;
    int intervalSeconds = 0;
    qint64 lastSeenMs = 0;
  };

  void readPending();
  void handleDatagram(const QByteArray& data, const QHostAddress& sender, quint16 senderPort);
  void dropExpired();
  void sendHeartbeat();
  bool isLocal(const QHostAddress& address) const;

  QUdpSocket m_socket;
  QTimer m_expiryTimer;
  QTimer m_heartbeatTimer;
  int m_heartbeatSeconds = 60;
  QElapsedTimer m_clock;
  std::map<quint16, Client> m_clients;  // by the announced loopback port
};

}  // namespace rovalink::tools
