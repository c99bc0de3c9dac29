#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rovalink::web {

// Who may watch and drive the robot through the live page. The camera is inside a home:
// loopback clients may watch and drive; any other address needs HTTP Basic credentials from
// [Web] User/Password, and with no password set remote access is off. Requests that change
// anything must come from a page of this server (Origin or Referer), so a web site the user
// visits cannot drive the robot through the user's browser; a Host name that is not ours
// (DNS rebinding) is refused.
struct LiveAccessConfig {
  std::string user;                // [Web] User; empty accepts any user name
  std::string password;            // [Web] Password; empty turns remote access off
  std::vector<std::string> hosts;  // [Web] Hosts: further names this server is reached by
  std::string hostName;            // this computer's name
};

struct LiveAccessRequest {
  std::string_view peer;  // the connection's address
  std::string_view host;  // the Host header ("" when none)
  std::string_view origin;
  std::string_view referer;
  std::string_view authorization;
  bool changesState = false;  // POST: drives or commands the robot
};

struct LiveAccessVerdict {
  enum class Result { Allowed, Unauthorized, RemoteOff, Forbidden, MisdirectedHost };
  Result result = Result::Allowed;
  std::string reason;

  bool allowed() const { return result == Result::Allowed; }
  // 200 (allowed), 401, 403, 403, 421.
  int status() const;
};

LiveAccessVerdict CheckLiveAccess(const LiveAccessRequest& request, const LiveAccessConfig& config);

bool IsLoopbackAddress(std::string_view address);

}  // namespace rovalink::web
