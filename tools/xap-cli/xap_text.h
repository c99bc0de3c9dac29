#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace rovalink::tools {

// The few fields the client writes into its own heartbeats and messages.
struct ClientIdentity {
  QString source;
  QString uid;
  quint16 port = 0;
};

QByteArray heartbeatText(const ClientIdentity& me, const QString& hbClass, int intervalSeconds);
QByteArray queryText(const ClientIdentity& me, const QString& target);
QByteArray commandText(const ClientIdentity& me, const QString& target, const QString& id,
                       const QString& state, const QString& text);

// One received datagram as a JSON object: "kind" (first line), "class", "source", "target",
// "uid" (header values, "" when absent), "sections" (array of {"name", "items"}, item names
// as written), "raw" (the whole text, Latin-1). Lenient: any text gives an object.
QJsonObject describeDatagram(const QByteArray& datagram);

}  // namespace rovalink::tools
