// The real `rovalink --headless` serving HTTP on a loopback port picked per test, with
// tools/robot-sim and tools/xap-hub around it and a stub HomeSeer web server in the test: a
// streamed image's exact bytes, redirects that reach the stub, a full socket array and a stalled
// client.
#include <gtest/gtest.h>

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <vector>

#include "e2e/e2e_support.h"

namespace rovalink::e2e {
namespace {

// Reads one request (head and Content-Length body) per connection, keeps it and answers "ok".
class StubHomeSeer {
 public:
  StubHomeSeer() {
    EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, buffer] {
          *buffer += socket->readAll();
          const qsizetype end = buffer->indexOf("\r\n\r\n");
          if (end < 0) return;
          qsizetype length = 0;
          for (const QByteArray& line : buffer->left(end).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
              length = line.mid(15).trimmed().toLong();
          }
          if (buffer->size() < end + 4 + length) return;
          requests.push_back(buffer->left(end + 4 + length));
          socket->write("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
          socket->disconnectFromHost();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  quint16 port() const { return m_server.serverPort(); }
  std::vector<QByteArray> requests;

 private:
  QTcpServer m_server;
};

class WebServerE2e : public GatewayTest {
 protected:
  void SetUp() override {
    m_port = freeTcpPort();
    ASSERT_NE(m_port, 0);
    write("html/style/main.css", "body { color: red }");
    m_image.resize(2500);
    for (int i = 0; i < m_image.size(); ++i) m_image[i] = static_cast<char>(i * 7);
    write("html/images/logo.gif", m_image);
    ASSERT_NO_FATAL_FAILURE(startAll(
        {.sim = {"--fps", "0"},
         .spykeeLines = "ServerPort=\"" + QByteArray::number(m_port) +
                        "\"\r\nServerAddress=127.0.0.1\r\n[Settings]\r\nhsip=127.0.0.1\r\nhsport=" +
                        QByteArray::number(m_homeSeer.port()) + "\r\n",
         .listener = false}));
    ASSERT_TRUE(waitUntil(
        [&] {
          QTcpSocket probe;
          probe.connectToHost(QHostAddress::LocalHost, m_port);
          return probe.waitForConnected(200);
        },
        kStartMs))
        << m_gateway.errorText().toStdString();
  }

  std::unique_ptr<QTcpSocket> open() {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, m_port);
    return socket;
  }

  // Sends the request on a fresh connection; everything received until the server closed it.
  QByteArray exchange(const QByteArray& request) {
    auto socket = open();
    QByteArray received;
    QObject::connect(socket.get(), &QTcpSocket::readyRead, [&] { received += socket->readAll(); });
    socket->write(request);
    EXPECT_TRUE(
        waitUntil([&] { return socket->state() == QAbstractSocket::UnconnectedState; }, kReplyMs))
        << request.toStdString();
    return received + socket->readAll();
  }

  static QByteArray today() {
    return QLocale::c().toString(QDate::currentDate(), QStringLiteral("dd-MMM-yy")).toLatin1();
  }
  QByteArray modified(const QString& relative) const {
    const QDateTime when = QFileInfo(appPath(relative)).lastModified();
    return QLocale::c().toString(when, QStringLiteral("M/d/yyyy h:mm:ss AP")).toLatin1();
  }
  QByteArray notFound() const {
    return "HTTP/1.1 200 Object Not Found\r\nServer: qbt\r\nDate: " + today() +
           "\r\nConnection: Close\r\nContent-Type: text/html\r\nContent-Length: 40\r\n\r\n"
           "<html><h1>404 File Not Found</h1></html>";
  }

  // Runs curl with the arguments against the server, until it ends.
  QByteArray curl(const QStringList& arguments) {
    QProcess process;
    process.start("curl", QStringList{"-s", "-S", "--max-time", "20"} + arguments);
    EXPECT_TRUE(process.waitForStarted(kStartMs));
    EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 30000));
    return process.readAllStandardOutput() + process.readAllStandardError();
  }
  QString url(const char* path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(QLatin1String(path));
  }

  StubHomeSeer m_homeSeer;
  QByteArray m_image;
  quint16 m_port = 0;
};

TEST_F(WebServerE2e, StreamsAnImageWithItsExactBytesAndThePageWithItsLength) {
  EXPECT_EQ(exchange("GET /images/logo.gif HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nServer: qbt\r\nDate:" + today() +
                "\r\nLast-Modified: " + modified("html/images/logo.gif") +
                "\r\nAccept-Ranges: bytes\r\nContent-Length: 2500\r\nConnection: Close\r\n"
                "Content-Type: image/gif\r\n\r\n" +
                m_image);

  // The page: a 200 answer whose length is that of its body.
  const QByteArray page = exchange("GET /spykee HTTP/1.1\r\n\r\n");
  const qsizetype bodyAt = page.indexOf("\r\n\r\n") + 4;
  EXPECT_TRUE(page.startsWith("HTTP/1.1 200 ")) << page.left(200).toStdString();
  EXPECT_TRUE(
      page.contains("\r\nContent-Length: " + QByteArray::number(page.size() - bodyAt) + "\r\n"));
}

TEST_F(WebServerE2e, RedirectedRequestsReachHomeSeerWithTheirFields) {
  EXPECT_EQ(curl({"-L", url("/stat?ref=7")}), "ok");
  EXPECT_EQ(curl({"-L", "-d", "name=x&level=3", url("/ctrl")}), "ok");
  ASSERT_EQ(m_homeSeer.requests.size(), 2u);
  EXPECT_TRUE(m_homeSeer.requests[0].startsWith("GET /stat?ref=7 HTTP/1."));
  EXPECT_TRUE(m_homeSeer.requests[1].startsWith("POST /ctrl HTTP/1."));
  EXPECT_TRUE(m_homeSeer.requests[1].endsWith("\r\n\r\nname=x&level=3"));
}

TEST_F(WebServerE2e, WithEverySocketBusyOneConnectionIsClosedAtOnceAndTheOthersAreServed) {
  // A full exchange first: by its answer the server has also seen the start-up probes go.
  EXPECT_EQ(exchange("GET /style/none.css HTTP/1.1\r\n\r\n"), notFound());
  std::vector<std::unique_ptr<QTcpSocket>> sockets;
  for (int i = 0; i < 101; ++i) sockets.push_back(open());
  auto connected = [&] {
    int n = 0;
    for (const auto& s : sockets) n += s->state() == QAbstractSocket::ConnectedState;
    return n;
  };
  // All connect; exactly one of them (the oldest, its request still incomplete, making way for
  // the 101st) is closed by the server at once.
  ASSERT_TRUE(waitUntil([&] { return connected() == 100; }, kReplyMs));
  waitUntil([] { return false; }, 500);
  EXPECT_EQ(connected(), 100);
  for (const auto& s : sockets) s->write("GET /style/main.css HTTP/1.1\r\n\r\n");
  std::vector<QByteArray> answers(sockets.size());
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    QObject::connect(sockets[i].get(), &QTcpSocket::readyRead,
                     [&, i] { answers[i] += sockets[i]->readAll(); });
  }
  ASSERT_TRUE(waitUntil([&] { return connected() == 0; }, kReplyMs));
  int served = 0;
  for (const QByteArray& answer : answers) served += answer.endsWith("body { color: red }");
  EXPECT_EQ(served, 100);
  EXPECT_EQ(exchange("GET /style/none.css HTTP/1.1\r\n\r\n"), notFound());
}

TEST_F(WebServerE2e, AStalledRequestIsDroppedWithoutHoldingUpOthers) {
  // A head that never ends is dropped after 10 s; others are answered meanwhile.
  auto stalled = open();
  ASSERT_TRUE(stalled->waitForConnected(kReplyMs));
  stalled->write("GET /spykee HTTP/1.1\r\nHost: x");
  QElapsedTimer elapsed;
  elapsed.start();
  EXPECT_EQ(exchange("GET /style/none.css HTTP/1.1\r\n\r\n"), notFound());
  ASSERT_TRUE(
      waitUntil([&] { return stalled->state() == QAbstractSocket::UnconnectedState; }, 20000));
  EXPECT_GE(elapsed.elapsed(), 9000);
  EXPECT_EQ(stalled->readAll(), QByteArray());
}

}  // namespace
}  // namespace rovalink::e2e
