// The GET client with the system's sockets against a raw server on loopback
// that records the exact bytes it receives and answers as each test says.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "server/get_client.h"
#include "sys/text_codec.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::waitFor;

std::string expectedRequest(const std::string& target, const std::string& host) {
  return "GET " + target + " HTTP/1.1\r\nAccept: */*\r\nConnection: Close\r\nHost: " + host + "\r\n\r\n";
}

// Reads each request up to its blank line, keeps it, then hands the
// connection to `answer`.
class RawServer {
 public:
  std::function<void(QTcpSocket*, const std::string& request)> answer;
  std::vector<std::string> requests;
  int accepted = 0;
  int disconnects = 0;

  RawServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        ++accepted;
        auto* received = new std::string;
        QObject::connect(socket, &QObject::destroyed, [received] { delete received; });
        QObject::connect(socket, &QTcpSocket::disconnected, [this, socket] {
          ++disconnects;
          socket->deleteLater();
        });
        QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, received] {
          bool complete = received->find("\r\n\r\n") != std::string::npos;
          received->append(socket->readAll().toStdString());
          if (complete || received->find("\r\n\r\n") == std::string::npos) return;
          requests.push_back(*received);
          if (answer) answer(socket, *received);
        });
      }
    });
  }
  int port() const { return server_.serverPort(); }

  // Sends `bytes` and closes once they are out.
  static void reply(QTcpSocket* socket, const std::string& bytes) {
    socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
    socket->disconnectFromHost();
  }

 private:
  QTcpServer server_;
};

// The first line of a request, which the echoing server puts in its body.
const std::string kTarget = "/clientInterface-getSubject?appKey=k&gradeID=3001";

std::string requestLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

class GetClientLoopback : public ::testing::Test {
 protected:
  RawServer server;
  server::GetClient client;
  std::vector<std::string> replies;

  void SetUp() override {
    client.setServer("127.0.0.1", server.port());
    client.setReplyHandler([this](const std::string& reply) {
      replies.push_back(reply);
      client.finishRequest(reply);
    });
    server.answer = [](QTcpSocket* socket, const std::string& request) {
      RawServer::reply(
          socket, "HTTP/1.1 200 OK\r\n\r\n{\"status\":\"ok\",\"line\":\"" + requestLine(request) + "\"}");
    };
  }
};

TEST_F(GetClientLoopback, TheServerReceivesExactlyTheRequestAndTheHandlerTheWholeResponse) {
  const std::string target =
      "/edu/clientInterface-getGradeInfo?appKey=3b9d0e4a7f21c6585ad0e9b7c41f2a6d&schoolID=1001";
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    replies.clear();
    server.requests.clear();
    client.setServer(host, server.port());
    client.startRequest(target);
    ASSERT_TRUE(waitFor([&] { return !replies.empty(); }));
    ASSERT_EQ(server.requests.size(), 1u);
    EXPECT_EQ(server.requests[0], expectedRequest(target, host));
    EXPECT_EQ(replies, std::vector<std::string>{"HTTP/1.1 200 OK\r\n\r\n{\"status\":\"ok\",\"line\":\"GET " +
                                                target + " HTTP/1.1\"}"});
    EXPECT_FALSE(client.timeoutRunning());
  }
}

TEST_F(GetClientLoopback, RepliesArriveWholeWhateverTheirSizeOrPieces) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;  // sent with a pause between them
    std::string expected;             // what the handler receives, in GBK
  };
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json;charset=UTF-8\r\n\r\n";
  const std::string big(5 * 1024 * 1024, 'x');
  const std::vector<Case> cases = {
      // U+4E2D (E4 B8 AD) cut after its first byte arrives as the GBK D6 D0.
      {"split character",
       {head + "{\"status\":\"ok\",\"name\":\"\xE4", "\xB8\xAD\"}"},
       head + "{\"status\":\"ok\",\"name\":\"\xD6\xD0\"}"},
      {"five megabytes",
       {head + "{\"status\":\"ok\",\"data\":\"" + big + "\"}"},
       head + "{\"status\":\"ok\",\"data\":\"" + big + "\"}"},
      {"cut off inside the object",
       {head + "{\"status\":\"ok\",\"jsonData\":[{\"id\":"},
       head + "{\"status\":\"ok\",\"jsonData\":[{\"id\":"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    replies.clear();
    server.answer = [&c](QTcpSocket* socket, const std::string&) {
      socket->write(c.pieces[0].data(), static_cast<qint64>(c.pieces[0].size()));
      socket->flush();
      QTimer::singleShot(50, socket, [socket, &c] {
        for (size_t i = 1; i < c.pieces.size(); ++i) socket->write(c.pieces[i].data(), c.pieces[i].size());
        socket->disconnectFromHost();
      });
    };
    client.startRequest("/clientInterface-getSubject?appKey=k&gradeID=3001");
    ASSERT_TRUE(waitFor([&] { return !replies.empty(); }, 30000));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].size(), c.expected.size());
    EXPECT_TRUE(replies[0] == c.expected);
  }
}

TEST_F(GetClientLoopback, ASilentServerTimesOutAfterEightSecondsAndFinishingDropsTheConnection) {
  server.answer = nullptr;
  QElapsedTimer since;
  since.start();
  client.startRequest("/clientInterface-getCouterTime?appKey=k&hardDiskID=D1");
  ASSERT_TRUE(waitFor([&] { return !replies.empty(); }, 30000)) << "no time-out within 30 s";
  // It gives up at 8 s: not sooner (less the 5% by which a coarse timer may
  // come early), and long before the 30 s limit however loaded the machine.
  EXPECT_GE(since.elapsed(), 7600);
  EXPECT_LE(since.elapsed(), 20000);
  EXPECT_EQ(replies, std::vector<std::string>{text::utf8ToGbk("error:无法获取数据关闭")});
  // The handler's finishRequest stopped the time-out and closed the socket.
  EXPECT_FALSE(client.timeoutRunning());
  EXPECT_TRUE(waitFor([&] { return server.disconnects == 1; }));
}

TEST_F(GetClientLoopback, OnlyTheLastOfTwoRequestsIsAnsweredAndTwoClientsDoNotMeet) {
  client.startRequest("/clientInterface-first");
  client.startRequest("/clientInterface-second");
  server::GetClient other;
  other.setServer("localhost", server.port());
  std::vector<std::string> otherReplies;
  other.setReplyHandler([&](const std::string& reply) {
    otherReplies.push_back(reply);
    other.finishRequest(reply);
  });
  other.startRequest("/clientInterface-other");

  // Every connection the server took has ended, so nothing that belongs to
  // the first request can still come in.
  ASSERT_TRUE(waitFor(
      [&] { return !replies.empty() && !otherReplies.empty() && server.disconnects == server.accepted; }));
  EXPECT_EQ(replies, std::vector<std::string>{
                         "HTTP/1.1 200 OK\r\n\r\n{\"status\":\"ok\",\"line\":\"GET /clientInterface-second "
                         "HTTP/1.1\"}"});
  EXPECT_EQ(otherReplies,
            std::vector<std::string>{
                "HTTP/1.1 200 OK\r\n\r\n{\"status\":\"ok\",\"line\":\"GET /clientInterface-other "
                "HTTP/1.1\"}"});
  EXPECT_EQ(client.lastPathAndQuery(), "/clientInterface-second");
}

// The handler hears the error text; the admin's log hears where the request
// went and why, in words.
TEST_F(GetClientLoopback, HostAndConnectionFailuresGiveTheirErrorTextsAndLogTheirReason) {
  struct Case {
    const char* name;
    std::string host;
    int port;
    std::string expected;
    std::string logged;
  };
  const int closedPort = testsupport::freePort();
  const std::vector<Case> cases = {
      {"unknown host", "no-such-host.invalid", server.port(), "error:[Resolve Host Failed!]",
       "GET no-such-host.invalid:" + std::to_string(server.port()) + kTarget + " failed: name not found"},
      // Refused at once, not after the time-out: ECONNREFUSED is 111 here.
      {"nobody listening", "127.0.0.1", closedPort, "error:Connect Failed, Error :111",
       "GET 127.0.0.1:" + std::to_string(closedPort) + kTarget +
           " failed: connection refused (nothing listens on that port)"},
  };
  std::vector<std::string> log;
  client.setRequestLog([&](const std::string& line) { log.push_back(line); });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    replies.clear();
    log.clear();
    client.setServer(c.host, c.port);
    client.startRequest(kTarget);
    ASSERT_TRUE(waitFor([&] { return !replies.empty(); }, 20000));
    EXPECT_EQ(replies, std::vector<std::string>{c.expected});
    EXPECT_FALSE(client.timeoutRunning());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], c.logged);
  }
}

TEST_F(GetClientLoopback, WithoutAHostTheHandlerHearsBeforeStartRequestReturns) {
  client.setServer(" ", server.port());
  client.startRequest("/clientInterface-getSubject?appKey=k&gradeID=3001");
  EXPECT_EQ(replies, std::vector<std::string>{"error:Host is nil"});
  EXPECT_FALSE(client.timeoutRunning());
}

TEST_F(GetClientLoopback, TheEventLoopRunsOnWhileARequestIsInFlight) {
  // The server answers only after a 1 ms timer on the same loop has fired 200
  // times: a client that blocked the loop would never see its reply.
  int ticks = 0;
  QTimer ticker;
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start();
  QTcpSocket* waiting = nullptr;
  server.answer = [&](QTcpSocket* socket, const std::string&) { waiting = socket; };
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (waiting && ticks >= 200) {
      RawServer::reply(waiting, "HTTP/1.1 200 OK\r\n\r\n{\"status\":\"ok\"}");
      waiting = nullptr;
    }
  });
  client.setServer("localhost", server.port());
  client.startRequest("/clientInterface-getSubject?appKey=k&gradeID=3001");
  ASSERT_TRUE(waitFor([&] { return !replies.empty(); }, 30000));
  EXPECT_EQ(replies, std::vector<std::string>{"HTTP/1.1 200 OK\r\n\r\n{\"status\":\"ok\"}"});
  EXPECT_GE(ticks, 200);
}

// A server (or a proxy before it) that ignores "Connection: Close" and keeps
// the connection open: the reply is whole once its Content-Length has come,
// so the handler has it at once instead of the time-out's error.
TEST_F(GetClientLoopback, AKeepAliveServerIsAnsweredAtOnceWhenTheLengthIsKnown) {
  const std::string reply =
      "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 15\r\n\r\n{\"status\":\"ok\"}";
  server.answer = [&reply](QTcpSocket* socket, const std::string&) {
    socket->write(reply.data(), static_cast<qint64>(reply.size()));
  };
  client.startRequest("/clientInterface-getSubject?appKey=k&gradeID=3001");
  ASSERT_TRUE(waitFor([&] { return !replies.empty(); }, 20000));
  EXPECT_EQ(replies, std::vector<std::string>{reply});
  // The client ends the connection the server kept.
  EXPECT_TRUE(waitFor([&] { return server.disconnects == 1; }));
}

}  // namespace
