#include "web/server/request.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace rovalink::web {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields fields(const KeyValueCollection& collection) {
  Fields out;
  for (const KeyValuePair& field : collection) out.emplace_back(field.Key, field.Value);
  return out;
}

struct ParseCase {
  const char* name;
  std::string packet;
  std::string method = {}, page = {}, query = {}, payload = {};
  Fields queryFields = {}, formFields = {};
};

class RequestParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(RequestParse, SplitsThePacket) {
  const ParseCase& c = GetParam();
  Request r;
  r.ParsePage(c.packet);
  EXPECT_EQ(r.Method(), c.method);
  EXPECT_EQ(r.page(), c.page);
  EXPECT_EQ(r.Query(), c.query);
  EXPECT_EQ(r.Payload(), c.payload);
  EXPECT_EQ(fields(r.QueryStringCol()), c.queryFields);
  EXPECT_EQ(fields(r.FormCol()), c.formFields);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, RequestParse,
    ::testing::Values(
        ParseCase{"QueryDecodedBeforeSplit",
                  "GET /spykee?a=1&b=x+y HTTP/1.1\r\n\r\n",
                  "GET",
                  "/spykee",
                  "?a=1&b=x y",
                  "",
                  {{"a", "1"}, {"b", "x y"}},
                  {}},
        ParseCase{"EncodedColonIsApostrophe", "GET /a%3Ab HTTP/1.1\r\n\r\n", "GET", "/a'b"},
        ParseCase{"LowerCaseHexCountsMinusOne", "GET /a%3ab HTTP/1.1\r\n\r\n", "GET", "/a/b"},
        ParseCase{"ControlCodesBecomeBlanks", "GET /a%0D%0Ab%2 HTTP/1.1\r\n\r\n", "GET", "/a  b "},
        ParseCase{"DecodedPercentNotDecodedAgain", "GET /%2541 HTTP/1.1\r\n\r\n", "GET", "/%41"},
        ParseCase{"EncodedSeparatorsSplit",
                  "GET /p%3Fk%3Dv%26j HTTP/1.1\r\n\r\n",
                  "GET",
                  "/p",
                  "?k=v&j",
                  "",
                  {{"k", "v"}, {"j", ""}}},
        ParseCase{"HttpInQueryCutsTarget",
                  "GET /x?u=Http://h HTTP/1.1\r\n\r\n",
                  "GET",
                  "/x",
                  "?u",
                  "",
                  {{"u", ""}}},
        ParseCase{"PostWithBodyIsPostx",
                  "POST /s HTTP/1.1\r\nA: b\r\n\r\nx=1&y=%2F&x=2",
                  "POSTx",
                  "/s",
                  "",
                  "x=1&y=%2F&x=2",
                  {},
                  {{"x", "1"}, {"y", "%2F"}}},
        ParseCase{"BodyLosesCrLfAndSecondEquals",
                  "POST /s HTTP/1.1\r\n\r\na=b=c\r\n&d=%5B%3A%5D",
                  "POSTx",
                  "/s",
                  "",
                  "a=b=c&d=%5B%3A%5D",
                  {},
                  {{"a", "b"}, {"d", "[:]"}}},
        ParseCase{"TwoCharacterBodyIgnored", "POST /s HTTP/1.1\r\n\r\nx=", "POST", "/s"},
        ParseCase{"NoBlank", "GET", ""}, ParseCase{"NoProtocolWord", "GET /spykee\r\n\r\n", "GET"},
        ParseCase{"EmptyTarget", "GET HTTP/1.0\r\n\r\n", "GET", ""}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(Request, HeadersAndServerVariables) {
  Request r;
  r.ParsePage(
      "GET /spykee HTTP/1.1\r\nHost: evil.example:8029\r\nUser-Agent: Audrey/1\r\n"
      "user-agent: second\r\nReferer: http://a: b\r\nNoSeparator\r\nAUTH_USER: admin\r\n"
      "Remote_Addr: 10.9.9.9\r\n\r\n");
  r.setPeer("192.168.1.7", 40000);
  EXPECT_EQ(r.header().substr(0, 8), "HTTP/1.1");
  EXPECT_EQ(r.ServerVariables("HTTP_USER_AGENT"), "Audrey/1");
  EXPECT_EQ(r.ServerVariables("host"), "evil.example:8029");
  EXPECT_EQ(r.ServerVariables("Referer"), "");
  // Identity comes from the connection, never from what the client wrote.
  EXPECT_EQ(r.ServerVariables("REMOTE_ADDR"), "192.168.1.7");
  EXPECT_EQ(r.ServerVariables("remote_port"), "40000");
  EXPECT_EQ(r.ServerVariables("AUTH_USER"), "");
  r.setAuthUser("verified");
  EXPECT_EQ(r.ServerVariables("auth_user"), "verified");
  EXPECT_EQ(r.ServerVariables("PATH_INFO"), "/spykee");
  // The handlers' lookup takes any "Name:value" line, the first of a name.
  for (const auto& [name, value] : {std::pair<const char*, const char*>{"referer", "http://a: b"},
                                    {"USER-AGENT", "Audrey/1"},
                                    {"NoSeparator", ""},
                                    {"Missing", ""}}) {
    EXPECT_EQ(r.Header(name), value) << name;
  }
}

}  // namespace
}  // namespace rovalink::web
