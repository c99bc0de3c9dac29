#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rovalink::web {

class TCPServer;

// A connection that a handler took over for a long-lived answer (a multipart picture stream, an
// event stream): its head has gone out and the owner pushes more whenever it has some. The
// listener hands the socket one piece at a time, the next when the socket has taken the last
// (its send-complete event), so what waits here is what the client has not taken yet. A
// connection whose writes make no progress for the listener's stall time is closed like any
// other. Keep it as a std::shared_ptr; every call is safe after the connection has ended.
class Stream {
 public:
  using Handler = std::function<void()>;

  // What may wait per connection; a write beyond it closes the connection, because a client
  // that takes nothing must not grow the program's memory.
  static constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;

  Stream(TCPServer& server, int index, std::uint64_t connection, std::string peerAddress);
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // False once the connection has ended (the client left, a write stalled, the owner closed it,
  // the listener stopped).
  bool open() const { return m_server != nullptr; }
  // Queues bytes behind whatever waits; they go out at once when nothing waits. False when the
  // connection has ended or this write would pass kMaxQueuedBytes (the connection is closed).
  bool write(std::string_view bytes);
  // Drops whatever waits and has not been handed to the socket yet, then writes bytes: a viewer
  // that cannot keep up gets the newest picture, never a backlog.
  bool replace(std::string_view bytes);
  // Nothing waits, here or in the socket: a write now goes straight out.
  bool drained() const;
  // Bytes waiting here and in the socket.
  std::size_t queuedBytes() const;
  // Ends the connection; the close handler runs.
  void close();

  const std::string& peerAddress() const { return m_peerAddress; }

  // Runs once when the connection ends, whoever ends it. Not run when the listener itself is
  // destroyed: the owner of a handler either outlives the listener or clears its handlers.
  void onClose(Handler handler) { m_onClose = std::move(handler); }
  // Runs each time everything queued has been taken by the network.
  void onDrained(Handler handler) { m_onDrained = std::move(handler); }

 private:
  friend class TCPServer;
  // The listener's side: the connection ended (fire: run the close handler).
  void detach(bool fire);
  void drainedNow() {
    if (auto handler = m_onDrained) handler();
  }

  TCPServer* m_server;
  int m_index;
  std::uint64_t m_connection;
  std::string m_peerAddress;
  Handler m_onClose;
  Handler m_onDrained;
};

}  // namespace rovalink::web
