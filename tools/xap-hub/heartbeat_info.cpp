#include "heartbeat_info.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace rovalink::tools {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// A whole decimal number in 1..max, or 0.
int positiveNumber(std::string_view text, int max) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > max) return 0;
  return value;
}

}  // namespace

std::optional<HeartbeatInfo> parseHeartbeat(std::string_view datagram) {
  const auto firstEnd = datagram.find('\n');
  if (lower(trim(datagram.substr(0, firstEnd))) != "xap-hbeat") return std::nullopt;

  HeartbeatInfo info;
  std::string_view rest =
      firstEnd == std::string_view::npos ? std::string_view() : datagram.substr(firstEnd + 1);
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

    const auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string name = lower(trim(line.substr(0, eq)));
    const std::string_view value = trim(line.substr(eq + 1));
    if (name == "class") {
      info.hbClass = lower(value);
    } else if (name == "source") {
      info.source = std::string(value);
    } else if (name == "port") {
      info.port = positiveNumber(value, 65535);
    } else if (name == "interval") {
      // A day is far beyond any real heartbeat period; larger values are treated as absent.
      info.intervalSeconds = positiveNumber(value, 86400);
    }
  }
  return info;
}

}  // namespace rovalink::tools
