// How a response's body is framed. Servers may answer an HTTP/1.1 request
// with a chunked body, cut into as many chunks as they like, and the reply
// readers need the body in one piece; a body with a Content-Length is whole
// once that many bytes have come, whether or not the server then closes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace server {

// The response with its body joined from its chunks, when its headers say
// "Transfer-Encoding: chunked" and the body is complete up to the last
// (zero-size) chunk. Status line and headers stay as they came; trailer
// fields are dropped. Any other response, or a chunked body that is cut off
// or malformed, comes back unchanged.
std::string joinChunkedBody(std::string_view response);

// The size of the whole response (status line, headers and body) when its
// headers frame the body with a Content-Length; nothing when the body runs
// until the server closes: no Content-Length, a chunked body, an
// informational (1xx) status, or lengths that are malformed or disagree.
// `head` is the response up to and including the blank line after the
// headers.
std::optional<size_t> framedResponseSize(std::string_view head);

}  // namespace server
