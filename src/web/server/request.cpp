#include "web/server/request.h"

#include <algorithm>
#include <utility>

#include "settings/ascii_case.h"

namespace rovalink::web {
namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

std::size_t findNoCase(std::string_view text, std::string_view needle, std::size_t from) {
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
    if (settings::equalsNoCase(text.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// Position in the upper-case hex digits; -1 for any other character (lower case included) and
// 0 for a digit missing at the end of the text.
int hexValue(std::string_view text, std::size_t at) {
  if (at >= text.size()) return 0;
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  const std::size_t found = kDigits.find(text[at]);
  return found == std::string_view::npos ? -1 : static_cast<int>(found);
}

}  // namespace

void Request::ParsePage(std::string_view sData) {
  const std::size_t blank = sData.find(' ');
  if (blank == std::string_view::npos) return;
  m_method = std::string(sData.substr(0, blank));

  const std::size_t protocol = findNoCase(sData, "HTTP", blank);
  if (protocol == std::string_view::npos) return;

  // The target ends before the blank that precedes the protocol word.
  const std::size_t targetStart = blank + 1;
  const std::size_t targetEnd = protocol > targetStart ? protocol - 1 : targetStart;
  m_page = Decode(sData.substr(targetStart, targetEnd - targetStart));

  if (const std::size_t question = m_page.find('?'); question != std::string::npos) {
    m_query = m_page.substr(question);
    parseFields(std::string_view(m_query).substr(1), m_queryFields);
    m_page.erase(question);
  }

  const std::size_t blankLine = sData.find(kBlankLine, protocol);
  if (blankLine != std::string_view::npos) {
    m_header = std::string(sData.substr(protocol, blankLine - protocol));
    const std::size_t bodyStart = blankLine + kBlankLine.size();
    // A body of one or two characters is ignored.
    if (sData.size() > bodyStart + 2) {
      if (m_method == "POST") m_method = "POSTx";
      m_payload = std::string(sData.substr(bodyStart));
      replaceAll(m_payload, "\r\n", "");
      parseFields(m_payload, m_formFields);
    }
  } else {
    m_header = std::string(sData.substr(protocol));
  }

  // Header lines after the request line's protocol word; exactly one ": " separates name and
  // value, other lines are ignored.
  std::string_view rest = m_header;
  bool first = true;
  while (!rest.empty()) {
    const std::size_t end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    if (first) {
      first = false;
      continue;
    }
    const std::size_t separator = line.find(": ");
    if (separator == std::string_view::npos ||
        line.find(": ", separator + 2) != std::string_view::npos) {
      continue;
    }
    m_headers.Add(std::string(line.substr(0, separator)), std::string(line.substr(separator + 2)));
  }
}

void Request::AddPostData(std::string_view s) {
  parseFields(s, m_formFields);
}

void Request::parseFields(std::string_view text, KeyValueCollection& into) {
  while (!text.empty()) {
    const std::size_t amp = text.find('&');
    const std::string_view piece = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (piece.empty()) continue;
    const std::size_t equals = piece.find('=');
    std::string value;
    if (equals != std::string_view::npos) {
      // Everything from a second "=" on is dropped.
      const std::string_view after = piece.substr(equals + 1);
      value = std::string(after.substr(0, after.find('=')));
      replaceAll(value, "+", " ");
      replaceAll(value, "%3A", ":");
      replaceAll(value, "%5B", "[");
      replaceAll(value, "%5D", "]");
      replaceAll(value, "%5C", "\\");
    }
    into.Add(std::string(piece.substr(0, equals)), std::move(value));
  }
}

std::string Request::Decode(std::string_view s) {
  std::string result;
  result.reserve(s.size());
  for (std::size_t at = 0; at < s.size(); ++at) {
    if (s[at] == '+') {
      result.push_back(' ');
    } else if (s[at] != '%') {
      result.push_back(s[at]);
    } else {
      // A "+" among the two digits was a blank by now; it is not a digit either way.
      int code = 16 * hexValue(s, at + 1) + hexValue(s, at + 2);
      if (code < 32) code = 32;
      if (code == ':') code = '\'';
      result.push_back(static_cast<char>(static_cast<unsigned char>(code)));
      at += 2;
    }
  }
  return result;
}

std::string Request::ServerVariables(std::string_view sVar) const {
  const std::string name = settings::toLowerAscii(sVar);
  if (name == "remote_addr") return m_peerAddress;
  if (name == "remote_port") return m_peerPort > 0 ? std::to_string(m_peerPort) : std::string();
  if (name == "auth_user") return m_authUser;
  if (name == "path_info") return m_page;
  if (name == "http_user_agent") return m_headers.value("User-Agent");
  return m_headers.value(name);
}

std::string Request::Header(std::string_view name) const {
  std::string_view rest = m_header;
  rest = rest.substr(std::min(rest.size(), rest.find('\n')));  // past the request line
  while (!rest.empty()) {
    rest.remove_prefix(1);
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !settings::equalsNoCase(line.substr(0, colon), name))
      continue;
    line.remove_prefix(colon + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
      line.remove_suffix(1);
    }
    return std::string(line);
  }
  return {};
}

void Request::setPeer(std::string address, int port) {
  m_peerAddress = std::move(address);
  m_peerPort = port;
}

}  // namespace rovalink::web
