#include "web/server/tcp_server.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/sim_tcp_socket.h"
#include "support/web_server_rig.h"
#include "web/server/page_handler.h"
#include "web/server/request.h"
#include "web/server/response.h"
#include "web/server/stream.h"

namespace rovalink::web {
namespace {

using test::WebServerRig;

// Answers /spykee with a fixed text and keeps what it saw of each request.
struct RecordingPage : PageHandler {
  std::string answer = "<p>hi</p>";
  std::vector<std::string> seen;  // method, then the form fields as key=value, then the peer
  std::string RemotePage(Request& request, Response&) override {
    std::string line = request.Method();
    for (const KeyValuePair& field : request.FormCol()) line += " " + field.Key + "=" + field.Value;
    seen.push_back(line + " from " + request.ServerVariables("remote_addr"));
    return answer;
  }
};

// Every file date is written in UTC here, so the expected texts do not depend on the machine.
class WebServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) m_savedTz = tz;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    rig.server.setPageHandler(&page);
    // A route of the program's own: echoes what a handler can learn of the request.
    rig.server.setRoute("/Echo", [](Request& request, Response& response) {
      response.Send(
          "200 OK", "text/plain",
          request.Form("k") + "|" + request.Header("origin") + "|" + request.PeerAddress(),
          "X-Extra: 1\r\n");
    });
    rig.server.setRoute("/live", [this](Request&, Response& response) {
      stream = response.TakeStream("text/event-stream");
      stream->onClose([this] { ++closes; });
      stream->onDrained([this] { ++drains; });
    });
    ASSERT_TRUE(rig.server.Start());
  }
  void TearDown() override {
    m_savedTz ? ::setenv("TZ", m_savedTz->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }

  // Writes a file below html/ modified at 6 Dec 2026 13:05:09 UTC.
  void dated(const std::string& relative, const std::string& content) {
    const std::string path = rig.htmlFile(relative, content);
    const auto when = std::chrono::sys_days{std::chrono::year{2026} / 12 / 6} +
                      std::chrono::hours{13} + std::chrono::minutes{5} + std::chrono::seconds{9};
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(when));
  }

  WebServerRig rig;
  RecordingPage page;
  std::shared_ptr<Stream> stream;
  int closes = 0;
  int drains = 0;

 private:
  std::optional<std::string> m_savedTz;
};

const std::string kNotFound =
    "HTTP/1.1 200 Object Not Found\r\nServer: qbt\r\nDate: 07-Dec-26\r\nConnection: Close\r\n"
    "Content-Type: text/html\r\nContent-Length: 40\r\n\r\n"
    "<html><h1>404 File Not Found</h1></html>";
const std::string kBare404 =
    "HTTP/1.1 404 Not Found\r\nServer: qbt\r\nDate:07-Dec-26\r\nConnection: close\r\n\r\n";
const std::string kBadRequest =
    "HTTP/1.1 400 Bad Request\r\nServer: qbt\r\nDate: 07-Dec-26\r\nContent-Type: text/plain\r\n"
    "Content-Length: 11\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\nBad Request";

TEST_F(WebServer, AnswersEveryFormWithTheExactBytes) {
  dated("style/main.css", "body{}");
  const std::string redirectHead =
      "HTTP/1.0 307 NoSupport\r\nServer: qbt\r\nDate: 07-Dec-26\r\nConnection: close\r\n"
      "Content-Type: text/html\r\nLocation: http://127.0.0.1:80";
  const std::string audreyPage =
      "<HTML><HEAD><SCRIPT LANGUAGE=\"JavaScript\">function initialize() "
      "{document.redo.submit();}</script></HEAD><body onLoad='initialize()'><form name='redo' "
      "action='http://127.0.0.1:80/ctrl' method='POST'><input type='hidden' name='a' "
      "value='1'><input type='hidden' name='b' value='&#39;&gt;&lt;script&gt;&quot;'><input "
      "type='hidden' name='&lt;k&gt;' value='x'></form></HTML>";
  const std::string audreyBody = "b='><script>\"&<k>=x";
  const struct {
    std::string request, answer;
  } cases[] = {
      {"GET /SPYKEE?x=1 HTTP/1.1\r\n\r\n",
       "HTTP/1.1 200 OK\r\nServer: qbt\r\nDate: 07-Dec-26\r\nExpires: Tue, 04 Dec 1993 21:29:02 "
       "GMT\r\nAccept-Ranges: bytes\r\nContent-Type: text/html\r\nContent-Length: 9\r\n"
       "Cache-Control: no-cache\r\nConnection: close\r\nLocation: http://localhost:8080/other\r\n"
       "\r\n<p>hi</p>"},
      {"GET /Style/Main.CSS HTTP/1.1\r\n\r\n",
       "HTTP/1.0 200 OK\r\nServer: qbt\r\nDate: 07-Dec-26\r\nAccept-Ranges: bytes\r\n"
       "Content-Type: text/css\r\nLast-Modified: Sun, 06 Dec 2026 13:05:09 GMT\r\n"
       "Content-Length: 6\r\n"
       "\r\nbody{}"},
      {"GET /style/missing.css HTTP/1.1\r\n\r\n", kNotFound},
      {"GET /images/missing.gif HTTP/1.1\r\n\r\n", kBare404},
      {"GET /spykee/ HTTP/1.1\r\n\r\n", redirectHead + "/spykee/\r\n\r\n"},
      {"GET /spykee.htm?a=b+c HTTP/1.1\r\n\r\n", redirectHead + "/spykee.htm?a=b c\r\n\r\n"},
      {"POST /x HTTP/1.1\r\nContent-Length: 7\r\n\r\na=1&b=2", redirectHead + "/x\r\n\r\n"},
      {"POST /x HTTP/1.1\r\nContent-Length: 3\r\ncontent-length:3\r\n\r\na=1",
       redirectHead + "/x\r\n\r\n"},
      {"POST /x HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 30\r\n\r\na=1", kBadRequest},
      {"POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\na=1",
       kBadRequest},
      {"GET /a%0D%0Ab HTTP/1.1\r\n\r\n", redirectHead + "/a  b\r\n\r\n"},
      {"POST /ctrl?a=1 HTTP/1.1\r\nUser-Agent: my AUDREY\r\nContent-Length: " +
           std::to_string(audreyBody.size()) + "\r\n\r\n" + audreyBody,
       "HTTP/1.0 200 OK\r\nServer: qbt\r\nDate: 07-Dec-26\r\nConnection: close\r\n"
       "Content-Type: text/html\r\nLocation: http://127.0.0.1:80/ctrl?a=1\r\nContent-Length: " +
           std::to_string(audreyPage.size()) + "\r\n\r\n" + audreyPage},
      {"POST /echo HTTP/1.1\r\nOrigin:  http://a:1 \r\nContent-Length: 3\r\n\r\nk=v",
       "HTTP/1.1 200 OK\r\nServer: qbt\r\nDate: 07-Dec-26\r\nContent-Type: text/plain\r\n"
       "Content-Length: 22\r\nCache-Control: no-cache\r\nConnection: close\r\nX-Extra: 1\r\n\r\n"
       "v|http://a:1|127.0.0.1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rig.fetch(c.request), c.answer) << c.request;
  }
  EXPECT_EQ(rig.server.OpenSocketCount(), 0);
}

TEST_F(WebServer, KeepsTheConnectionOnlyWhenAskedAndTheAnswerCarriesItsLength) {
  dated("style/main.css", "body{}");
  const std::string keep = " HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n";
  auto client = rig.connect();
  // Two requests in one segment, then one after their answers: each answered in turn.
  client->send("GET /spykee" + keep + "GET /style/main.css" + keep);
  rig.sim.runUntil([] { return false; }, 100);
  client->send("POST /echo HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: 3\r\n\r\nk=v");
  rig.sim.runUntil([] { return false; }, 100);
  EXPECT_FALSE(client->closed);
  EXPECT_EQ(client->data,
            "HTTP/1.1 200 OK\r\nServer: qbt\r\nDate: 07-Dec-26\r\nExpires: Tue, 04 Dec 1993 "
            "21:29:02 GMT\r\nAccept-Ranges: bytes\r\nContent-Type: text/html\r\nContent-Length: "
            "9\r\nCache-Control: no-cache\r\nConnection: keep-alive\r\nLocation: "
            "http://localhost:8080/other\r\n\r\n<p>hi</p>"
            "HTTP/1.0 200 OK\r\nServer: qbt\r\nDate: 07-Dec-26\r\nAccept-Ranges: bytes\r\n"
            "Content-Type: text/css\r\nLast-Modified: Sun, 06 Dec 2026 13:05:09 GMT\r\n"
            "Content-Length: 6\r\nConnection: keep-alive\r\n\r\nbody{}"
            "HTTP/1.1 200 OK\r\nServer: qbt\r\nDate: 07-Dec-26\r\nContent-Type: text/plain\r\n"
            "Content-Length: 12\r\nCache-Control: no-cache\r\nConnection: keep-alive\r\n"
            "X-Extra: 1\r\n\r\nv||127.0.0.1");
  // An answer without a length ends with the close, kept or not.
  client->data.clear();
  client->send("GET /images/missing.gif" + keep);
  ASSERT_TRUE(rig.sim.runUntil([&] { return client->closed; }, 100));
  EXPECT_EQ(client->data, kBare404);
  // A POST without a length ends with its connection; "close" wins over "keep-alive".
  EXPECT_NE(rig.fetch("POST /spykee HTTP/1.1\r\nConnection: keep-alive\r\n\r\na=1")
                .find("Connection: close\r\n"),
            std::string::npos);
  EXPECT_NE(rig.fetch("GET /spykee HTTP/1.1\r\nConnection: keep-alive, close\r\n\r\n")
                .find("Connection: close\r\n"),
            std::string::npos);
  // A kept connection left idle is closed like an incomplete request.
  auto idle = rig.connect();
  idle->send("GET /spykee" + keep);
  EXPECT_FALSE(rig.sim.runUntil([&] { return idle->closed; }, TCPServer::kRequestWaitMs - 100));
  EXPECT_TRUE(rig.sim.runUntil([&] { return idle->closed; }, 300));
  EXPECT_EQ(rig.server.OpenSocketCount(), 0);
}

TEST_F(WebServer, StreamsAnImageInChunksThenCloses) {
  dated("images/logo.gif", std::string(150000, 'g'));
  dated("pics.htm/a.png", "png");
  auto client = rig.connect();
  client->send("GET /images/logo.GIF HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(rig.sim.runUntil([&] { return client->closed; }, 30000));
  ASSERT_EQ(client->chunks.size(), 4u);
  EXPECT_EQ(client->chunks[0],
            "HTTP/1.1 200 OK\r\nServer: qbt\r\nDate:07-Dec-26\r\nLast-Modified: 12/6/2026 1:05:09 "
            "PM\r\nAccept-Ranges: bytes\r\nContent-Length: 150000\r\nConnection: Close\r\n"
            "Content-Type: image/gif\r\n\r\n");
  EXPECT_EQ(client->chunks[1], std::string(TCPServer::kChunkBytes, 'g'));
  EXPECT_EQ(client->chunks[2], std::string(TCPServer::kChunkBytes, 'g'));
  EXPECT_EQ(client->chunks[3], std::string(150000 - 2 * TCPServer::kChunkBytes, 'g'));
  // The extension decides the type, not a folder's name.
  EXPECT_NE(rig.fetch("GET /pics.htm/a.png HTTP/1.1\r\n\r\n").find("Content-Type: image/png\r\n"),
            std::string::npos);
}

TEST_F(WebServer, StreamsGoOutAsTheClientTakesThemAndStallsAreClosed) {
  auto client = rig.connect();
  auto& socket = dynamic_cast<platform::SimTcpSocket&>(*client->socket);
  const double asked = rig.sim.nowMs();
  client->send("GET /live HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(rig.sim.runUntil([&] { return drains == 1; }, 100));
  EXPECT_EQ(client->chunkTimesMs[0], asked);  // a complete request is answered at once
  EXPECT_EQ(
      client->data,
      "HTTP/1.1 200 OK\r\nServer: qbt\r\nDate: 07-Dec-26\r\nContent-Type: text/event-stream\r\n"
      "Cache-Control: no-cache\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(stream->peerAddress(), "127.0.0.1");
  client->data.clear();

  // A client that stops reading: one piece waits in the socket, the newest replaces the rest.
  socket.setReading(false);
  for (const char* piece : {"a", "b", "c"}) EXPECT_TRUE(stream->write(piece));
  EXPECT_TRUE(stream->replace("d"));
  rig.sim.runUntil([] { return false; }, 9000);
  EXPECT_FALSE(stream->drained());
  EXPECT_EQ(stream->queuedBytes(), 2u);
  socket.setReading(true);
  ASSERT_TRUE(rig.sim.runUntil([&] { return drains == 2; }, 100));
  EXPECT_EQ(client->data, "ad");
  EXPECT_TRUE(stream->drained());
  EXPECT_EQ(rig.server.OpenSocketCount(), 1);

  // A bound on what may wait, then no progress for 10 s: both close the connection.
  EXPECT_FALSE(stream->write(std::string(Stream::kMaxQueuedBytes + 1, 'x')));
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(stream->open());
  EXPECT_FALSE(stream->write("late"));
  auto stalled = rig.connect();
  dynamic_cast<platform::SimTcpSocket&>(*stalled->socket).setReading(false);
  stalled->send("GET /live HTTP/1.1\r\n\r\n");
  EXPECT_FALSE(rig.sim.runUntil([&] { return stalled->closed; }, 9900));
  EXPECT_TRUE(rig.sim.runUntil([&] { return stalled->closed; }, 200));
  EXPECT_EQ(closes, 2);

  // The client leaving is reported once.
  auto leaving = rig.connect();
  leaving->send("GET /live HTTP/1.1\r\n\r\n");
  rig.sim.runUntil([] { return false; }, 100);
  leaving->socket->close();
  rig.sim.runUntil([] { return false; }, 100);
  EXPECT_EQ(closes, 3);
  EXPECT_EQ(rig.server.OpenSocketCount(), 0);
}

TEST_F(WebServer, NeverServesAFileOutsideTheRoot) {
  testing::writeFile(rig.folder.file("secret.css"), "SECRET");
  testing::writeFile(rig.folder.file("secret.gif"), "SECRET");
  rig.htmlFile("style/ok.css", "fine");
  std::filesystem::create_directories(rig.folder.file("html/dir.css"));
  std::filesystem::create_symlink(rig.folder.file("secret.css"), rig.folder.file("html/link.css"));
  for (const std::string& target : std::vector<std::string>{
           "/../secret.css", "/%2e%2e/secret.css", "/%2E%2E%2Fsecret.css", "/..%2Fsecret.css",
           "/..%3asecret.css", "/style/..%5C..%5Csecret.css", "/style\\..\\..\\secret.css",
           "/style/../../secret.css", "secret.css", "C:/../secret.css", "//secret.css",
           "/./style/ok.css", "/link.css", "/dir.css", "/style/ok.css%00.css",
           "/" + rig.folder.file("secret.css")}) {
    EXPECT_EQ(rig.fetch("GET " + target + " HTTP/1.1\r\n\r\n"), kNotFound) << target;
  }
  EXPECT_EQ(rig.fetch("GET /../secret.gif HTTP/1.1\r\n\r\n"), kBare404);
  EXPECT_NE(rig.fetch("GET /style/ok.css HTTP/1.1\r\n\r\n").find("\r\n\r\nfine"),
            std::string::npos);
}

TEST_F(WebServer, CollectsARequestSplitAcrossSegments) {
  // Head and body in 7-byte pieces, then a head and a body sent 30 ms apart, then a POST without
  // a length whose body follows in two pieces: each is one request, and the peer address, not the
  // Host header, names the client.
  rig.sim.setTcpSegmentSize(7);
  const std::string body = "Name=Name&clientinput=yes";
  rig.fetch("POST /spykee HTTP/1.1\r\nHost: 10.9.9.9:80\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body);
  rig.sim.setTcpSegmentSize(0);
  for (const auto& [head, pieces] :
       {std::pair<std::string, std::vector<std::string>>{"Content-Length: 3\r\n", {"a=1"}},
        {"", {"Name=Name&", "x=2"}}}) {
    auto client = rig.connect();
    client->send("POST /spykee HTTP/1.1\r\n" + head + "\r\n");
    rig.sim.advanceMs(30);
    for (const std::string& piece : pieces) client->send(piece);
    ASSERT_TRUE(rig.sim.runUntil([&] { return client->closed; }, 1000));
  }
  EXPECT_EQ(page.seen, (std::vector<std::string>{
                           "POSTx Name=Name clientinput=yes from 127.0.0.1",
                           "POSTx a=1 from 127.0.0.1",
                           "POST Name=Name x=2 from 127.0.0.1",
                       }));
}

TEST_F(WebServer, ClosesConnectionsThatExceedTheBounds) {
  const struct {
    const char* name;
    std::vector<std::string> sends;
  } cases[] = {
      {"head over 16 KiB", {"GET /" + std::string(16 * 1024, 'a')}},
      {"blank line after 16 KiB",
       {"GET /x HTTP/1.1\r\nA: " + std::string(16 * 1024, 'a') + "\r\n\r\n"}},
      {"body over 1 MiB", {"POST /x HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n"}},
      {"length beyond any number",
       {"POST /x HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n"}},
      {"later body over 1 MiB",
       {"POST /x HTTP/1.1\r\n\r\n", std::string(600 * 1024, 'a'), std::string(600 * 1024, 'b')}},
      {"more queued pieces than the queue holds",
       {"POST /x HTTP/1.1\r\n\r\n", std::string(TCPServer::kMaxPendingRequests, 'p')}},
  };
  for (const auto& c : cases) {
    auto client = rig.connect();
    for (const std::string& s : c.sends) {
      if (std::string(c.name).starts_with("more")) {
        for (char ch : s) client->send(std::string(1, ch));
      } else {
        client->send(s);
      }
    }
    // Closed before the batch could answer: nothing comes back.
    EXPECT_TRUE(rig.sim.runUntil([&] { return client->closed; }, 40)) << c.name;
    EXPECT_EQ(client->data, "") << c.name;
    EXPECT_LE(rig.server.PendingRequestCount(), TCPServer::kMaxPendingRequests) << c.name;
    rig.sim.runUntil([] { return false; }, 100);
  }
  EXPECT_EQ(rig.server.OpenSocketCount(), 0);
  EXPECT_EQ(rig.server.PendingRequestCount(), 0u);

  // A client that never completes its head is closed at 10 s, not before.
  auto slow = rig.connect();
  slow->send("GET /spykee HTTP/1.1\r\n");
  EXPECT_FALSE(rig.sim.runUntil([&] { return slow->closed; }, 9900));
  EXPECT_TRUE(rig.sim.runUntil([&] { return slow->closed; }, 200));
  EXPECT_EQ(slow->data, "");
}

TEST_F(WebServer, GrowsTheSocketArrayAndReusesClosedSockets) {
  EXPECT_EQ(rig.server.highestSocketIndex(), 5);
  std::vector<std::unique_ptr<test::WebClient>> clients;
  std::vector<int> highest, chosen;
  for (int i = 1; i <= 100; ++i) {
    clients.push_back(rig.connect());
    ASSERT_TRUE(clients.back()->connected);
    highest.push_back(rig.server.highestSocketIndex());
    chosen.push_back(rig.server.NextSocketIndex());
  }
  // At least four spare sockets stay loaded until the array reaches index 100.
  EXPECT_EQ(std::vector<int>(highest.begin(), highest.begin() + 4), (std::vector<int>{5, 6, 7, 8}));
  EXPECT_EQ(highest[95], 100);
  EXPECT_EQ(highest[99], 100);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(chosen[i], i + 1);
  EXPECT_EQ(rig.server.OpenSocketCount(), 100);

  // With every socket busy, the oldest incomplete request makes way for a new connection.
  auto extra = rig.connect();
  EXPECT_TRUE(rig.sim.runUntil([&] { return clients[0]->closed; }, 1));
  EXPECT_FALSE(extra->closed);
  EXPECT_EQ(rig.server.OpenSocketCount(), 100);
  clients[0] = std::move(extra);

  // A peer close and a reset both free their socket; the search wraps from 100 to 1.
  clients[2]->socket->close();
  dynamic_cast<platform::SimTcpSocket&>(*clients[0]->socket).abort();
  rig.sim.runUntil([] { return false; }, 1);
  EXPECT_EQ(rig.server.OpenSocketCount(), 98);
  clients.push_back(rig.connect());
  EXPECT_EQ(rig.server.NextSocketIndex(), 1);
  clients.push_back(rig.connect());
  EXPECT_EQ(rig.server.NextSocketIndex(), 3);
  EXPECT_EQ(rig.server.highestSocketIndex(), 100);
}

TEST_F(WebServer, OneAddressHoldsItsShareAndStalledReadersMakeWay) {
  rig.server.setAddressLimit(TCPServer::kMaxPerAddress, false);
  std::vector<std::unique_ptr<test::WebClient>> clients;
  for (int i = 0; i <= TCPServer::kMaxPerAddress; ++i) clients.push_back(rig.connect());
  EXPECT_TRUE(rig.sim.runUntil([&] { return clients.back()->closed; }, 1));
  EXPECT_EQ(rig.server.OpenSocketCount(), TCPServer::kMaxPerAddress);
  clients.clear();
  rig.sim.runUntil([] { return false; }, 10);

  // Every socket holds an answer its client does not read: after a second the longest waiting
  // one makes way, and the new client is answered.
  rig.server.setAddressLimit(0, true);
  dated("images/big.gif", std::string(200000, 'g'));
  for (int i = 0; i < TCPServer::kMaxSocketIndex; ++i) {
    clients.push_back(rig.connect());
    dynamic_cast<platform::SimTcpSocket&>(*clients.back()->socket).setReading(false);
    clients.back()->send("GET /images/big.gif HTTP/1.1\r\n\r\n");
    rig.sim.runUntil([] { return false; }, 1);
  }
  auto early = rig.connect();
  EXPECT_TRUE(rig.sim.runUntil([&] { return early->closed; }, 1));
  rig.sim.runUntil([] { return false; }, TCPServer::kEvictStalledMs);
  auto late = rig.connect();
  late->send("GET /spykee HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(rig.sim.runUntil([&] { return late->closed; }, 100));
  EXPECT_TRUE(late->data.starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_TRUE(clients[0]->closed);
  EXPECT_FALSE(clients[1]->closed);
}

TEST(WebServerStart, ListensOnlyOnAUsablePort) {
  const struct {
    std::string lines;
    std::uint16_t port;
  } cases[] = {
      {"ServerPort=\"8030\"\r\n", 8030}, {"", 8029},
      {"ServerPort=0\r\n", 0},           {"ServerPort=abc\r\n", 0},
      {"ServerPort=70000\r\n", 0},
  };
  for (const auto& c : cases) {
    WebServerRig rig(c.lines);
    EXPECT_EQ(rig.server.Start(), c.port != 0) << c.lines;
    EXPECT_EQ(rig.server.port(), c.port) << c.lines;
    EXPECT_TRUE(rig.services.events.empty());
  }
  WebServerRig busy;
  busy.sim.failNextBind(platform::SimProtocol::Tcp, WebServerRig::kPort, "Address in use");
  EXPECT_FALSE(busy.server.Start());
  ASSERT_EQ(busy.services.events.size(), 1u);
  EXPECT_EQ(busy.services.events[0].first, "xapqbtSpykee");
  EXPECT_EQ(busy.services.events[0].second, "Server Form_Load ");
  EXPECT_EQ(busy.services.events[0].description, "cannot listen on *:8029: Address in use");

  WebServerRig hs("ServerPort=8029\r\nServerAddress=127.0.0.1\r\n",
                  "hsip=192.168.1.9\r\nhsport=8080\r\n");
  ASSERT_TRUE(hs.server.Start());
  EXPECT_NE(hs.fetch("GET / HTTP/1.1\r\n\r\n").find("Location: http://192.168.1.9:8080/\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace rovalink::web
