// The GET client's own logic, driven through a scripted transport: the test
// decides when a lookup ends, a connection stands, bytes arrive or the peer
// closes, and sees every socket the client opened, sent on or closed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "server/get_client.h"
#include "tests/support/test_support.h"

namespace {

using platform::Ipv4Address;

constexpr Ipv4Address kServerAddress = 0x0A000005;  // 10.0.0.5
const std::string kTimeoutText = "error:\xCE\xDE\xB7\xA8\xBB\xF1\xC8\xA1\xCA\xFD\xBE\xDD\xB9\xD8\xB1\xD5";

class ScriptedTransport final : public platform::AsyncTransport {
 public:
  platform::TransportListener* listener = nullptr;
  bool openFails = false;
  bool lookupFails = false;
  bool watchFails = false;
  int connectError = 0;
  size_t sendLimit = SIZE_MAX;

  int lastSocket = -1;
  int lastLookup = -1;
  std::vector<std::string> hostsLookedUp;
  std::set<int> openSockets;
  std::set<int> pendingLookups;
  std::vector<std::pair<Ipv4Address, int>> connects;
  std::map<int, std::string> sent;

  void setListener(platform::TransportListener* l) override { listener = l; }
  int openSocket() override {
    if (openFails) return -1;
    lastSocket = next_++;
    openSockets.insert(lastSocket);
    return lastSocket;
  }
  int startLookup(const std::string& host) override {
    if (lookupFails) return -1;
    hostsLookedUp.push_back(host);
    lastLookup = next_++;
    pendingLookups.insert(lastLookup);
    return lastLookup;
  }
  void cancelLookup(int lookup) override { pendingLookups.erase(lookup); }
  bool watchSocket(int) override { return !watchFails; }
  int connect(int, Ipv4Address address, int port) override {
    connects.emplace_back(address, port);
    return connectError;
  }
  long send(int socket, std::string_view bytes) override {
    size_t n = std::min(bytes.size(), sendLimit);
    sent[socket].append(bytes.substr(0, n));
    return static_cast<long>(n);
  }
  void closeSocket(int socket) override { openSockets.erase(socket); }

  // The lookup of the last request ends, by default with the server's address.
  void resolveLast(const std::vector<Ipv4Address>& addresses = {kServerAddress}) {
    pendingLookups.erase(lastLookup);
    listener->lookupFinished(lastLookup, addresses);
  }
  // The server answers on `socket` in the given pieces, then closes.
  void serve(int socket, const std::vector<std::string>& pieces) {
    listener->socketConnected(socket, 0);
    listener->socketWritable(socket);
    for (const auto& piece : pieces) listener->socketReceived(socket, piece);
    listener->socketClosed(socket, 0);
  }

 private:
  int next_ = 1;
};

// A client on a scripted transport whose handler only collects the replies.
struct Rig {
  ScriptedTransport* transport = new ScriptedTransport;
  server::GetClient client{std::unique_ptr<platform::AsyncTransport>(transport)};
  std::vector<std::string> replies;

  Rig() {
    client.setServer("edu.example", 8080);
    client.setReplyHandler([this](const std::string& reply) { replies.push_back(reply); });
  }
  // A handler that also calls the completion step, as every real one does.
  void finishEachReply() {
    client.setReplyHandler([this](const std::string& reply) {
      replies.push_back(reply);
      client.finishRequest(reply);
    });
  }
};

class GetClientTest : public ::testing::Test, protected Rig {};

TEST_F(GetClientTest, SendsTheExactRequestToTheServerPortWithAPortlessHost) {
  const std::string target = "/edu/clientInterface-getSubject?appKey=3b9d&gradeID=3001";
  for (size_t limit : {SIZE_MAX, size_t{7}}) {
    SCOPED_TRACE(limit);
    transport->sendLimit = limit;
    client.startRequest(target);
    transport->resolveLast();
    int socket = transport->lastSocket;
    transport->listener->socketConnected(socket, 0);
    // A socket that takes only part of the request gets the rest at its next
    // writable report; a stray report after that sends nothing again.
    for (int i = 0; i < 20; ++i) transport->listener->socketWritable(socket);
    EXPECT_EQ(transport->sent[socket], "GET " + target +
                                           " HTTP/1.1\r\nAccept: */*\r\nConnection: Close\r\n"
                                           "Host: edu.example\r\n\r\n");
    EXPECT_EQ(transport->hostsLookedUp.back(), "edu.example");
    EXPECT_EQ(transport->connects.back(), std::make_pair(kServerAddress, 8080));
    EXPECT_EQ(client.lastPathAndQuery(), target);
  }
}

TEST_F(GetClientTest, EveryFailureReachesTheHandlerAsItsErrorText) {
  struct Case {
    const char* name;
    std::function<void(ScriptedTransport&)> arrange;
    std::function<void(ScriptedTransport&)> drive;
    std::string expected;
  };
  auto nothing = [](ScriptedTransport&) {};
  auto resolve = [](ScriptedTransport& t) { t.resolveLast(); };
  const std::vector<Case> cases = {
      {"socket", [](auto& t) { t.openFails = true; }, nothing, "error:Init Socket Failed!"},
      {"lookup start", [](auto& t) { t.lookupFails = true; }, nothing, "error:Faild when ASyncGetHostName!"},
      {"unknown host", [](auto&) {}, [](auto& t) { t.resolveLast({}); }, "error:[Resolve Host Failed!]"},
      {"event selection", [](auto& t) { t.watchFails = true; }, resolve, "error:Set Seocket Async Failed!"},
      {"connect fails at once", [](auto& t) { t.connectError = 101; }, resolve,
       "error:Connect Failed, Error :101"},
      {"connection refused", [](auto&) {},
       [](auto& t) {
         t.resolveLast();
         t.listener->socketConnected(t.lastSocket, 111);
       },
       "error:Connect Failed, Error :111"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.finishEachReply();
    c.arrange(*r.transport);
    r.client.startRequest("/clientInterface-getGradeInfo?appKey=k&schoolID=1001");
    c.drive(*r.transport);
    EXPECT_EQ(r.replies, std::vector<std::string>{c.expected});
    // The handler's completion step leaves nothing behind: no time-out, no
    // open socket, no lookup whose result could still arrive.
    EXPECT_FALSE(r.client.timeoutRunning());
    EXPECT_TRUE(r.transport->openSockets.empty());
    EXPECT_TRUE(r.transport->pendingLookups.empty());
  }
}

// The admin's log reads each request as it starts and how it ended: its
// size when answered, where it went and why in words when not.
TEST_F(GetClientTest, TheRequestLogHearsEachRequestAndItsOutcome) {
  std::vector<std::string> log;
  client.setRequestLog([&](const std::string& line) { log.push_back(line); });
  finishEachReply();
  const std::string target = "/clientInterface-getCouterTime?appKey=k&hardDiskID=W1";
  client.startRequest(target);
  transport->resolveLast();
  transport->serve(transport->lastSocket, {"HTTP/1.1 200 OK\r\n\r\n{\"a\":1}"});
  client.startRequest(target);
  transport->resolveLast({});
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(log, (std::vector<std::string>{
                     "GET edu.example:8080" + target,
                     "GET " + target + " answered, " + std::to_string(replies[0].size()) + " bytes",
                     "GET edu.example:8080" + target,
                     "GET edu.example:8080" + target + " failed: name not found",
                 }));
}

TEST_F(GetClientTest, WithoutAHostNothingStartsAndTheHandlerHearsAtOnce) {
  for (const char* host : {"", "   "}) {
    replies.clear();
    client.setServer(host, 80);
    client.startRequest("/clientInterface-getSubject?appKey=k&gradeID=1");
    EXPECT_EQ(replies, std::vector<std::string>{"error:Host is nil"});
    EXPECT_FALSE(client.timeoutRunning());
    EXPECT_EQ(transport->lastSocket, -1);
    EXPECT_TRUE(transport->hostsLookedUp.empty());
  }
}

TEST_F(GetClientTest, TimeOutRepeatsUntilTheHandlerFinishesAndALateReplyStillArrives) {
  client.setTimeoutInterval(std::chrono::milliseconds(5));
  client.startRequest("/clientInterface-getCouterTime?appKey=k&hardDiskID=D1");
  transport->resolveLast();
  int socket = transport->lastSocket;
  ASSERT_TRUE(testsupport::waitFor([&] { return replies.size() >= 3; }));
  for (const auto& reply : replies) EXPECT_EQ(reply, kTimeoutText);
  // A time-out closes nothing by itself.
  EXPECT_TRUE(transport->openSockets.count(socket));

  replies.clear();
  client.setTimeoutInterval(std::chrono::hours(1));
  transport->serve(socket, {"HTTP/1.1 200 OK\r\n\r\n{\"status\":\"ok\"}"});
  EXPECT_EQ(replies, std::vector<std::string>{"HTTP/1.1 200 OK\r\n\r\n{\"status\":\"ok\"}"});

  client.finishRequest(replies.back());
  EXPECT_FALSE(client.timeoutRunning());
}

TEST_F(GetClientTest, FinishingATimedOutRequestStopsTheTimeOutAndDropsTheConnection) {
  client.setTimeoutInterval(std::chrono::milliseconds(5));
  client.setReplyHandler([this](const std::string& reply) {
    replies.push_back(reply);
    client.finishRequest(reply);
  });
  client.startRequest("/clientInterface-getSubject?appKey=k&gradeID=1");
  transport->resolveLast();
  transport->listener->socketConnected(transport->lastSocket, 0);
  ASSERT_TRUE(testsupport::waitFor([&] { return !replies.empty(); }));
  EXPECT_FALSE(client.timeoutRunning());
  EXPECT_TRUE(transport->openSockets.empty());
  // Nothing more comes: the connection is gone and the time-out is off.
  transport->listener->socketReceived(transport->lastSocket, "late");
  transport->listener->socketClosed(transport->lastSocket, 0);
  EXPECT_EQ(replies, std::vector<std::string>{kTimeoutText});
}

TEST_F(GetClientTest, ANewRequestAbandonsTheOldOneAndItsLateEventsAreIgnored) {
  client.startRequest("/clientInterface-getAreaData?appKey=k&type=4&id=110101");
  int oldSocket = transport->lastSocket;
  int oldLookup = transport->lastLookup;
  client.startRequest("/clientInterface-getAreaData?appKey=k&type=5&id=1001");
  int newSocket = transport->lastSocket;
  EXPECT_FALSE(transport->openSockets.count(oldSocket));
  EXPECT_FALSE(transport->pendingLookups.count(oldLookup));

  // Everything that still arrives for the old request is dropped.
  transport->listener->lookupFinished(oldLookup, {kServerAddress});
  EXPECT_TRUE(transport->connects.empty());
  transport->serve(oldSocket, {"HTTP/1.1 200 OK\r\n\r\n{\"status\":\"old\"}"});
  EXPECT_TRUE(replies.empty());
  EXPECT_TRUE(transport->sent[oldSocket].empty());

  transport->resolveLast();
  transport->serve(newSocket, {"HTTP/1.1 200 OK\r\n\r\n{\"status\":\"new\"}"});
  EXPECT_EQ(replies, std::vector<std::string>{"HTTP/1.1 200 OK\r\n\r\n{\"status\":\"new\"}"});
  EXPECT_EQ(client.lastPathAndQuery(), "/clientInterface-getAreaData?appKey=k&type=5&id=1001");
}

TEST_F(GetClientTest, TheCloseStepEndsOnlyTheConnectionThatClosed) {
  enum class Action { Nothing, FinishWithJson, FinishWithErrorPage, StartNext };
  for (Action action :
       {Action::Nothing, Action::FinishWithJson, Action::FinishWithErrorPage, Action::StartNext}) {
    SCOPED_TRACE(static_cast<int>(action));
    Rig r;
    ScriptedTransport* t = r.transport;
    std::vector<std::string>& got = r.replies;
    r.client.setReplyHandler([&r, action](const std::string& reply) {
      r.replies.push_back(reply);
      if (action == Action::FinishWithJson || action == Action::FinishWithErrorPage)
        r.client.finishRequest(reply);
      if (action == Action::StartNext && r.replies.size() == 1)
        r.client.startRequest("/clientInterface-next");
    });
    r.client.startRequest("/clientInterface-first");
    t->resolveLast();
    int first = t->lastSocket;
    std::string body = action == Action::FinishWithErrorPage ? "<html>500</html>" : "{\"status\":\"ok\"}";
    t->serve(first, {"HTTP/1.1 200 OK\r\n\r\n" + body});
    EXPECT_FALSE(t->openSockets.count(first));
    if (action == Action::StartNext) {
      // The request started inside the handler goes on undisturbed.
      int second = t->lastSocket;
      ASSERT_NE(second, first);
      EXPECT_TRUE(t->openSockets.count(second));
      EXPECT_TRUE(r.client.timeoutRunning());
      t->resolveLast();
      t->serve(second, {"HTTP/1.1 200 OK\r\n\r\nsecond"});
      EXPECT_EQ(got.back(), "HTTP/1.1 200 OK\r\n\r\nsecond");
      EXPECT_EQ(t->sent[second].substr(0, 26), "GET /clientInterface-next ");
    }
  }
}

TEST_F(GetClientTest, TheReplyIsDecodedWholeSoASplitCharacterSurvives) {
  client.startRequest("/clientInterface-getSubject?appKey=k&gradeID=1");
  transport->resolveLast();
  // U+4E2D is E4 B8 AD in UTF-8 and D6 D0 in GBK; cut it after its first byte.
  transport->serve(transport->lastSocket,
                   {"HTTP/1.1 200 OK\r\n\r\n{\"status\":\"\xE4", "\xB8\xAD\"}", "\xF0\x9F\x98\x80"});
  EXPECT_EQ(replies, std::vector<std::string>{"HTTP/1.1 200 OK\r\n\r\n{\"status\":\"\xD6\xD0\"}?"});
}

// A server or proxy that ignores "Connection: Close" keeps the connection
// open after its reply; a Content-Length tells when the reply is whole.
TEST_F(GetClientTest, AReplyWithAContentLengthIsWholeOnceItsBodyHasCome) {
  const std::string json = "{\"status\":\"ok\"}";
  const std::string framed = "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\n" + json;
  struct Case {
    const char* name;
    std::vector<std::string> pieces;  // what arrives; the server never closes
    std::string expected;             // "" when the reply must wait for the close
  };
  const std::vector<Case> cases = {
      {"at once", {framed}, framed},
      {"headers and body in pieces",
       {"HTTP/1.1 200 OK\r\ncontent-length:  15\r\n\r", "\n{\"status\"", ":\"ok\"}"},
       "HTTP/1.1 200 OK\r\ncontent-length:  15\r\n\r\n" + json},
      {"bytes beyond the length are not the reply's", {framed + "HTTP/1.1 200 OK\r\n"}, framed},
      {"an empty body",
       {"HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n"},
       "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n"},
      {"one byte short", {framed.substr(0, framed.size() - 1)}, ""},
      {"no length", {"HTTP/1.1 200 OK\r\n\r\n" + json}, ""},
      {"a transfer coding overrides the length",
       {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\nf\r\n" + json},
       ""},
      {"lengths that disagree",
       {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Length: 5\r\n\r\n12345"},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.finishEachReply();
    r.client.startRequest("/clientInterface-getSubject?appKey=k&gradeID=1");
    r.transport->resolveLast();
    const int socket = r.transport->lastSocket;
    r.transport->listener->socketConnected(socket, 0);
    r.transport->listener->socketWritable(socket);
    for (const auto& piece : c.pieces) r.transport->listener->socketReceived(socket, piece);
    if (c.expected.empty()) {
      EXPECT_TRUE(r.replies.empty());
      EXPECT_TRUE(r.transport->openSockets.count(socket));
      continue;
    }
    EXPECT_EQ(r.replies, std::vector<std::string>{c.expected});
    // The client closes the connection itself; nothing more is delivered.
    EXPECT_FALSE(r.transport->openSockets.count(socket));
    EXPECT_FALSE(r.client.timeoutRunning());
    r.transport->listener->socketReceived(socket, "late");
    r.transport->listener->socketClosed(socket, 0);
    EXPECT_EQ(r.replies.size(), 1u);
  }
}

// A handler that shows a message box runs the event loop while it waits;
// whatever the connection still reports meanwhile must not deliver the
// reply a second time.
TEST_F(GetClientTest, AHandlerWaitingInAMessageBoxHearsItsReplyOnce) {
  const std::string framed = "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\n{\"status\":\"ok\"}";
  for (bool serverCloses : {false, true}) {
    SCOPED_TRACE(serverCloses);
    Rig r;
    int socket = -1;
    bool openWhileHandled = true;
    r.client.setReplyHandler([&](const std::string& reply) {
      r.replies.push_back(reply);
      openWhileHandled = r.transport->openSockets.count(socket) > 0;
      // What a nested event loop would bring for that connection.
      r.transport->listener->socketReceived(socket, "more");
      r.transport->listener->socketClosed(socket, 0);
      r.client.finishRequest(reply);
    });
    r.client.startRequest("/clientInterface-insertRepairs?appKey=k&schoolID=1001");
    r.transport->resolveLast();
    socket = r.transport->lastSocket;
    r.transport->listener->socketConnected(socket, 0);
    r.transport->listener->socketWritable(socket);
    r.transport->listener->socketReceived(socket, serverCloses ? "HTTP/1.1 200 OK\r\n\r\n{}" : framed);
    if (serverCloses) r.transport->listener->socketClosed(socket, 0);
    EXPECT_EQ(r.replies.size(), 1u);
    EXPECT_FALSE(openWhileHandled);
  }
}

TEST_F(GetClientTest, AReplyBeyondTheCapEndsTheRequestWithAnErrorText) {
  const std::string piece(65536, 'x');
  struct Case {
    const char* name;
    std::string head;
    size_t piecesAfterHead;  // how many 64 KiB pieces the server sends after it
    size_t piecesTaken;      // how many arrive before the error
  };
  const size_t capPieces = server::GetClient::kMaxReplyBytes / piece.size();
  const std::vector<Case> cases = {
      // A server that streams without end: the error comes as the cap is
      // passed, whatever follows.
      {"endless", "HTTP/1.1 200 OK\r\n\r\n", capPieces + 10, capPieces},
      // A length beyond the cap is refused as soon as the headers are read.
      {"announced", "HTTP/1.1 200 OK\r\nContent-Length: 40000000\r\n\r\n", 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.client.startRequest("/clientInterface-getGradeInfo?appKey=k&schoolID=1001");
    r.transport->resolveLast();
    const int socket = r.transport->lastSocket;
    r.transport->listener->socketConnected(socket, 0);
    r.transport->listener->socketWritable(socket);
    r.transport->listener->socketReceived(socket, c.head);
    size_t sentBeforeError = 0;
    for (size_t i = 0; i < c.piecesAfterHead; ++i) {
      if (r.replies.empty()) sentBeforeError = i;
      r.transport->listener->socketReceived(socket, piece);
    }
    r.transport->listener->socketClosed(socket, 0);
    EXPECT_EQ(r.replies, std::vector<std::string>{"error:Reply larger than 32 MiB"});
    EXPECT_LE(sentBeforeError, c.piecesTaken);
    // The connection is gone before the handler hears; the time-out runs
    // until the handler finishes, as after every error.
    EXPECT_FALSE(r.transport->openSockets.count(socket));
    EXPECT_TRUE(r.client.timeoutRunning());
    r.client.finishRequest(r.replies.back());
    EXPECT_FALSE(r.client.timeoutRunning());
  }
}

}  // namespace
