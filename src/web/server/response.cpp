#include "web/server/response.h"

#include <fstream>
#include <memory>
#include <system_error>

#include "settings/ascii_case.h"
#include "web/server/date_text.h"
#include "web/server/html_escape.h"
#include "web/server/request.h"
#include "web/server/tcp_server.h"

namespace rovalink::web {
namespace {

constexpr std::string_view kCrLf = "\r\n";
// Room for an answer's head, so the text is laid out once.
constexpr std::size_t kHeadRoom = 320;

// Content type of a file by its extension (a folder's name has no say).
std::string_view contentTypeOf(std::string_view path) {
  static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
      {".txt", "text/plain"},
      {".htm", "text/html"},
      {".html", "text/html"},
      {".css", "text/css"},
      {".js", "text/javascript"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".png", "image/png"},
      {".bmp", "image/bmp"},
      {".ico", "image/x-icon"},
      {".svg", "image/svg+xml"},
      {".wmz", "application/x-ms-wmz"},
  };
  const std::string lower = settings::toLowerAscii(path.substr(path.find_last_of("\\/") + 1));
  const std::size_t dot = lower.rfind('.');
  const std::string_view ext =
      dot == std::string::npos ? std::string_view() : std::string_view(lower).substr(dot);
  for (const auto& [extension, type] : kTypes) {
    if (ext == extension) return type;
  }
  return "application/octet-stream";
}

// A header value must not carry a line break of the client's making.
std::string headerSafe(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// "POSTx" marks a POST whose body came with its head; a browser would take it for a GET.
std::string_view formMethod(const std::string& method) {
  return method == "POSTx" ? std::string_view("POST") : std::string_view(method);
}

void line(std::string& out, std::string_view text) {
  out.append(text);
  out.append(kCrLf);
}

}  // namespace

std::string_view Response::connectionLine(int index, std::string_view closing) {
  return m_server.offerKeepAlive(index, m_connection) ? "Connection: keep-alive" : closing;
}

bool Response::connected(int index) const {
  return m_server.clientState(index, m_connection) == platform::SocketState::Connected;
}

void Response::send(int index, std::string_view text, const char* routine) {
  m_server.setTag(index, "0");
  if (!connected(index)) {
    m_server.logEvent(routine, "socket " + std::to_string(index) + " is not connected");
    return;
  }
  m_server.sendTo(index, text);
}

void Response::SendTextString(std::string_view sResponse, int index) {
  std::string out;
  out.reserve(kHeadRoom + sResponse.size());
  line(out, "HTTP/1.1 200 OK");
  line(out, "Server: qbt");
  line(out, "Date: " + m_server.dateText());
  line(out, "Expires: Tue, 04 Dec 1993 21:29:02 GMT");
  line(out, "Accept-Ranges: bytes");
  line(out, "Content-Type: text/html");
  line(out, "Content-Length: " + std::to_string(sResponse.size()));
  line(out, "Cache-Control: no-cache");
  line(out, connectionLine(index, "Connection: close"));
  line(out, kPageLocation);
  out.append(kCrLf);
  out.append(sResponse);
  send(index, out, "TCPSever_SendTextString ");
}

void Response::SendTextFile(std::string_view sShortFile, int index) {
  const auto file = m_server.fileBelowRoot(sShortFile);
  std::string text;
  bool read = false;
  if (file) {
    std::ifstream in(*file, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    read = !in.bad();
  }
  if (!read) {
    SendErrorResponse(index);
    return;
  }
  std::string out;
  line(out, "HTTP/1.0 200 OK");
  line(out, "Server: qbt");
  line(out, "Date: " + m_server.dateText());
  line(out, "Accept-Ranges: bytes");
  line(out, "Content-Type: " + std::string(contentTypeOf(sShortFile)));
  line(out, "Last-Modified: " + fileHttpDateText(*file));
  line(out, "Content-Length: " + std::to_string(text.size()));
  if (const auto kept = connectionLine(index, {}); !kept.empty()) line(out, kept);
  out.append(kCrLf);
  out.append(text);
  m_server.setTag(index, "0");
  if (!connected(index)) {
    m_server.logEvent("TCPServer Unable to send TextFile " + m_server.fullPath(sShortFile) +
                      " to socket " + std::to_string(index) + " because State is " +
                      std::to_string(static_cast<int>(m_server.clientState(index, m_connection))));
    return;
  }
  m_server.sendTo(index, out);
}

void Response::SendErrorResponse(int index) {
  std::string out;
  line(out, "HTTP/1.1 200 Object Not Found");
  line(out, "Server: qbt");
  line(out, "Date: " + m_server.dateText());
  line(out, connectionLine(index, "Connection: Close"));
  line(out, "Content-Type: text/html");
  line(out, "Content-Length: " + std::to_string(kNotFoundBody.size()));
  out.append(kCrLf);
  out.append(kNotFoundBody);
  send(index, out, "TCPServer_SendError_Response ");
}

void Response::SendBinaryFile(std::string_view sFile, int windex) {
  const std::string_view type = contentTypeOf(sFile);
  const auto file = m_server.fileBelowRoot(sFile);
  std::error_code error;
  const std::uint64_t size = file ? std::filesystem::file_size(*file, error) : 0;
  auto in = file && !error ? std::make_unique<std::ifstream>(*file, std::ios::binary) : nullptr;
  if (!in || !*in) {
    std::string out;
    line(out, "HTTP/1.1 404 Not Found");
    line(out, "Server: qbt");
    line(out, "Date:" + m_server.dateText());
    line(out, "Connection: close");
    out.append(kCrLf);
    if (connected(windex)) m_server.sendTo(windex, out);
    return;
  }
  std::string out;
  line(out, "HTTP/1.1 200 OK");
  line(out, "Server: qbt");
  line(out, "Date:" + m_server.dateText());
  line(out, "Last-Modified: " + fileDateTimeText(*file));
  line(out, "Accept-Ranges: bytes");
  line(out, "Content-Length: " + std::to_string(size));
  line(out, connectionLine(windex, "Connection: Close"));
  line(out, "Content-Type: " + std::string(type));
  out.append(kCrLf);
  if (!connected(windex)) {
    m_server.logEvent("TCPServer_SendBinaryFile " + m_server.fullPath(sFile),
                      "socket " + std::to_string(windex) + " is not connected");
    return;
  }
  m_server.setTag(windex, "1");
  m_server.sendTo(windex, out);
  m_server.streamFile(windex, std::move(in), size);
}

void Response::RedirectToHS(std::string_view sLocation, const Request& oRequest, int index) {
  std::string path = oRequest.page();
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  const std::string location =
      headerSafe("http://" + std::string(sLocation) + oRequest.page() + oRequest.Query());
  std::string out;
  // Both forms of the redirect share their head but for the status line.
  const auto head = [&](std::string_view status) {
    line(out, status);
    line(out, "Server: qbt");
    line(out, "Date: " + m_server.dateText());
    line(out, "Connection: close");
    line(out, "Content-Type: text/html");
    line(out, "Location: " + location);
  };
  if (!settings::containsNoCase(oRequest.ServerVariables("http_user_agent"), "audrey")) {
    // No body: a POST's fields are the client's to send again, never echoed back as a page.
    head("HTTP/1.0 307 NoSupport");
    out.append(kCrLf);
  } else {
    // A touch appliance cannot follow a 307 with a body: a page re-submits the fields itself.
    std::string page;
    page.append("<HTML><HEAD><SCRIPT LANGUAGE=\"JavaScript\">");
    page.append("function initialize() {document.redo.submit();}");
    page.append("</script></HEAD><body onLoad='initialize()'>");
    page.append("<form name='redo' action='" +
                HtmlEscape("http://" + std::string(sLocation) + path) + "' method='" +
                HtmlEscape(formMethod(oRequest.Method())) + "'>");
    for (const auto* fields : {&oRequest.QueryStringCol(), &oRequest.FormCol()}) {
      for (const KeyValuePair& field : *fields) {
        page.append("<input type='hidden' name='" + HtmlEscape(field.Key) + "' value='" +
                    HtmlEscape(field.Value) + "'>");
      }
    }
    page.append("</form></HTML>");
    head("HTTP/1.0 200 OK");
    line(out, "Content-Length: " + std::to_string(page.size()));
    out.append(kCrLf);
    out.append(page);
  }
  send(index, out, "TCPSever_RedirectToHS ");
}

void Response::Send(std::string_view status, std::string_view contentType, std::string_view body,
                    std::string_view extraHeaders) {
  std::string out;
  out.reserve(kHeadRoom + extraHeaders.size() + body.size());
  line(out, "HTTP/1.1 " + std::string(status));
  line(out, "Server: qbt");
  line(out, "Date: " + m_server.dateText());
  if (!contentType.empty()) line(out, "Content-Type: " + std::string(contentType));
  line(out, "Content-Length: " + std::to_string(body.size()));
  line(out, "Cache-Control: no-cache");
  line(out, connectionLine(m_index, "Connection: close"));
  out.append(extraHeaders);
  out.append(kCrLf);
  out.append(body);
  send(m_index, out, "TCPServer_Send ");
}

std::shared_ptr<Stream> Response::TakeStream(std::string_view contentType,
                                             std::string_view extraHeaders) {
  std::string out;
  line(out, "HTTP/1.1 200 OK");
  line(out, "Server: qbt");
  line(out, "Date: " + m_server.dateText());
  line(out, "Content-Type: " + std::string(contentType));
  line(out, "Cache-Control: no-cache");
  line(out, "Connection: close");
  out.append(extraHeaders);
  out.append(kCrLf);
  return m_server.takeStream(m_index, m_connection, out);
}

void Response::Redirect(std::string_view /*sData*/) {
  SendTextString(kUnauthorizedPage, m_index);
}

}  // namespace rovalink::web
