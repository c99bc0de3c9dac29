#include "web/server/tcp_server.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <system_error>
#include <utility>

#include "settings/ascii_case.h"
#include "web/server/date_text.h"
#include "web/server/page_handler.h"
#include "web/server/request.h"
#include "web/server/response.h"
#include "web/server/stream.h"

namespace rovalink::web {
namespace {

constexpr const char* kSettingsFile = "qbtRovalink.ini";

std::string withoutQuotes(std::string text) {
  std::erase(text, '"');
  return text;
}

// A port is a decimal number from 1 to 65535, nothing else.
std::uint16_t portNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 65535) {
    return 0;
  }
  return static_cast<std::uint16_t>(value);
}

// Offset just past the blank line that ends the head ("\r\n\r\n", or "\n\n" from a lax client),
// searching from `from`; npos while the head is incomplete.
std::size_t headEnd(std::string_view buffer, std::size_t from) {
  const std::size_t crlf = buffer.find("\r\n\r\n", from);
  const std::size_t lf = buffer.find("\n\n", from);
  if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::string_view::npos;
  return crlf < lf ? crlf + 4 : lf + 2;
}

// Trims blanks (and a line's CR) from both ends.
std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// Calls visit(name, value) for every "name: value" line of a head, both without surrounding
// blanks, until visit returns false.
template <class Visit>
void forEachField(std::string_view head, Visit visit) {
  while (!head.empty()) {
    const std::size_t end = head.find('\n');
    const std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (!visit(name, trimmed(line.substr(colon + 1)))) return;
  }
}

// The declared body length (the first Content-Length); 0 when absent or unreadable, SIZE_MAX
// when too large to represent.
std::size_t contentLength(std::string_view head) {
  std::size_t length = 0;
  forEachField(head, [&](std::string_view name, std::string_view value) {
    if (!settings::equalsNoCase(name, "content-length")) return true;
    const auto [ptr, error] = std::from_chars(value.data(), value.data() + value.size(), length);
    if (error == std::errc::result_out_of_range) length = SIZE_MAX;
    if (error != std::errc() && error != std::errc::result_out_of_range) length = 0;
    return false;
  });
  return length;
}

// Two different Content-Length values, or a length beside a Transfer-Encoding: a proxy in front
// may split the stream into requests differently than this server does (request smuggling).
bool ambiguousLength(std::string_view head) {
  std::optional<std::string_view> length;
  bool encoded = false;
  bool differing = false;
  forEachField(head, [&](std::string_view name, std::string_view value) {
    if (settings::equalsNoCase(name, "transfer-encoding")) encoded = true;
    if (!settings::equalsNoCase(name, "content-length")) return true;
    differing = length && *length != value;
    length = value;
    return !differing;
  });
  return differing || (length && encoded);
}

// Whether the head's Connection header asks to keep the connection ("keep-alive" without
// "close"); HTTP/1.1's implicit persistence is not assumed, so a client that does not ask gets
// the answers it always got.
bool asksKeepAlive(std::string_view head) {
  bool keep = false;
  bool close = false;
  forEachField(head, [&](std::string_view name, std::string_view tokens) {
    if (!settings::equalsNoCase(name, "connection")) return true;
    while (!tokens.empty() && !close) {
      const std::size_t comma = tokens.find(',');
      const std::string_view token = trimmed(tokens.substr(0, comma));
      tokens = comma == std::string_view::npos ? std::string_view() : tokens.substr(comma + 1);
      close = settings::equalsNoCase(token, "close");
      keep = keep || settings::equalsNoCase(token, "keep-alive");
    }
    return !close;
  });
  return keep && !close;
}

bool isImage(std::string_view ext) {
  return ext == ".jpg" || ext == ".gif" || ext == ".png" || ext == ".wmz";
}

}  // namespace

TCPServer::TCPServer(Wiring wiring)
    : m_platform(wiring.platform), m_settings(wiring.settings), m_services(wiring.services) {
  // Handlers keep indices into the array and may run while another handler holds a slot:
  // the array must never move.
  m_slots.reserve(kMaxSocketIndex + 1);
  m_serverTimer = m_platform.loop().createTimer();
  m_serverTimer->onTick([this] { ProcessRequestQueue(); });
}

TCPServer::~TCPServer() {
  // The owners of stream handlers may be gone already: end the streams without calling them.
  for (std::size_t index = 1; index < m_slots.size(); ++index) {
    if (auto stream = std::move(m_slots[index].stream)) stream->detach(false);
  }
  Stop();
}

void TCPServer::setRoute(const std::string& path, RouteHandler handler) {
  if (handler) {
    m_routes[settings::toLowerAscii(path)] = std::move(handler);
  } else {
    m_routes.erase(settings::toLowerAscii(path));
  }
}

std::uint16_t TCPServer::port() const {
  return m_listener && m_listening ? m_listener->localPort() : 0;
}

bool TCPServer::Start() {
  if (m_listening) return true;
  try {
    const std::string& app = m_settings.GetAppPath();
    m_htmlRoot = (std::filesystem::path(app) / "html").string();
    m_homeSeerHost = m_settings.GetINISetting("Settings", "hsip", "127.0.0.1", kSettingsFile);
    m_homeSeerPort = m_settings.GetINISetting("Settings", "hsport", "80", kSettingsFile);
    const std::uint16_t listenPort = portNumber(
        withoutQuotes(m_settings.GetINISetting("SPYKEE", "ServerPort", "8029", kSettingsFile)));
    const std::string address =
        withoutQuotes(m_settings.GetINISetting("SPYKEE", "ServerAddress", "", kSettingsFile));
    if (listenPort > 0) {
      m_listener = m_platform.createTcpListener();
      m_listener->onConnectionRequest([this](int requestId) { onConnectionRequest(requestId); });
      std::string error;
      if (m_listener->listen(address, listenPort, &error)) {
        m_listening = true;
        if (m_slots.empty()) m_slots.emplace_back();  // element 0: the listening socket
        while (highestSocketIndex() < kPreloadedSockets) loadSocket();
        m_openSocketCount = 0;
        m_nextSocketIndex = 0;
      } else {
        m_listener.reset();
        logEvent("Server Form_Load ", "cannot listen on " +
                                          (address.empty() ? std::string("*") : address) + ":" +
                                          std::to_string(listenPort) + ": " + error);
      }
    }
    m_serverTimer->setEnabled(false);
    m_serverTimer->setInterval(0);
    m_services.CreateFolders(
        (std::filesystem::path(app) / "Data" / settings::kProgramWord / "").string());
  } catch (const std::exception& error) {
    logEvent("Server Form_Load ", error.what());
  }
  return m_listening;
}

void TCPServer::Stop() {
  m_pending.clear();
  m_pendingBytes = 0;
  m_serverTimer->setEnabled(false);
  for (std::size_t index = 1; index < m_slots.size(); ++index) {
    socket_Close(static_cast<int>(index));
  }
  m_openSocketCount = 0;
  if (m_listener) m_listener->close();
  m_listening = false;
}

void TCPServer::wire(int index) {
  platform::TcpSocket& socket = *m_slots[index].socket;
  socket.onData([this, index](std::string_view data) { onData(index, data); });
  socket.onClose([this, index] { socket_Close(index); });
  // A reset connection reports an error instead of a close; its slot must be freed all the same.
  socket.onError([this, index](int, const std::string&) { socket_Close(index); });
  socket.onSendComplete([this, index] { Socket_SendComplete(index); });
}

void TCPServer::loadSocket() {
  const int index = static_cast<int>(m_slots.size());
  Slot slot;
  slot.socket = m_platform.createTcpSocket();
  slot.stallTimer = m_platform.loop().createTimer();
  slot.stallTimer->onTick([this, index] { writeStallTimer(index); });
  slot.requestTimer = m_platform.loop().createTimer();
  slot.requestTimer->onTick([this, index] { socket_Close(index); });
  m_slots.push_back(std::move(slot));
  wire(index);
}

bool TCPServer::overAddressLimit(const std::string& address) const {
  if (m_perAddress <= 0) return false;
  if (m_loopbackExempt && (address.starts_with("127.") || address == "::1")) return false;
  int held = 0;
  for (std::size_t index = 1; index < m_slots.size(); ++index) {
    if (m_slots[index].open && m_slots[index].peer == address) ++held;
  }
  return held >= m_perAddress;
}

int TCPServer::evictionVictim() const {
  int incomplete = 0;
  int stalled = 0;
  double oldestSend = 0;
  const double now = m_platform.clock().timeOfDay();
  for (int index = 1; index <= highestSocketIndex(); ++index) {
    const Slot& slot = m_slots[index];
    if (!slot.open) continue;
    if (slot.phase == Phase::Head || slot.phase == Phase::Body) {
      if (incomplete == 0 || slot.connection < m_slots[incomplete].connection) incomplete = index;
    } else if (slot.sending) {
      double waited = now - slot.sentAt;
      if (waited < 0) waited += 24 * 60 * 60;  // past midnight
      if (waited * 1000 >= kEvictStalledMs && (stalled == 0 || slot.sentAt < oldestSend)) {
        stalled = index;
        oldestSend = slot.sentAt;
      }
    }
  }
  return incomplete != 0 ? incomplete : stalled;
}

void TCPServer::onConnectionRequest(int requestId) {
  try {
    while (m_openSocketCount >= highestSocketIndex() - kSpareSockets &&
           highestSocketIndex() < kMaxSocketIndex) {
      loadSocket();
    }
    // Every loaded socket is looked at once at most, starting after the last one given out.
    const int highest = highestSocketIndex();
    int cursor = m_nextSocketIndex;
    int chosen = 0;
    for (int step = 0; step < highest && chosen == 0; ++step) {
      cursor = (cursor + 1) % (highest + 1);
      if (cursor == 0) cursor = 1;
      const Slot& slot = m_slots[cursor];
      if (!slot.open && slot.socket->state() == platform::SocketState::Closed) chosen = cursor;
    }
    if (chosen == 0) {
      // All client sockets are busy: a slow client makes way for the new one, unless none is
      // slow or the new one's address holds its share already; a refused client learns it at
      // once instead of waiting.
      auto spare = m_platform.createTcpSocket();
      if (!m_listener->accept(*spare, requestId)) return;
      int victim = 0;
      if (!overAddressLimit(spare->remoteAddress())) {
        while ((victim = evictionVictim()) != 0) {
          // Nothing read yet may only mean that the loop has not got to it: in a crowd of new
          // connections a whole request can wait unread until it is the oldest. It is read now,
          // and only a connection that is still incomplete then makes way.
          Slot& candidate = m_slots[victim];
          if (candidate.phase != Phase::Head || !candidate.buffer.empty()) break;
          const std::uint64_t connection = candidate.connection;
          candidate.socket->deliverReceived();
          if (!holds(victim, connection) || candidate.phase == Phase::Head ||
              candidate.phase == Phase::Body) {
            break;
          }
        }
      }
      if (victim == 0) {
        spare->close();
        return;
      }
      socket_Close(victim);
      std::swap(m_slots[victim].socket, spare);
      wire(victim);
      chosen = victim;
    } else {
      m_nextSocketIndex = chosen;
      if (!m_listener->accept(*m_slots[chosen].socket, requestId)) return;
      if (overAddressLimit(m_slots[chosen].socket->remoteAddress())) {
        m_slots[chosen].socket->close();
        return;
      }
    }
    Slot& slot = m_slots[chosen];
    slot.peer = slot.socket->remoteAddress();
    ++m_openSocketCount;
    slot.open = true;
    slot.connection = ++m_connections;
    slot.Tag = "0";
    slot.phase = Phase::Head;
    slot.buffer.clear();
    slot.scanned = slot.headBytes = slot.declaredBody = slot.bodyBytes = 0;
    slot.answered = slot.keepAliveAsked = slot.keepAlive = false;
    // Answers and stream pieces are small writes that must not wait for an acknowledgement.
    slot.socket->setNoDelay(true);
    slot.requestTimer->setInterval(kRequestWaitMs);
    slot.requestTimer->setEnabled(true);
  } catch (const std::exception& error) {
    logEvent("socket_ConnectionRequest ", error.what());
  }
}

void TCPServer::onData(int index, std::string_view data) {
  try {
    collect(index, data);
  } catch (const std::exception& error) {
    logEvent("socket_DataArrival ", error.what());
  }
}

void TCPServer::collect(int index, std::string_view data) {
  Slot& slot = m_slots[index];
  if (!slot.open) return;
  if (slot.phase == Phase::PostBody) {
    // The body of a POST that declared no length, arriving after its head was queued.
    slot.bodyBytes += data.size();
    if (slot.bodyBytes > kMaxBodyBytes) {
      socket_Close(index);
      return;
    }
    queue(index, std::string(data), false);
    return;
  }
  if (slot.phase == Phase::Done && slot.keepAliveAsked) {
    // The client's next request, sent before this answer went out: read once it has.
    if (slot.buffer.size() + data.size() > kMaxHeadBytes + kMaxBodyBytes) {
      socket_Close(index);
      return;
    }
    slot.buffer.append(data);
    return;
  }
  if (slot.phase != Phase::Head && slot.phase != Phase::Body) return;

  slot.buffer.append(data);
  if (slot.phase == Phase::Head) {
    const std::size_t end = headEnd(slot.buffer, slot.scanned);
    if (end == std::string::npos) {
      slot.scanned = slot.buffer.size() >= 3 ? slot.buffer.size() - 3 : 0;
      if (slot.buffer.size() > kMaxHeadBytes) socket_Close(index);
      return;
    }
    slot.headBytes = end;
    slot.declaredBody = contentLength(std::string_view(slot.buffer).substr(0, end));
    if (end > kMaxHeadBytes || slot.declaredBody > kMaxBodyBytes) {
      socket_Close(index);
      return;
    }
    if (ambiguousLength(std::string_view(slot.buffer).substr(0, end))) {
      refuse(index);
      return;
    }
    slot.phase = Phase::Body;
    // A POST without a length ends with the connection, so it cannot keep one.
    slot.keepAliveAsked = asksKeepAlive(std::string_view(slot.buffer).substr(0, end)) &&
                          (slot.declaredBody > 0 || !slot.buffer.starts_with("POST "));
  }

  std::string text;
  Phase next = Phase::Done;
  if (slot.declaredBody > 0 || slot.keepAliveAsked) {
    const std::size_t size = slot.headBytes + slot.declaredBody;
    if (slot.buffer.size() < size) return;
    text = slot.buffer.substr(0, size);
    // On a kept connection what follows is the next request; otherwise it is dropped.
    if (slot.keepAliveAsked) {
      slot.buffer.erase(0, size);
    } else {
      std::string().swap(slot.buffer);
    }
  } else {
    // No declared length: what came with the head is the body, and a POST's body may follow.
    text = std::move(slot.buffer);
    std::string().swap(slot.buffer);
    slot.bodyBytes = text.size() - slot.headBytes;
    if (slot.bodyBytes > kMaxBodyBytes) {
      socket_Close(index);
      return;
    }
    if (text.starts_with("POST ")) next = Phase::PostBody;
  }
  slot.phase = next;
  slot.requestTimer->setEnabled(false);
  queue(index, std::move(text), next == Phase::Done);
}

void TCPServer::refuse(int index) {
  Slot& slot = m_slots[index];
  slot.phase = Phase::Done;
  slot.keepAliveAsked = false;
  slot.requestTimer->setEnabled(false);
  std::string().swap(slot.buffer);
  Response response(*this);
  response.setIndex(index);
  response.m_connection = slot.connection;
  response.Send("400 Bad Request", "text/plain", "Bad Request");
}

bool TCPServer::queue(int index, std::string text, bool ready) {
  Slot& slot = m_slots[index];
  if (m_pending.size() >= kMaxPendingRequests || m_pendingBytes + text.size() > kMaxPendingBytes) {
    socket_Close(index);
    return false;
  }
  m_pendingBytes += text.size();
  m_pending.push_back(PendingRequest{index, slot.connection, slot.socket->remoteAddress(),
                                     slot.socket->remotePort(), std::move(text), ready});
  if (ready) {
    answer(false);
  } else if (!m_serverTimer->enabled()) {
    m_serverTimer->setInterval(kBatchMs);
    m_serverTimer->setEnabled(true);
  }
  return true;
}

void TCPServer::ProcessRequestQueue() {
  answer(true);
}

void TCPServer::answer(bool all) {
  if (m_processing) {
    // The pass that runs takes new complete requests itself; the batch it must be told.
    m_answerAllOwed = m_answerAllOwed || all;
    return;
  }
  m_processing = true;
  if (all) m_serverTimer->setEnabled(false);
  // Handlers may pump events (an event sent on the bus does): new entries join the end of the
  // queue, and each turn looks afresh.
  while (true) {
    auto next = all ? m_pending.begin()
                    : std::find_if(m_pending.begin(), m_pending.end(),
                                   [](const PendingRequest& p) { return p.ready; });
    if (next == m_pending.end()) {
      if (all || !std::exchange(m_answerAllOwed, false)) break;
      all = true;
      m_serverTimer->setEnabled(false);
      continue;
    }
    PendingRequest entry = std::move(*next);
    m_pending.erase(next);
    m_pendingBytes -= entry.text.size();
    try {
      dispatch(entry);
    } catch (const std::exception& error) {
      logEvent("ProcessRequestQueue ", error.what());
    }
  }
  if (m_pending.empty()) m_serverTimer->setEnabled(false);
  m_processing = false;
}

void TCPServer::dispatch(const PendingRequest& entry) {
  Request request;
  request.ParsePage(entry.text);
  request.setPeer(entry.peerAddress, entry.peerPort);
  if (request.Method() == "POST") {
    while (!m_pending.empty() && m_pending.front().index == entry.index &&
           m_pending.front().connection == entry.connection) {
      request.AddPostData(m_pending.front().text);
      m_pendingBytes -= m_pending.front().text.size();
      m_pending.pop_front();
    }
  }

  Response response(*this);
  response.setIndex(entry.index);
  response.m_connection = entry.connection;
  std::string path = settings::toLowerAscii(request.page());
  if (const auto route = m_routes.find(path); route != m_routes.end()) {
    const RouteHandler handler = route->second;  // the handler may change the routes
    handler(request, response);
    if (holds(entry.index, entry.connection) && !m_slots[entry.index].answered) {
      socket_Close(entry.index);
    }
    return;
  }
  std::replace(path.begin(), path.end(), '/', '\\');
  const std::string ext = path.substr(path.size() >= 4 ? path.size() - 4 : 0);

  if (isImage(ext)) {
    response.SendBinaryFile(path, entry.index);
  } else if (ext == ".css") {
    response.SendTextFile(path, entry.index);
  } else if (path == "\\spykee") {
    if (m_pageHandler == nullptr) {
      response.SendErrorResponse(entry.index);
      return;
    }
    const std::string page = m_pageHandler->RemotePage(request, response);
    if (!page.empty()) {
      response.SendTextString(page, entry.index);
    } else if (connectionOf(entry.index) == entry.connection && !m_slots[entry.index].answered) {
      // Nothing will ever be sent: free the socket instead of holding it open.
      socket_Close(entry.index);
    }
  } else {
    response.RedirectToHS(m_homeSeerHost + ":" + m_homeSeerPort, request, entry.index);
  }
}

void TCPServer::Socket_SendComplete(int index) {
  try {
    Slot& slot = m_slots[index];
    if (!slot.open || !slot.sending) return;
    slot.sending = false;
    slot.inFlight = 0;
    slot.stallTimer->setEnabled(false);
    pump(index);
    if (slot.sending) return;
    if (slot.stream) {
      const std::shared_ptr<Stream> stream = slot.stream;
      stream->drainedNow();
    } else if (slot.Tag != "1") {
      slot.keepAlive ? nextRequest(index) : socket_Close(index);
    }
  } catch (const std::exception& error) {
    logEvent("Socket_SendComplete", error.what());
  }
}

void TCPServer::nextRequest(int index) {
  Slot& slot = m_slots[index];
  slot.phase = Phase::Head;
  slot.Tag = "0";
  slot.scanned = slot.headBytes = slot.declaredBody = slot.bodyBytes = 0;
  slot.answered = slot.keepAliveAsked = slot.keepAlive = false;
  // An idle kept connection counts as an incomplete request: bounded in time, first to make way.
  slot.requestTimer->setInterval(kRequestWaitMs);
  slot.requestTimer->setEnabled(true);
  if (!slot.buffer.empty()) collect(index, {});
}

bool TCPServer::offerKeepAlive(int index, std::uint64_t connection) {
  if (!holds(index, connection == 0 ? connectionOf(index) : connection)) return false;
  Slot& slot = m_slots[index];
  if (!slot.keepAliveAsked || slot.answered || slot.phase != Phase::Done || slot.stream) {
    return false;
  }
  slot.keepAlive = true;
  return true;
}

void TCPServer::pump(int index) {
  Slot& slot = m_slots[index];
  if (slot.sending || slot.socket->state() != platform::SocketState::Connected) return;
  if (slot.out.empty() && slot.file && slot.fileLeft > 0) {
    std::string chunk(static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, slot.fileLeft)),
                      '\0');
    slot.file->read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    chunk.resize(static_cast<std::size_t>(slot.file->gcount()));
    // A file that ended early leaves its answer short of its length: only a close ends it.
    if (chunk.empty()) slot.keepAlive = false;
    slot.fileLeft = chunk.empty() ? 0 : slot.fileLeft - chunk.size();
    if (!chunk.empty()) {
      slot.outBytes += chunk.size();
      slot.out.push_back(std::move(chunk));
    }
  }
  if (slot.out.empty()) {
    if (slot.file && slot.fileLeft == 0) {
      // The last chunk has gone out (or the file ended early).
      slot.file.reset();
      slot.Tag = "0";
    }
    return;
  }
  std::string piece = std::move(slot.out.front());
  slot.out.pop_front();
  slot.outBytes -= piece.size();
  slot.sending = true;
  slot.sentAt = m_platform.clock().timeOfDay();
  slot.inFlight = piece.size();
  slot.answered = true;
  slot.stallMark = slot.socket->bytesToWrite();
  slot.stallTimer->setInterval(kWriteStallMs);
  slot.stallTimer->setEnabled(true);
  if (!slot.socket->send(piece)) socket_Close(index);
}

void TCPServer::socket_Close(int index) {
  try {
    Slot& slot = m_slots[index];
    if (slot.open) {
      slot.open = false;
      --m_openSocketCount;
    }
    if (slot.socket->state() != platform::SocketState::Closed) slot.socket->close();
    slot.requestTimer->setEnabled(false);
    slot.stallTimer->setEnabled(false);
    slot.file.reset();
    slot.fileLeft = 0;
    slot.phase = Phase::Idle;
    slot.out.clear();
    slot.outBytes = slot.inFlight = 0;
    slot.sending = false;
    slot.keepAliveAsked = slot.keepAlive = false;
    std::string().swap(slot.buffer);
    const auto queued = std::find_if(m_pending.begin(), m_pending.end(),
                                     [index](const PendingRequest& p) { return p.index == index; });
    if (queued != m_pending.end()) {
      m_pendingBytes -= queued->text.size();
      m_pending.erase(queued);
    }
    // Last: the stream's owner may act on the server from its close handler.
    if (auto stream = std::move(slot.stream)) stream->detach(true);
  } catch (const std::exception& error) {
    logEvent("socket_Close ", error.what());
  }
}

void TCPServer::writeStallTimer(int index) {
  try {
    Slot& slot = m_slots[index];
    const std::size_t unsent = slot.socket->bytesToWrite();
    if (slot.sending && unsent < slot.stallMark) {
      // The socket took some of the piece in flight: progress, so wait again.
      slot.stallMark = unsent;
      return;
    }
    socket_Close(index);
  } catch (const std::exception& error) {
    logEvent("TCPBinarySendTimer_Timer", error.what());
  }
}

void TCPServer::streamFile(int index, std::unique_ptr<std::ifstream> file, std::uint64_t size) {
  Slot& slot = m_slots[index];
  slot.file = std::move(file);
  slot.fileLeft = size;
  pump(index);
}

bool TCPServer::holds(int index, std::uint64_t connection) const {
  return index >= 1 && index <= highestSocketIndex() && m_slots[index].open &&
         m_slots[index].connection == connection;
}

std::shared_ptr<Stream> TCPServer::takeStream(int index, std::uint64_t connection,
                                              std::string_view head) {
  if (connection == 0) connection = connectionOf(index);
  if (!holds(index, connection) ||
      m_slots[index].socket->state() != platform::SocketState::Connected) {
    return nullptr;
  }
  Slot& slot = m_slots[index];
  slot.Tag = "0";
  slot.stream = std::make_shared<Stream>(*this, index, connection, slot.socket->remoteAddress());
  // Anything the client sends from now on is ignored; only its close matters.
  slot.phase = Phase::Done;
  slot.keepAliveAsked = slot.keepAlive = false;
  std::string().swap(slot.buffer);
  slot.requestTimer->setEnabled(false);
  sendTo(index, head);
  return slot.stream;
}

bool TCPServer::streamWrite(int index, std::uint64_t connection, std::string_view bytes,
                            bool replace) {
  if (!holds(index, connection)) return false;
  Slot& slot = m_slots[index];
  if (replace) {
    slot.out.clear();
    slot.outBytes = 0;
  }
  if (slot.outBytes + slot.inFlight + bytes.size() > Stream::kMaxQueuedBytes) {
    socket_Close(index);
    return false;
  }
  if (bytes.empty()) return true;
  sendTo(index, bytes);
  return holds(index, connection);
}

std::size_t TCPServer::queuedBytes(int index, std::uint64_t connection) const {
  if (!holds(index, connection)) return 0;
  return m_slots[index].outBytes + m_slots[index].inFlight;
}

void TCPServer::closeConnection(int index, std::uint64_t connection) {
  if (holds(index, connection)) socket_Close(index);
}

platform::SocketState TCPServer::clientState(int index, std::uint64_t connection) const {
  if (index < 1 || index > highestSocketIndex()) return platform::SocketState::Closed;
  const Slot& slot = m_slots[index];
  if (connection != 0 && slot.connection != connection) return platform::SocketState::Closed;
  return slot.socket->state();
}

std::uint64_t TCPServer::connectionOf(int index) const {
  return index >= 1 && index <= highestSocketIndex() ? m_slots[index].connection : 0;
}

bool TCPServer::sendTo(int index, std::string_view data) {
  Slot& slot = m_slots[index];
  if (slot.socket->state() != platform::SocketState::Connected) return false;
  slot.answered = true;
  slot.outBytes += data.size();
  slot.out.emplace_back(data);
  pump(index);
  return true;
}

void TCPServer::setTag(int index, const std::string& tag) {
  if (index >= 1 && index <= highestSocketIndex()) m_slots[index].Tag = tag;
}

std::string TCPServer::dateText() const {
  return MediumDateText(m_platform.clock().localNow());
}

void TCPServer::logEvent(const std::string& data, const std::string& description) {
  m_services.LogEvent(settings::kProgramWord, data, description);
}

std::string TCPServer::fullPath(std::string_view shortPath) const {
  std::string path = m_htmlRoot + std::string(shortPath);
  std::replace(path.begin() + static_cast<std::ptrdiff_t>(m_htmlRoot.size()), path.end(), '\\',
               '/');
  return path;
}

std::optional<std::filesystem::path> TCPServer::fileBelowRoot(std::string_view shortPath) const {
  // Only plain names below the root: no "." or "..", no empty segment, no control characters,
  // and the resolved file (links followed) must still lie inside the root.
  if (m_htmlRoot.empty() || shortPath.size() < 2 || shortPath.front() != '\\') return std::nullopt;
  std::filesystem::path relative;
  std::string_view rest = shortPath.substr(1);
  while (true) {
    const std::size_t end = rest.find('\\');
    const std::string_view segment = rest.substr(0, end);
    if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
    if (std::any_of(segment.begin(), segment.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 32; })) {
      return std::nullopt;
    }
    relative /= std::string(segment);
    if (end == std::string_view::npos) break;
    rest = rest.substr(end + 1);
  }
  std::error_code error;
  const auto root = std::filesystem::canonical(m_htmlRoot, error);
  if (error) return std::nullopt;
  const auto file = std::filesystem::canonical(root / relative, error);
  if (error) return std::nullopt;
  const auto [rootEnd, fileAt] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
  if (rootEnd != root.end() || fileAt == file.end()) return std::nullopt;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  return file;
}

}  // namespace rovalink::web
