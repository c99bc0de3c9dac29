#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
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

// The HTTP listener: a listening socket, up to 100 client sockets that are loaded as needed and
// reused, a batch timer that turns collected requests into answers 50 ms after the first of
// them, and per-socket chunked streaming of binary files. Answers: the page /spykee (through the
// page handler), style sheets and images below HtmlRoot, and a hand-over to HomeSeer's web server
// for every other path. One request per connection: the connection closes after its answer.
class TCPServer {
 public:
  struct Wiring {
    platform::Platform& platform;
    settings::hs& settings;
    settings::Services& services;
  };

  static constexpr int kMaxSocketIndex = 100;
  static constexpr int kPreloadedSockets = 5;
  static constexpr int kSpareSockets = 4;
  static constexpr int kBatchMs = 50;
  static constexpr std::size_t kChunkBytes = 1000;
  static constexpr int kChunkWaitMs = 5000;
  // Bounds on what a client may make the server hold.
  static constexpr std::size_t kMaxHeadBytes = 16 * 1024;
  static constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
  static constexpr int kRequestWaitMs = 10000;
  static constexpr std::size_t kMaxPendingRequests = 1000;
  static constexpr std::size_t kMaxPendingBytes = 16 * 1024 * 1024;

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

  enum class Phase { Idle, Head, Body, PostBody, Done };

  struct Slot {
    std::unique_ptr<platform::TcpSocket> socket;
    std::unique_ptr<platform::Timer> binaryTimer;   // bounds the wait for one chunk
    std::unique_ptr<platform::Timer> requestTimer;  // bounds the wait for a complete request
    std::string Tag;                                // "1" while a binary file is streamed
    bool open = false;                              // counted in OpenSocketCount
    std::uint64_t connection = 0;                   // serial of the current connection
    Phase phase = Phase::Idle;
    std::string buffer;            // the request being collected
    std::size_t scanned = 0;       // bytes of buffer already searched for the blank line
    std::size_t headBytes = 0;     // head with its blank line, once complete
    std::size_t declaredBody = 0;  // Content-Length
    std::size_t bodyBytes = 0;     // body bytes seen after the head (POST without a length)
    bool answered = false;         // something was sent for the current request
    int BinarySendState = -1;      // 0: a chunk is in flight
    std::unique_ptr<std::ifstream> file;
    std::uint64_t fileLeft = 0;
  };

  struct PendingRequest {
    int index = 0;
    std::uint64_t connection = 0;
    std::string peerAddress;
    int peerPort = 0;
    std::string text;
  };

  void loadSocket();
  void onConnectionRequest(int requestId);
  void onData(int index, std::string_view data);
  void collect(int index, std::string_view data);
  bool queue(int index, std::string text);
  void Socket_SendComplete(int index);
  void socket_Close(int index);
  void TCPBinarySendTimer(int index);
  void dispatch(const PendingRequest& entry);

  // For Response.
  platform::SocketState clientState(int index, std::uint64_t connection) const;
  std::uint64_t connectionOf(int index) const;
  bool sendTo(int index, std::string_view data);
  void setTag(int index, const std::string& tag);
  std::string dateText() const;
  void logEvent(const std::string& data, const std::string& description = {});
  // The file below HtmlRoot that a lower-cased, "\"-separated request path names, or nothing
  // when the path leaves HtmlRoot or names no regular file.
  std::optional<std::filesystem::path> fileBelowRoot(std::string_view shortPath) const;
  std::string fullPath(std::string_view shortPath) const;
  void streamFile(int index, std::unique_ptr<std::ifstream> file, std::uint64_t size);
  void advanceStream(int index);

  platform::Platform& m_platform;
  settings::hs& m_settings;
  settings::Services& m_services;
  PageHandler* m_pageHandler = nullptr;

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
};

}  // namespace rovalink::web
