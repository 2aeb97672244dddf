#include "tools/devserver/reply_writer.h"

#include <memory>

namespace devserver {

namespace {

struct PieceState {
  std::string body;
  std::vector<size_t> pieces;
  size_t next = 0;
  size_t offset = 0;
};

}  // namespace

Reply htmlPage(int status, const std::string& title, const std::string& text) {
  Reply reply;
  reply.status = status;
  reply.contentType = "text/html;charset=UTF-8";
  reply.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
               "</title></head>\n<body><h1>" + title + "</h1><p>" + text + "</p></body></html>\n";
  return reply;
}

std::vector<size_t> pieceSizes(std::string_view body, size_t maxPieces) {
  std::vector<size_t> sizes;
  if (body.empty()) return sizes;
  if (maxPieces < 2) return {body.size()};
  size_t first = 0;
  for (size_t i = 0; i + 1 < body.size(); ++i) {
    if ((static_cast<unsigned char>(body[i]) & 0xC0) == 0xC0) {
      first = i + 1;
      break;
    }
  }
  if (first == 0) first = (body.size() + 1) / 2;
  sizes.push_back(first);
  const size_t rest = body.size() - first;
  if (rest == 0) return sizes;
  const size_t size = (rest + maxPieces - 2) / (maxPieces - 1);
  for (size_t done = 0; done < rest; done += size) sizes.push_back(std::min(size, rest - done));
  return sizes;
}

void deliver(httplib::Response& response, Reply reply, const ReplyMode& mode, int slowPauseMs,
             StopSignal& stop) {
  // A stop during the delay answers at once rather than keeping the server up.
  if (mode.delayMs > 0) stop.wait(mode.delayMs);
  if (mode.errorPage) reply = htmlPage(500, "500 Internal Server Error", "服务器内部错误，请稍后再试。");
  response.status = reply.status;

  if (mode.closeEarly) {
    // The headers announce the whole body; half of it goes out, then the
    // provider gives up and the library closes the connection.
    auto body = std::make_shared<std::string>(std::move(reply.body));
    const size_t half = body->size() / 2;
    response.set_content_provider(body->size(), reply.contentType,
                                  [body, half](size_t offset, size_t, httplib::DataSink& sink) {
                                    if (offset >= half) return false;
                                    sink.write(body->data() + offset, half - offset);
                                    return true;
                                  });
    return;
  }

  if (mode.endless) {
    // The reply up to its list, then records without end, as fast as the
    // client takes them; the sink refuses once the client has gone.
    const size_t list = reply.body.find('[');
    auto head = std::make_shared<std::string>(list == std::string::npos ? reply.body
                                                                        : reply.body.substr(0, list + 1));
    auto filler = std::make_shared<std::string>();
    while (filler->size() < 64 * 1024) filler->append("{\"pad\":\"" + std::string(100, 'x') + "\"},");
    response.set_content_provider(
        reply.contentType, [head, filler, &stop](size_t offset, httplib::DataSink& sink) {
          if (stop.requested()) return false;
          const std::string& piece = offset == 0 && !head->empty() ? *head : *filler;
          return sink.write(piece.data(), piece.size());
        });
    return;
  }

  if (mode.hold) {
    // All of it, then the connection stays until the server stops: a server
    // (or proxy) that ignores "Connection: Close".
    auto body = std::make_shared<std::string>(std::move(reply.body));
    response.set_content_provider(body->size(), reply.contentType,
                                  [body, &stop](size_t offset, size_t, httplib::DataSink& sink) {
                                    sink.write(body->data() + offset, body->size() - offset);
                                    stop.wait(-1);
                                    return true;
                                  });
    return;
  }

  if (!mode.slow && !mode.chunked) {
    response.set_content(std::move(reply.body), reply.contentType);
    return;
  }

  auto state = std::make_shared<PieceState>();
  state->pieces = pieceSizes(reply.body, mode.slow ? 10 : 4);
  state->body = std::move(reply.body);
  const int pause = mode.slow ? slowPauseMs : 0;
  // One piece per call; the pauses lie between pieces, never before the first.
  auto writePiece = [state, pause, &stop](httplib::DataSink& sink) {
    if (state->next > 0 && pause > 0) stop.wait(pause);
    const size_t size = state->pieces[state->next++];
    sink.write(state->body.data() + state->offset, size);
    state->offset += size;
  };
  if (mode.chunked) {
    response.set_chunked_content_provider(reply.contentType,
                                          [state, writePiece](size_t, httplib::DataSink& sink) {
                                            if (state->next == state->pieces.size()) {
                                              sink.done();
                                            } else {
                                              writePiece(sink);
                                            }
                                            return true;
                                          });
  } else {
    const size_t size = state->body.size();
    response.set_content_provider(size, reply.contentType,
                                  [writePiece](size_t, size_t, httplib::DataSink& sink) {
                                    writePiece(sink);
                                    return true;
                                  });
  }
}

}  // namespace devserver
