#include "platform/qt/qt_tcp_listener.h"

#include <QNetworkProxy>

#include <utility>

#include "platform/qt/qt_tcp_socket.h"

namespace rovalink::platform {
namespace {

constexpr int kListenBacklog = 1024;

}  // namespace

QtTcpListener::QtTcpListener(std::shared_ptr<QtEventCore> core)
    : m_core(std::move(core)),
      m_server(std::make_unique<QTcpServer>()),
      m_context(std::make_unique<QObject>()) {
  // Listening on a local port never goes through a proxy (see QtUdpSocket).
  m_server->setProxy(QNetworkProxy::NoProxy);
  const auto& live = m_liveness;
  QObject::connect(m_server.get(), &QTcpServer::newConnection, m_context.get(), [this, live] {
    qt_socket::SignalScope scope(live);
    takeConnections();
  });
}

QtTcpListener::~QtTcpListener() {
  m_liveness->alive = false;
  QObject::disconnect(m_server.get(), nullptr, m_context.get(), nullptr);
  close();
  qt_socket::dispose(m_context, *m_liveness);
  qt_socket::dispose(m_server, *m_liveness);
}

bool QtTcpListener::listen(const std::string& address, std::uint16_t port, std::string* error) {
  if (m_server->isListening()) {
    if (error) *error = "Already listening";
    return false;
  }
  const auto local = qt_socket::resolve(address, true);
  if (!local) {
    if (error) *error = "Address not available";
    return false;
  }
  // Qt's default queue of 50 overflows when a crowd of clients reconnects at once, and each
  // dropped handshake costs its client a one-second retransmission.
  m_server->setListenBacklogSize(kListenBacklog);
  if (!m_server->listen(*local, port)) {
    if (error) *error = qt_socket::toText(m_server->errorString());
    return false;
  }
  return true;
}

std::uint16_t QtTcpListener::localPort() const {
  return m_server->serverPort();
}

void QtTcpListener::takeConnections() {
  const auto liveness = m_liveness;
  while (m_server->hasPendingConnections()) {
    QTcpSocket* connection = m_server->nextPendingConnection();
    if (connection == nullptr) break;
    const int requestId = m_nextRequestId++;
    m_pending[requestId] = connection;
    m_core->noteHandled();
    emitConnectionRequest(requestId);
    if (!liveness->alive) return;
    const auto left = m_pending.find(requestId);
    if (left != m_pending.end()) {
      std::unique_ptr<QTcpSocket> refused(left->second);
      m_pending.erase(left);
      refused->abort();  // not on the stack: the server's signal came from the server
    }
  }
}

bool QtTcpListener::accept(TcpSocket& socket, int requestId) {
  auto* target = dynamic_cast<QtTcpSocket*>(&socket);
  const auto found = m_pending.find(requestId);
  if (target == nullptr || found == m_pending.end()) return false;
  if (!target->adopt(found->second)) return false;
  m_pending.erase(found);
  return true;
}

void QtTcpListener::close() {
  m_server->close();
  for (auto& [id, connection] : m_pending) {
    std::unique_ptr<QTcpSocket> dropped(connection);
    dropped->abort();
  }
  m_pending.clear();
}

}  // namespace rovalink::platform
