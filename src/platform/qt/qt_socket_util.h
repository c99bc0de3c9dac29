#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace rovalink::platform::qt_socket {

// Whether a wrapper still exists and how many of its Qt signal handlers are running. A Qt
// object must not be deleted inside its own signal, so a wrapper destroyed from one of its
// handlers hands its Qt object to deleteLater(); otherwise it deletes it at once (deferred
// deletes are dropped when the application object goes first).
struct Liveness {
  bool alive = true;
  int depth = 0;
};

class SignalScope {
 public:
  explicit SignalScope(std::shared_ptr<Liveness> liveness) : m_liveness(std::move(liveness)) {
    ++m_liveness->depth;
  }
  ~SignalScope() { --m_liveness->depth; }
  SignalScope(const SignalScope&) = delete;
  SignalScope& operator=(const SignalScope&) = delete;
  bool alive() const { return m_liveness->alive; }

 private:
  std::shared_ptr<Liveness> m_liveness;
};

template <typename T>
void dispose(std::unique_ptr<T>& object, const Liveness& liveness) {
  if (!object) return;
  if (liveness.depth > 0) {
    object.release()->deleteLater();
  } else {
    object.reset();
  }
}

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
