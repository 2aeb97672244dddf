// Servers may answer an HTTP/1.1 request with a chunked body, cut into as
// many chunks as they like; the reply readers need the body in one piece.
#pragma once

#include <string>
#include <string_view>

namespace server {

// The response with its body joined from its chunks, when its headers say
// "Transfer-Encoding: chunked" and the body is complete up to the last
// (zero-size) chunk. Status line and headers stay as they came; trailer
// fields are dropped. Any other response, or a chunked body that is cut off
// or malformed, comes back unchanged.
std::string joinChunkedBody(std::string_view response);

}  // namespace server
