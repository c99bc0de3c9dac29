#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace rovalink::web {

class Request;
class Stream;
class TCPServer;

// Writes one answer onto a client socket of the listener: a generated page, a text file, a
// binary file streamed in chunks, the not-found page, or the hand-over of a request to
// HomeSeer's web server. File paths are the listener's lower-cased request paths with "\"
// separators, below HtmlRoot; a path that would leave HtmlRoot is answered as not found.
class Response {
 public:
  explicit Response(TCPServer& server) : m_server(server) {}

  // The socket the answer goes to; set by the listener before any other call.
  void setIndex(int index) {
    m_index = index;
    m_connection = 0;
  }
  int index() const { return m_index; }

  void SendTextString(std::string_view sResponse, int index);
  void SendTextFile(std::string_view sShortFile, int index);
  void SendErrorResponse(int index);
  void SendBinaryFile(std::string_view sFile, int windex);
  // sLocation is HomeSeer's host, ":" and port.
  void RedirectToHS(std::string_view sLocation, const Request& oRequest, int index);
  // Sends the "Unauthorized Access" page to the socket in index (sData is not used).
  void Redirect(std::string_view sData);

  // An answer of the program's own routes: "HTTP/1.1 " and status (e.g. "204 No Content"),
  // Server, Date, Content-Type (left out when empty), Content-Length, "Cache-Control: no-cache",
  // "Connection: close" (keep-alive when the client asked for it), then extraHeaders (complete
  // lines, each ending in CRLF), the blank line and body. The connection closes once the client
  // has taken it, unless it is kept.
  void Send(std::string_view status, std::string_view contentType, std::string_view body,
            std::string_view extraHeaders = {});
  // Takes the connection over for a long-lived answer: sends a "200 OK" head like Send's but
  // without a length (the answer ends when the connection does) and returns the stream to push
  // the rest on; nullptr when the client has gone.
  std::shared_ptr<Stream> TakeStream(std::string_view contentType,
                                     std::string_view extraHeaders = {});

  // Exact answer texts, shared with the tests.
  static constexpr std::string_view kNotFoundBody = "<html><h1>404 File Not Found</h1></html>";
  static constexpr std::string_view kUnauthorizedPage = "<HTML>Unauthorized Access<HTML>";
  static constexpr std::string_view kPageLocation = "Location: http://localhost:8080/other";

 private:
  friend class TCPServer;

  bool connected(int index) const;
  // The answer's Connection line: "Connection: keep-alive" when the client asked to keep the
  // connection and the server grants it, else `closing` (the line the answer always had).
  std::string_view connectionLine(int index, std::string_view closing);
  void send(int index, std::string_view text, const char* routine);

  TCPServer& m_server;
  int m_index = 0;
  // The connection the answer belongs to (0: whichever is on the socket now), so an answer never
  // reaches a later client of a reused socket.
  std::uint64_t m_connection = 0;
};

}  // namespace rovalink::web
