#include "platform/qt/qt_tcp_listener.h"

#include <utility>

#include "platform/qt/qt_tcp_socket.h"

namespace rovalink::platform {

QtTcpListener::QtTcpListener(std::shared_ptr<QtEventCore> core)
    : m_core(std::move(core)), m_server(new QTcpServer) {
  QObject::connect(m_server.get(), &QTcpServer::newConnection, &m_context,
                   [this] { takeConnections(); });
}

QtTcpListener::~QtTcpListener() {
  *m_alive = false;
  QObject::disconnect(m_server.get(), nullptr, &m_context, nullptr);
  close();
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
  const auto alive = m_alive;
  while (m_server->hasPendingConnections()) {
    QTcpSocket* connection = m_server->nextPendingConnection();
    if (connection == nullptr) break;
    const int requestId = m_nextRequestId++;
    m_pending[requestId] = connection;
    m_core->noteHandled();
    emitConnectionRequest(requestId);
    if (!*alive) return;
    const auto left = m_pending.find(requestId);
    if (left != m_pending.end()) {
      left->second->abort();
      left->second->deleteLater();
      m_pending.erase(left);
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
    connection->abort();
    connection->deleteLater();
  }
  m_pending.clear();
}

}  // namespace rovalink::platform
