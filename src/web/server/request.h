#pragma once

#include <string>
#include <string_view>

#include "web/server/key_value_collection.h"

namespace rovalink::web {

// One HTTP request as the listener collected it from a connection. The parser is tolerant: it
// never rejects a request; whatever it cannot find stays empty.
class Request {
 public:
  // Parses one complete request (head, and the body when one came with it).
  void ParsePage(std::string_view sData);
  // Parses s as form fields into the form collection (a body that arrived after the head).
  // Payload is not changed.
  void AddPostData(std::string_view s);
  // URL-decodes s: "+" is a blank, %XX is the byte XX (upper-case hex digits only; codes below
  // 32 become a blank, a colon becomes an apostrophe).
  static std::string Decode(std::string_view s);

  const std::string& page() const { return m_page; }
  const std::string& Payload() const { return m_payload; }
  const std::string& header() const { return m_header; }
  const std::string& Query() const { return m_query; }
  const std::string& Method() const { return m_method; }

  // Field values; empty text when the field is missing.
  std::string QueryString(std::string_view sKey) const { return m_queryFields.value(sKey); }
  std::string Form(std::string_view sKey) const { return m_formFields.value(sKey); }
  const KeyValueCollection& QueryStringCol() const { return m_queryFields; }
  const KeyValueCollection& FormCol() const { return m_formFields; }
  const KeyValueCollection& Headers() const { return m_headers; }
  // The value of the first header line with that name (letter case ignored), blanks around it
  // removed; empty when there is none. Unlike Headers(), any "Name:value" line counts, so a
  // header a client wrote without a blank (or with ": " inside its value) is still seen.
  std::string Header(std::string_view name) const;

  // sVar without regard to letter case:
  //   "remote_addr"     the connection's peer address (never a client-sent header)
  //   "remote_port"     the connection's peer port
  //   "auth_user"       the user the server verified (setAuthUser); never a client-sent header
  //   "path_info"       page
  //   "http_user_agent" the User-Agent header
  //   anything else     the header of that name
  // Empty text when there is no such value.
  std::string ServerVariables(std::string_view sVar) const;

  // The peer of the connection the request came on; the listener sets it. Security decisions,
  // client-type tests and page-hit logs use it, because a Host header is whatever the client
  // chose to send.
  void setPeer(std::string address, int port);
  const std::string& PeerAddress() const { return m_peerAddress; }
  int PeerPort() const { return m_peerPort; }

  // A user name that server-side code has verified; empty until then.
  void setAuthUser(std::string user) { m_authUser = std::move(user); }

 private:
  static void parseFields(std::string_view text, KeyValueCollection& into);

  KeyValueCollection m_queryFields;
  KeyValueCollection m_formFields;
  KeyValueCollection m_headers;
  std::string m_query;
  std::string m_page;
  std::string m_payload;
  std::string m_header;
  std::string m_method;
  std::string m_peerAddress;
  int m_peerPort = 0;
  std::string m_authUser;
};

}  // namespace rovalink::web
