#pragma once

#include <string>

namespace rovalink::web {

class Request;
class Response;

// The program's generated page at /spykee. The page code implements it; the gateway hands it to
// the listener, which sits below the pages and never includes them.
class PageHandler {
 public:
  virtual ~PageHandler() = default;

  // Builds the page for one request. The listener sends a non-empty result with
  // Response::SendTextString; an empty result sends nothing (the handler may have answered
  // through the response itself, e.g. with Redirect).
  virtual std::string RemotePage(Request& request, Response& response) = 0;
};

}  // namespace rovalink::web
