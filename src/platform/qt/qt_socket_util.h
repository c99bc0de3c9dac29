#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <optional>
#include <string>
#include <string_view>

namespace rovalink::platform::qt_socket {

// Qt objects that may be the sender of the signal being handled are deleted later, never
// inside their own signal.
struct DeleteLater {
  void operator()(QObject* object) const {
    if (object != nullptr) object->deleteLater();
  }
};

// The classic socket control's number for a Qt socket error.
int errorNumber(QAbstractSocket::SocketError error);

// "", "0.0.0.0" → any IPv4; dotted addresses as they are; other names looked up (blocking).
std::optional<QHostAddress> resolve(const std::string& host, bool allowAny);

inline QByteArray toBytes(std::string_view text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string toText(const QByteArray& bytes) {
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}
inline std::string toText(const QString& text) {
  return toText(text.toLatin1());
}
std::string dotted(const QHostAddress& address);

}  // namespace rovalink::platform::qt_socket
