// Joining a chunked reply body before the reply reaches its handler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/chunked_body.h"

namespace {

const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

TEST(JoinChunkedBody, JoinsCompleteChunkedBodiesAndLeavesEverythingElseAlone) {
  struct Case {
    const char* name;
    std::string response;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"one chunk", kChunkedHead + "e\r\n{\"status\":\"1\"}\r\n0\r\n\r\n",
       kChunkedHead + "{\"status\":\"1\"}"},
      // U+4E2D (E4 B8 AD) cut between two chunks comes out whole.
      {"character across chunks", kChunkedHead + "a\r\n{\"name\":\"\xE4\r\n4\r\n\xB8\xAD\"}\r\n0\r\n\r\n",
       kChunkedHead + "{\"name\":\"\xE4\xB8\xAD\"}"},
      {"extensions, trailers, any letter case",
       "HTTP/1.1 200 OK\r\ntransfer-encoding:  Chunked \r\n\r\nA;x=1\r\n0123456789\r\n0\r\nX-Sum: 1\r\n\r\n",
       "HTTP/1.1 200 OK\r\ntransfer-encoding:  Chunked \r\n\r\n0123456789"},
      {"not chunked", "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n0\r\n\r\n", ""},
      {"chunked under another coding",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n1\r\nx\r\n0\r\n\r\n", ""},
      {"cut off before the last chunk", kChunkedHead + "e\r\n{\"status\":\"1\"}\r\n", ""},
      {"cut off inside a chunk", kChunkedHead + "e\r\n{\"status\"", ""},
      {"size that is no number", kChunkedHead + "zz\r\nab\r\n0\r\n\r\n", ""},
      {"chunk longer than its size", kChunkedHead + "1\r\nab\r\n0\r\n\r\n", ""},
      {"oversized size", kChunkedHead + "ffffffffffffffffff\r\nab\r\n0\r\n\r\n", ""},
      {"headers never end", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n", ""},
      {"error text", "error:Host is nil", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(server::joinChunkedBody(c.response), c.expected.empty() ? c.response : c.expected);
  }
}

}  // namespace
