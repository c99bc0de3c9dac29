#include "web/server/stream.h"

#include <utility>

#include "web/server/tcp_server.h"

namespace rovalink::web {

Stream::Stream(TCPServer& server, int index, std::uint64_t connection, std::string peerAddress)
    : m_server(&server),
      m_index(index),
      m_connection(connection),
      m_peerAddress(std::move(peerAddress)) {}

bool Stream::write(std::string_view bytes) {
  return m_server != nullptr && m_server->streamWrite(m_index, m_connection, bytes, false);
}

bool Stream::replace(std::string_view bytes) {
  return m_server != nullptr && m_server->streamWrite(m_index, m_connection, bytes, true);
}

bool Stream::drained() const {
  return m_server != nullptr && m_server->queuedBytes(m_index, m_connection) == 0;
}

std::size_t Stream::queuedBytes() const {
  return m_server != nullptr ? m_server->queuedBytes(m_index, m_connection) : 0;
}

void Stream::close() {
  if (m_server != nullptr) m_server->closeConnection(m_index, m_connection);
}

void Stream::detach(bool fire) {
  m_server = nullptr;
  m_onDrained = nullptr;
  // The handler may drop the last reference to this stream.
  Handler handler = std::exchange(m_onClose, nullptr);
  if (fire && handler) handler();
}

}  // namespace rovalink::web
