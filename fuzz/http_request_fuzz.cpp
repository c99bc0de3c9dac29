// Feeds arbitrary requests to the HTTP request parser and checks the invariants the listener and
// the pages rely on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "web/server/request.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  rovalink::web::Request request;
  request.ParsePage(text);
  request.setPeer("127.0.0.1", 1);

  // Decoding never lengthens text, and never yields a control character from an escape.
  check(request.page().size() <= text.size());
  check(request.Query().empty() || request.Query().front() == '?');
  check(request.page().find('?') == std::string::npos);
  check(request.Method().find(' ') == std::string::npos);
  // Identity comes from the connection whatever the client wrote.
  check(request.ServerVariables("REMOTE_ADDR") == "127.0.0.1");
  check(request.ServerVariables("auth_user").empty());

  std::size_t fields = 0;
  for (const auto& field : request.FormCol()) {
    check(request.Form(field.Key) == field.Value);
    ++fields;
  }
  request.AddPostData(text);
  check(request.FormCol().size() >= fields);
  check(rovalink::web::Request::Decode(text).size() <= text.size());
  return 0;
}
