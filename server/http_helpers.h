// HTTP routines around the server interface that the GET client does not
// cover: taking the server address apart, reading a parameter back from a
// request target, and posting a file as a multipart form.
#pragma once

#include <stop_token>
#include <string>
#include <string_view>

struct ServerAddress {
  std::string host;
  int port = 80;
  std::string path;
  // "https://" in front: every request to this server goes over TLS.
  bool secure = false;
};

// Takes "[http://|https://]host[:port]/[path]" apart. Surrounding blanks and
// control characters and the scheme (in any letter case) are dropped; a port
// that is missing, not a decimal number or outside 1..65535 is 80 (443 with
// "https://"). Without any "/" the host is empty and the whole text is the
// path.
ServerAddress splitServerUrl(std::string_view address);

// The value of parameter `name` in a request target, read the way the reply
// handlers read their request back: items at "&", each at "="; an item with
// that name and a value sets the result, an item without a value (whatever
// its name) empties it, and the last such item decides. The first parameter
// shares its item with the path and so is never found by its own name.
std::string queryParam(std::string_view pathAndQuery, std::string_view name);

// Posts the file as the upload form the server expects (fields act, upcount,
// filepath, Submit, then the file as screenFile with the full local path as
// its file name) and returns the reply body. `localPath` is GBK text like all
// text in the client; the file is opened under its UTF-8 name on disk. The
// file is streamed, never read whole. Cookies are kept for this one call.
// Every failure (empty path, unreadable file, no connection, an error status,
// a redirect, a broken or stalled connection) gives empty text: a redirect is
// not followed, since following it would send the request again elsewhere,
// and after 301 to 303 as a GET without the picture. The URL goes out as
// given, except that a blank or control character in it, which no request
// line can carry, is %-encoded. Blocks: call it on a worker thread; a stop
// requested through `stop` ends the exchange within about a second, with
// empty text.
// A final answer without a body still says the server took the post: it
// gives this text, so that no caller takes it for a failure and sends the
// picture again.
inline constexpr const char* kEmptyPostAnswer = "(answered without a body)";
std::string postFile(const std::string& localPath, const std::string& url, std::stop_token stop = {});
