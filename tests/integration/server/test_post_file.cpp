// The multipart upload against a small HTTP server on loopback that sees the
// raw request bytes. The server runs on the test's event loop while postFile
// blocks on a worker, as it does in the client.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <regex>

#include "server/http_helpers.h"
#include "tests/support/test_support.h"

namespace {

// FNV-1a, so a 50 MB body can be compared without keeping it.
struct BodyHash {
  uint64_t value = 1469598103934665603ull;
  void add(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
      value = (value ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
  }
  void add(const std::string& text) { add(text.data(), text.size()); }
};

struct Request {
  std::string target;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;                            // the first megabyte
  size_t size = 0;
  BodyHash hash;
};

// One request per connection: reads the head and Content-Length bytes of
// body, answers with whatever the handler returns and closes.
class RawHttpServer {
 public:
  using Handler = std::function<std::string(const Request&)>;

  explicit RawHttpServer(Handler handler) : handler_(std::move(handler)) {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) accept(socket);
    });
  }

  std::string url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + target;
  }
  const std::vector<Request>& requests() const { return requests_; }

 private:
  struct Connection {
    std::string head;
    bool headDone = false;
    size_t bodyLeft = 0;
    Request request;
  };

  void accept(QTcpSocket* socket) {
    auto connection = std::make_shared<Connection>();
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, connection] {
      const QByteArray data = socket->readAll();
      if (feed(*connection, data.constData(), static_cast<size_t>(data.size()))) {
        requests_.push_back(connection->request);
        const std::string answer = handler_(connection->request);
        // No answer: the connection is held, as by a server that hangs.
        if (answer.empty()) return;
        socket->write(answer.data(), static_cast<qint64>(answer.size()));
        socket->disconnectFromHost();
      }
    });
  }

  // Takes the next bytes; true once the whole request is in.
  static bool feed(Connection& c, const char* data, size_t size) {
    if (!c.headDone) {
      c.head.append(data, size);
      const size_t end = c.head.find("\r\n\r\n");
      if (end == std::string::npos) return false;
      const std::string rest = c.head.substr(end + 4);
      c.head.resize(end);
      c.headDone = true;
      parseHead(c);
      return feedBody(c, rest.data(), rest.size());
    }
    return feedBody(c, data, size);
  }

  static void parseHead(Connection& c) {
    std::istringstream lines(c.head);
    std::string line;
    std::getline(lines, line);
    const size_t first = line.find(' ');
    c.request.target = line.substr(first + 1, line.rfind(' ') - first - 1);
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string name = line.substr(0, colon);
      for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      c.request.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    c.bodyLeft =
        std::stoull(c.request.headers.count("content-length") ? c.request.headers["content-length"] : "0");
  }

  static bool feedBody(Connection& c, const char* data, size_t size) {
    size = std::min(size, c.bodyLeft);
    Request& r = c.request;
    if (r.body.size() < (1u << 20)) r.body.append(data, std::min(size, (1u << 20) - r.body.size()));
    r.size += size;
    r.hash.add(data, size);
    c.bodyLeft -= size;
    return c.bodyLeft == 0;
  }

  Handler handler_;
  QTcpServer server_;
  std::vector<Request> requests_;
};

std::string answer(const std::string& statusLine, const std::string& body,
                   const std::string& extraHeaders = "") {
  return "HTTP/1.1 " + statusLine +
         "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

// The test server's pages: the upload itself, an error page, a reply cut
// off, a page that never answers, and redirects (/moved/<status>) that send
// the form on to the upload.
std::string serve(const Request& r) {
  const std::string path = r.target.substr(0, r.target.find('?'));
  if (path == "/edu/clientInterface-postScreenShot") {
    const auto cookie = r.headers.find("cookie");
    return answer("200 OK",
                  R"({"status":"ok","cookie":")" + (cookie == r.headers.end() ? "" : cookie->second) + "\"}");
  }
  if (path == "/fail") return answer("500 Internal Server Error", R"({"status":"error"})");
  if (path == "/broken") return "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc";
  if (path == "/taken") return answer("200 OK", "");
  if (path == "/hold") return "";
  if (path.rfind("/moved/", 0) == 0) {
    return answer(
        path.substr(7) + " Moved", "",
        "Set-Cookie: session=s42; Path=/\r\nLocation: /edu/clientInterface-postScreenShot?processID=7\r\n");
  }
  return answer("404 Not Found", "<html>not here</html>");
}

// postFile blocks, so it runs on a worker while the event loop serves.
std::string post(const std::string& path, const std::string& url, std::stop_token stop = {}) {
  auto reply = std::async(std::launch::async, [&] { return postFile(path, url, stop); });
  EXPECT_TRUE(testsupport::waitFor(
      [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 120000));
  return reply.get();
}

// The form as the server expects it, around the file's bytes.
std::string formHead(const std::string& boundary, const std::string& fileName) {
  std::string head;
  for (const auto& [name, value] :
       {std::pair{"act", "upload"}, {"upcount", "1"}, {"filepath", "data"}, {"Submit", "Submit"}}) {
    head += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
            "\r\n";
  }
  return head + "--" + boundary + "\r\nContent-Disposition: form-data; name=\"screenFile\"; filename=\"" +
         fileName + "\"\r\nContent-Type: text/plain\r\n\r\n";
}

std::string formTail(const std::string& boundary) { return "\r\n--" + boundary + "--\r\n"; }

std::string boundaryOf(const Request& r) {
  const std::string prefix = "multipart/form-data; boundary=";
  const auto type = r.headers.find("content-type");
  if (type == r.headers.end() || type->second.rfind(prefix, 0) != 0) return {};
  return type->second.substr(prefix.size());
}

// AddressSanitizer keeps freed memory in quarantine, so the peak grows with
// every buffer the test server reads into; the figure says nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

long peakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class PostFile : public ::testing::Test {
 protected:
  std::string tempPath(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }

  QTemporaryDir dir_;
  RawHttpServer server_{serve};
};

TEST_F(PostFile, SendsTheFormWithTheFullLocalPathAsFileName) {
  // The client's text is GBK; the picture lies on disk under the UTF-8 name.
  const std::string gbkPath = tempPath(
      "\xB5\xDA"
      "1 \"x\".jpg");  // 第1 "x".jpg
  const std::string content("\xFF\xD8jpeg\r\n--------\0tail", 20);
  ASSERT_TRUE(testsupport::writeFile(tempPath("\xE7\xAC\xAC"
                                              "1 \"x\".jpg"),
                                     content));

  // A request line cannot carry the space of the disk serial number raw.
  const std::string reply =
      post(gbkPath,
           server_.url("/edu/clientInterface-postScreenShot?appKey=k&processID=88&deviceID=WD 1&shotTime="));

  EXPECT_EQ(reply, R"({"status":"ok","cookie":""})");
  ASSERT_EQ(server_.requests().size(), 1u);
  const Request& r = server_.requests()[0];
  EXPECT_EQ(r.target, "/edu/clientInterface-postScreenShot?appKey=k&processID=88&deviceID=WD%201&shotTime=");
  const std::string boundary = boundaryOf(r);
  // Eight hyphens, then month, day, two-digit year, hour, minute, second, milliseconds.
  EXPECT_TRUE(std::regex_match(boundary, std::regex("--------(0[1-9]|1[0-2])(0[1-9]|[12][0-9]|3[01])[0-9]{2}"
                                                    "([01][0-9]|2[0-3])[0-5][0-9][0-5][0-9][0-9]{3}")))
      << boundary;
  // The path goes as it is, in GBK; only a quote, which would end the
  // header's file name, goes as %22.
  const std::string headerName = tempPath(
      "\xB5\xDA"
      "1 %22x%22.jpg");
  EXPECT_EQ(r.body, formHead(boundary, headerName) + content + formTail(boundary));
}

TEST_F(PostFile, StreamsALargeFileWithoutHoldingIt) {
  const std::string path = tempPath("big.jpg");
  constexpr size_t kChunk = 1 << 20, kChunks = 50;
  BodyHash fileHash;
  {
    std::ofstream out(path, std::ios::binary);
    std::string chunk(kChunk, '\0');
    for (size_t c = 0; c < kChunks; ++c) {
      for (size_t i = 0; i < kChunk; ++i) chunk[i] = static_cast<char>((c * 7 + i * 31 + i / 4099) & 0xFF);
      fileHash.add(chunk);
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
  }
  const long peakBefore = peakRssKb();

  EXPECT_FALSE(post(path, server_.url("/edu/clientInterface-postScreenShot?processID=1")).empty());

  if (!kAddressSanitizer) {
    // Holding the file would add its whole 50 MB; socket buffers and a lagging
    // test server under a loaded machine have been seen to add some 26 MB.
    EXPECT_LT(peakRssKb() - peakBefore, 40 * 1024) << "the upload seems to hold the file in memory";
  }
  ASSERT_EQ(server_.requests().size(), 1u);
  const Request& r = server_.requests()[0];
  const std::string head = formHead(boundaryOf(r), path), tail = formTail(boundaryOf(r));
  ASSERT_EQ(r.size, head.size() + kChunk * kChunks + tail.size());
  EXPECT_EQ(r.body.substr(0, head.size()), head);
  // The file's bytes follow the head unchanged: hash head + file + tail.
  BodyHash expected;
  expected.add(head);
  {
    std::ifstream in(path, std::ios::binary);
    std::string chunk(kChunk, '\0');
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) expected.add(chunk);
  }
  expected.add(tail);
  EXPECT_EQ(r.hash.value, expected.value);
}

// A redirect is not followed: after 301 to 303 libcurl would send a GET
// without the picture, after 307 and 308 the form again elsewhere, and the
// answer to that would count as the upload's.
TEST_F(PostFile, ARedirectIsAFailedUploadAndNothingIsSentAgain) {
  const std::string path = tempPath("shot.jpg");
  ASSERT_TRUE(testsupport::writeFile(path, "picture"));
  for (const char* status : {"301", "302", "303", "307", "308"}) {
    SCOPED_TRACE(status);
    const size_t before = server_.requests().size();
    EXPECT_EQ(post(path, server_.url(std::string("/moved/") + status)), "");
    ASSERT_EQ(server_.requests().size(), before + 1);
    EXPECT_EQ(server_.requests().back().size, (formHead(boundaryOf(server_.requests().back()), path) +
                                               "picture" + formTail(boundaryOf(server_.requests().back())))
                                                  .size());
  }
}

// A stop ends an upload that the server holds at once, not when the stall
// limit (30 s) runs out.
TEST_F(PostFile, AStopEndsAnUploadTheServerHolds) {
  const std::string path = tempPath("shot.jpg");
  ASSERT_TRUE(testsupport::writeFile(path, "picture"));
  std::stop_source stop;
  auto reply =
      std::async(std::launch::async, [&] { return postFile(path, server_.url("/hold"), stop.get_token()); });
  ASSERT_TRUE(testsupport::waitFor([&] { return server_.requests().size() == 1; }));
  stop.request_stop();
  EXPECT_TRUE(testsupport::waitFor(
      [&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 15000));
  // Waits out the stall limit when the stop did not work.
  EXPECT_EQ(reply.get(), "");
  // A stop asked for beforehand sends nothing at all.
  EXPECT_EQ(post(path, server_.url("/edu/clientInterface-postScreenShot"), stop.get_token()), "");
  EXPECT_EQ(server_.requests().size(), 1u);
}

TEST_F(PostFile, EveryFailureGivesEmptyText) {
  const std::string path = tempPath("shot.jpg");
  ASSERT_TRUE(testsupport::writeFile(path, "picture"));
  const std::string upload = server_.url("/edu/clientInterface-postScreenShot");
  const std::string refused = "http://127.0.0.1:" + std::to_string(testsupport::freePort()) + "/upload";
  struct Case {
    const char* name;
    std::string path;
    std::string url;
    bool reachesServer;
  } cases[] = {
      {"empty path", "", upload, false},
      {"missing file", tempPath("missing.jpg"), upload, false},
      {"a folder", dir_.path().toStdString(), upload, false},
      {"refused connection", path, refused, false},
      {"error status", path, server_.url("/fail"), true},
      {"unknown page", path, server_.url("/nowhere"), true},
      {"reply cut off", path, server_.url("/broken"), true},
      {"not an HTTP address", path, "file://" + path, false},
  };
  for (const auto& c : cases) {
    const size_t before = server_.requests().size();
    EXPECT_EQ(post(c.path, c.url), "") << c.name;
    EXPECT_EQ(server_.requests().size(), before + (c.reachesServer ? 1 : 0)) << c.name;
  }
  // A 200 without a body is no failure: the server took the picture, and
  // no caller may send it again.
  EXPECT_EQ(post(path, server_.url("/taken")), kEmptyPostAnswer);
}

}  // namespace
