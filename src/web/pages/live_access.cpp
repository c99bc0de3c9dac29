#include "web/pages/live_access.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "settings/ascii_case.h"

namespace rovalink::web {
namespace {

using Result = LiveAccessVerdict::Result;

bool isIpv4Literal(std::string_view text) {
  int parts = 0;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t digits = 0;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + (text[i] - '0');
      ++digits;
      ++i;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++parts;
    if (i == text.size()) break;
    if (text[i] != '.') return false;
    ++i;
  }
  return parts == 4;
}

// The name part of a Host header: "[v6]:port", "name:port" or "name"; a trailing dot goes.
std::string hostName(std::string_view host) {
  if (host.starts_with('[')) {
    const std::size_t end = host.find(']');
    return end == std::string_view::npos ? std::string()
                                         : settings::toLowerAscii(host.substr(0, end + 1));
  }
  const std::size_t colon = host.rfind(':');
  if (colon != std::string_view::npos) host = host.substr(0, colon);
  if (host.ends_with('.')) host.remove_suffix(1);
  return settings::toLowerAscii(host);
}

bool knownHost(std::string_view host, const LiveAccessConfig& config) {
  // A client without Host names nothing a rebinding attacker could point at us.
  if (host.empty()) return true;
  const std::string name = hostName(host);
  if (name.empty()) return false;
  if (name.starts_with('[') || isIpv4Literal(name) || name == "localhost") return true;
  if (!config.hostName.empty() && name == settings::toLowerAscii(config.hostName)) return true;
  return std::any_of(config.hosts.begin(), config.hosts.end(),
                     [&](const std::string& h) { return !h.empty() && hostName(h) == name; });
}

std::optional<std::string> decodeBase64(std::string_view text) {
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') {
      v = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      v = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      v = c - '0' + 52;
    } else if (c == '+') {
      v = 62;
    } else if (c == '/') {
      v = 63;
    } else if (c == '=') {
      break;
    } else {
      return std::nullopt;
    }
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// Compares without stopping at the first difference, so timing tells nothing of the secret.
bool sameSecret(std::string_view a, std::string_view b) {
  unsigned diff = a.size() == b.size() ? 0U : 1U;
  const std::size_t n = std::max(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0U;
    const unsigned y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0U;
    diff |= x ^ y;
  }
  return diff == 0;
}

bool credentialsMatch(std::string_view authorization, const LiveAccessConfig& config) {
  constexpr std::string_view kBasic = "basic ";
  if (authorization.size() <= kBasic.size() ||
      settings::toLowerAscii(authorization.substr(0, kBasic.size())) != kBasic) {
    return false;
  }
  std::string_view encoded = authorization.substr(kBasic.size());
  while (encoded.starts_with(' ')) encoded.remove_prefix(1);
  const std::optional<std::string> decoded = decodeBase64(encoded);
  if (!decoded) return false;
  const std::size_t colon = decoded->find(':');
  if (colon == std::string::npos) return false;
  const std::string_view user = std::string_view(*decoded).substr(0, colon);
  const std::string_view password = std::string_view(*decoded).substr(colon + 1);
  const bool userOk = config.user.empty() || user == config.user;
  return sameSecret(password, config.password) && userOk;
}

// Origin "http://host:port" or a Referer below it names this server as the client reached it.
bool fromThisServer(const LiveAccessRequest& request) {
  if (request.host.empty()) return false;
  const std::string self = "http://" + settings::toLowerAscii(request.host);
  if (!request.origin.empty()) return settings::toLowerAscii(request.origin) == self;
  const std::string referer = settings::toLowerAscii(request.referer);
  return referer == self || referer.starts_with(self + "/");
}

}  // namespace

int LiveAccessVerdict::status() const {
  switch (result) {
    case Result::Allowed:
      return 200;
    case Result::Unauthorized:
      return 401;
    case Result::RemoteOff:
    case Result::Forbidden:
      return 403;
    case Result::MisdirectedHost:
      return 421;
  }
  return 403;
}

bool IsLoopbackAddress(std::string_view address) {
  if (address.starts_with("::ffff:")) address.remove_prefix(7);
  return address == "::1" || (address.starts_with("127.") && isIpv4Literal(address));
}

LiveAccessVerdict CheckLiveAccess(const LiveAccessRequest& request,
                                  const LiveAccessConfig& config) {
  if (!knownHost(request.host, config)) {
    return {Result::MisdirectedHost, "This server is not known by that name."};
  }
  if (!IsLoopbackAddress(request.peer)) {
    if (config.password.empty()) {
      return {Result::RemoteOff,
              "Remote access is off. To watch and drive from another computer, set User and "
              "Password in the [Web] section of Config/qbtRovalink.ini."};
    }
    if (!credentialsMatch(request.authorization, config)) {
      return {Result::Unauthorized, "Credentials required."};
    }
  }
  if (request.changesState && !fromThisServer(request)) {
    return {Result::Forbidden, "Requests that drive the robot must come from its own page."};
  }
  return {};
}

}  // namespace rovalink::web
