#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/event_loop.h"
#include "platform/platform.h"
#include "platform/tcp_socket.h"
#include "settings/hs.h"
#include "settings/services.h"

namespace rovalink::web {

class PageHandler;
class Request;
class Response;
class Stream;

// The HTTP listener: a listening socket, up to 100 client sockets that are loaded as needed and
// reused, answers made as soon as a request is complete (a POST without a length waits for the
// batch timer, 50 ms after the first such request, for the rest of its body), and per-socket output
// that goes out as the socket takes it (binary files in chunks read as the last one has gone).
// Answers: the page /spykee (through the page handler), the program's own routes, style sheets and
// images below HtmlRoot, and a hand-over to HomeSeer's web server for every other path. The
// connection closes after its answer, unless a route took it over as a Stream, or the client asked
// to keep it ("Connection: keep-alive", as browsers do) and the answer carries its length: then the
// next request is read on it (a browser page polling the robot saves a handshake per request).
class TCPServer {
 public:
  // A handler of one of the program's own paths; it answers through the response (Send,
  // TakeStream). A request it leaves unanswered is closed without an answer.
  using RouteHandler = std::function<void(Request& request, Response& response)>;

  struct Wiring {
    platform::Platform& platform;
    settings::hs& settings;
    settings::Services& services;
  };

  static constexpr int kMaxSocketIndex = 100;
  static constexpr int kPreloadedSockets = 5;
  static constexpr int kSpareSockets = 4;
  static constexpr int kBatchMs = 50;
  static constexpr std::size_t kChunkBytes = 64 * 1024;
  // A connection whose output makes no progress for this long is closed.
  static constexpr int kWriteStallMs = 10000;
  // Bounds on what a client may make the server hold.
  static constexpr std::size_t kMaxHeadBytes = 16 * 1024;
  static constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
  static constexpr int kRequestWaitMs = 10000;
  static constexpr std::size_t kMaxPendingRequests = 1000;
  static constexpr std::size_t kMaxPendingBytes = 16 * 1024 * 1024;
  // Connections one client address may hold at once.
  static constexpr int kMaxPerAddress = 16;
  // With every socket busy, a connection whose output has waited this long for the client
  // may make way for a new one (after every incomplete request has).
  static constexpr int kEvictStalledMs = 1000;

  explicit TCPServer(Wiring wiring);
  // Closes every connection and the listening socket.
  ~TCPServer();
  TCPServer(const TCPServer&) = delete;
  TCPServer& operator=(const TCPServer&) = delete;

  // Reads ServerPort (double quotes removed) and ServerAddress and listens when the port is a
  // number above 0. A port that cannot be bound is reported with LogEvent; the program runs on.
  // Returns whether the server listens.
  bool Start();
  // Closes every socket and drops what is queued.
  void Stop();

  bool listening() const { return m_listening; }
  std::uint16_t port() const;
  // The /spykee page; without one /spykee is answered as not found.
  void setPageHandler(PageHandler* handler) { m_pageHandler = handler; }
  // Answers the exact path (letter case ignored, e.g. "/spykee/live.mjpg") with handler,
  // before any file or the hand-over is considered; an empty handler removes the route.
  void setRoute(const std::string& path, RouteHandler handler);
  // Bounds the connections of one address (0: no bound); loopback clients are exempt unless
  // loopbackExempt is false.
  void setAddressLimit(int perAddress, bool loopbackExempt) {
    m_perAddress = perAddress;
    m_loopbackExempt = loopbackExempt;
  }

  const std::string& HtmlRoot() const { return m_htmlRoot; }
  const std::string& HomeSeerHost() const { return m_homeSeerHost; }
  const std::string& HomeSeerPort() const { return m_homeSeerPort; }

  // Socket-array state, for tests and diagnostics.
  int OpenSocketCount() const { return m_openSocketCount; }
  int NextSocketIndex() const { return m_nextSocketIndex; }
  int highestSocketIndex() const { return static_cast<int>(m_slots.size()) - 1; }
  std::size_t PendingRequestCount() const { return m_pending.size(); }

  // Answers every queued request; the batch timer's tick.
  void ProcessRequestQueue();

 private:
  friend class Response;
  friend class Stream;

  enum class Phase { Idle, Head, Body, PostBody, Done };

  struct Slot {
    std::unique_ptr<platform::TcpSocket> socket;
    std::unique_ptr<platform::Timer> stallTimer;    // bounds a wait for output to progress
    std::unique_ptr<platform::Timer> requestTimer;  // bounds the wait for a complete request
    std::string Tag;                                // "1" while a binary file is streamed
    bool open = false;                              // counted in OpenSocketCount
    std::uint64_t connection = 0;                   // serial of the current connection
    std::string peer;                               // the client's address
    Phase phase = Phase::Idle;
    std::string buffer;            // the request being collected
    std::size_t scanned = 0;       // bytes of buffer already searched for the blank line
    std::size_t headBytes = 0;     // head with its blank line, once complete
    std::size_t declaredBody = 0;  // Content-Length
    std::size_t bodyBytes = 0;     // body bytes seen after the head (POST without a length)
    bool answered = false;         // something was sent for the current request
    bool keepAliveAsked = false;   // the current request asked to keep the connection
    bool keepAlive = false;        // its answer promised to: read the next request when sent
    // Output: pieces not yet handed to the socket, and the one send in flight (its complete
    // event, raised when the socket has taken it, lets the next piece go).
    std::deque<std::string> out;
    std::size_t outBytes = 0;
    std::size_t inFlight = 0;  // bytes of the send in flight; 0: none
    bool sending = false;
    std::size_t stallMark = 0;  // the socket's unsent bytes when the stall timer was armed
    double sentAt = 0;          // time of day the send in flight was made
    std::unique_ptr<std::ifstream> file;
    std::uint64_t fileLeft = 0;
    std::shared_ptr<Stream> stream;  // set while a route holds the connection
  };

  struct PendingRequest {
    int index = 0;
    std::uint64_t connection = 0;
    std::string peerAddress;
    int peerPort = 0;
    std::string text;
    bool ready = false;  // complete: answered at once, not at the batch
  };

  void loadSocket();
  void wire(int index);
  // A slot to free for a new connection when all are busy (0: none): the oldest incomplete
  // request, else the connection whose output has waited longest, if long enough.
  int evictionVictim() const;
  bool overAddressLimit(const std::string& address) const;
  // Answers queued requests: the complete ones, or (all) everything, as the batch did.
  void answer(bool all);
  void onConnectionRequest(int requestId);
  void onData(int index, std::string_view data);
  void collect(int index, std::string_view data);
  bool queue(int index, std::string text, bool ready);
  void refuse(int index);
  // The answer on the socket has gone out: the kept connection waits for its next request.
  void nextRequest(int index);
  void Socket_SendComplete(int index);
  void socket_Close(int index);
  void writeStallTimer(int index);
  void dispatch(const PendingRequest& entry);
  // Hands the next piece (or file chunk) to the socket when nothing is in flight.
  void pump(int index);

  // For Response.
  platform::SocketState clientState(int index, std::uint64_t connection) const;
  std::uint64_t connectionOf(int index) const;
  bool sendTo(int index, std::string_view data);
  std::shared_ptr<Stream> takeStream(int index, std::uint64_t connection, std::string_view head);
  void setTag(int index, const std::string& tag);
  // Whether the answer about to be sent may keep the connection (the request asked, and nothing
  // was sent for it yet); a yes is a promise the server keeps once the answer has gone.
  bool offerKeepAlive(int index, std::uint64_t connection);
  std::string dateText() const;
  void logEvent(const std::string& data, const std::string& description = {});
  // The file below HtmlRoot that a lower-cased, "\"-separated request path names, or nothing
  // when the path leaves HtmlRoot or names no regular file.
  std::optional<std::filesystem::path> fileBelowRoot(std::string_view shortPath) const;
  std::string fullPath(std::string_view shortPath) const;
  void streamFile(int index, std::unique_ptr<std::ifstream> file, std::uint64_t size);

  // For Stream.
  bool streamWrite(int index, std::uint64_t connection, std::string_view bytes, bool replace);
  std::size_t queuedBytes(int index, std::uint64_t connection) const;
  void closeConnection(int index, std::uint64_t connection);
  bool holds(int index, std::uint64_t connection) const;

  platform::Platform& m_platform;
  settings::hs& m_settings;
  settings::Services& m_services;
  PageHandler* m_pageHandler = nullptr;
  std::map<std::string, RouteHandler> m_routes;

  std::unique_ptr<platform::TcpListener> m_listener;
  std::unique_ptr<platform::Timer> m_serverTimer;
  std::vector<Slot> m_slots;  // element 0 stands for the listening socket
  std::deque<PendingRequest> m_pending;
  std::size_t m_pendingBytes = 0;
  std::string m_htmlRoot;
  std::string m_homeSeerHost = "127.0.0.1";
  std::string m_homeSeerPort = "80";
  int m_openSocketCount = 0;
  int m_nextSocketIndex = 0;
  std::uint64_t m_connections = 0;
  bool m_listening = false;
  bool m_processing = false;
  bool m_answerAllOwed = false;  // the batch fell due while complete requests were answered
  int m_perAddress = kMaxPerAddress;
  bool m_loopbackExempt = true;
};

}  // namespace rovalink::web
