#include "tools/devserver/server.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <thread>

#include "tools/devserver/connection.h"

namespace devserver {

namespace {

constexpr char kControlPrefix[] = "/_dev/";
// Put in front of a multipart Content-Type while the body is read; see the
// pre-routing handler.
constexpr char kRawMarker[] = "raw-body;";

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// The library files the connection's addresses among the request headers.
bool addedByLibrary(const std::string& name) {
  return name == "LOCAL_ADDR" || name == "LOCAL_PORT" || name == "REMOTE_ADDR" || name == "REMOTE_PORT";
}

// The Content-Type as the client sent it.
std::string sentContentType(const httplib::Request& request) {
  std::string type = request.get_header_value("Content-Type");
  if (type.rfind(kRawMarker, 0) == 0) type.erase(0, sizeof kRawMarker - 1);
  return type;
}

std::string param(const httplib::Request& request, const std::string& name) {
  return request.get_param_value(name.c_str());
}

void sendJson(httplib::Response& response, int status, const Json& reply) {
  response.status = status;
  response.set_content(reply.dump(-1, ' ', false, Json::error_handler_t::replace), kJsonType);
}

bool readInteger(const std::string& text, long long& value) {
  const size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() <= digits || text.size() > 12 ||
      text.find_first_not_of("0123456789", digits) != std::string::npos) {
    return false;
  }
  value = std::stoll(text);
  return true;
}

}  // namespace

DevServer::DevServer(const Options& options, DevData& data, RequestLog& log)
    : options_(options),
      data_(data),
      log_(log),
      switches_(options.defaultMode),
      operations_(data, options.dataFolder, options.refuseOffline) {
  if (options.tlsCert.empty()) {
    server_ = std::make_unique<httplib::Server>();
  } else {
    server_ = std::make_unique<httplib::SSLServer>(options.tlsCert.c_str(), options.tlsKey.c_str());
    plain_ = std::make_unique<httplib::Server>();
    serve(*plain_, false);
  }
  serve(*server_, !options.tlsCert.empty());
}

void DevServer::serve(httplib::Server& server, bool tls) {
  // Enough threads that held (silent) requests leave room for the others.
  server.new_task_queue = [] { return new httplib::ThreadPool(32); };
  // One request per connection, as the client makes them; the library would
  // otherwise keep a connection open when the client writes "Connection: Close".
  server.set_keep_alive_max_count(1);
  server.set_payload_max_length(64 * 1024 * 1024);
  // The library reads a multipart body only into its own per-name map, which
  // loses the order of the parts and the bytes as sent. Marking the type
  // before the body is read makes it hand over the raw body instead; the
  // request object is the library's own non-const one, handed on as const.
  server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    auto& headers = const_cast<httplib::Headers&>(request.headers);
    const auto type = headers.find("Content-Type");
    if (type != headers.end() && type->second.rfind("multipart/form-data", 0) == 0)
      type->second.insert(0, kRawMarker);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.Get(".*", [this, tls](const httplib::Request& request, httplib::Response& response) {
    handle(request, response, request.body, tls);
  });
  server.Post(".*", [this, tls](const httplib::Request& request, httplib::Response& response,
                                const httplib::ContentReader& reader) {
    std::string body;
    reader([&body](const char* data, size_t length) {
      body.append(data, length);
      return true;
    });
    handle(request, response, body, tls);
  });
}

int DevServer::bind() {
  if (plain_) {
    plainPort_ = plain_->bind_to_any_port("127.0.0.1");
    if (plainPort_ < 0) return -1;
  }
  if (options_.port == 0) return server_->bind_to_any_port("127.0.0.1");
  return server_->bind_to_port("127.0.0.1", options_.port) ? options_.port : -1;
}

void DevServer::run() {
  std::thread plain;
  if (plain_) plain = std::thread([this] { plain_->listen_after_bind(); });
  server_->listen_after_bind();
  if (plain_) plain_->stop();
  if (plain.joinable()) plain.join();
}

void DevServer::stop() {
  stop_.request();
  server_->stop();
  if (plain_) plain_->stop();
}

void DevServer::handle(const httplib::Request& request, httplib::Response& response, const std::string& body,
                       bool tls) {
  if (request.path.rfind(kControlPrefix, 0) == 0) {
    control(request, response);
    return;
  }
  const ReplyMode mode = switches_.take(request.path);

  LoggedRequest logged;
  logged.method = request.method;
  logged.scheme = tls ? "https" : "http";
  logged.target = request.target;
  logged.version = request.version;
  for (const auto& [name, value] : request.headers) {
    if (addedByLibrary(name)) continue;
    logged.headers.emplace_back(name, sameName(name, "Content-Type") ? sentContentType(request) : value);
  }
  logged.bodySize = body.size();
  const std::string boundary = multipartBoundary(sentContentType(request));
  logged.multipart = !boundary.empty();
  if (logged.multipart) logged.form = parseMultipart(body, boundary);
  logged.mode = describeMode(mode);
  logged.offLine = param(request, "offLine") == "1";
  if (logged.offLine) {
    logged.beginTime = param(request, "beginTime");
    logged.shotTime = param(request, "shotTime");
  }
  log_.write(logged);

  if (mode.silent) {
    // Never answer: hold until the server stops, then drop the connection
    // without a byte.
    stop_.wait(-1);
    shutDownConnection(request.local_port, request.remote_port);
    return;
  }
  if (mode.redirect != 0) {
    // Back to the same target: a client that follows it sends the request
    // again (as a GET after 301 to 303, as it was after 307 and 308).
    response.set_redirect(request.target, mode.redirect);
    return;
  }
  Reply reply;
  try {
    reply = route(request, logged.multipart ? &logged.form : nullptr, mode.big);
  } catch (const std::exception& error) {
    std::cerr << "devserver: " << request.method << " " << request.target << ": " << error.what()
              << std::endl;
    reply = htmlPage(500, "500 Internal Server Error", "数据库错误");
  }
  deliver(response, std::move(reply), mode, options_.slowPauseMs, stop_);
}

Reply DevServer::route(const httplib::Request& request, const Form* form, bool big) {
  const std::string operationPath = options_.prefix + "clientInterface-";
  const std::string& path = request.path;
  const std::string op =
      path.rfind(operationPath, 0) == 0 ? path.substr(operationPath.size()) : std::string();
  if (!isOperation(op)) return htmlPage(404, "404 Not Found", "找不到请求的页面。");
  if (param(request, "appKey") != kApplicationKey) return htmlPage(403, "403 Forbidden", "应用密钥无效。");
  // The screenshot arrives as a form; every other operation is read with GET.
  if ((op == "postScreenShot") != (request.method == "POST")) {
    return htmlPage(405, "405 Method Not Allowed", "不支持的请求方法。");
  }
  return operations_.answer(op, request.params, form, big);
}

void DevServer::control(const httplib::Request& request, httplib::Response& response) {
  const std::string what = request.path.substr(sizeof kControlPrefix - 1);
  Json reply;
  reply["status"] = "success";
  try {
    if (what == "mode") {
      if (request.has_param("set")) {
        ReplyMode mode;
        std::string error;
        long long count = 1;
        long long delay = 0;
        if (!parseModeList(param(request, "set"), mode, error) ||
            (request.has_param("count") && !readInteger(param(request, "count"), count)) ||
            (request.has_param("delay") && (!readInteger(param(request, "delay"), delay) || delay < 0))) {
          sendJson(response, 400,
                   Json{{"status", "error"}, {"msg", error.empty() ? "bad count or delay" : error}});
          return;
        }
        if (request.has_param("delay")) mode.delayMs = static_cast<int>(std::min<long long>(delay, 3600000));
        switches_.setNext(mode, static_cast<int>(count), param(request, "only"));
      }
      ReplyMode pending;
      int remaining = 0;
      switches_.pending(pending, remaining);
      reply["mode"] = describeMode(pending);
      reply["remaining"] = remaining;
    } else if (what == "lesson") {
      const std::string device = param(request, "hardDiskID");
      LessonPreset preset;
      if (device.empty() ||
          (!request.has_param("end") && !readInteger(param(request, "timeDiff"), preset.timeDiff))) {
        sendJson(response, 400,
                 Json{{"status", "error"}, {"msg", "hardDiskID and timeDiff (or end=1) needed"}});
        return;
      }
      if (request.has_param("end")) {
        reply["ended"] = data_.endLesson(device);
      } else {
        preset.deviceID = device;
        preset.teacherID = param(request, "teacherID");
        preset.schoolID = param(request, "schoolID");
        preset.gradeID = param(request, "gradeID");
        preset.classesID = param(request, "classesID");
        preset.subjectID = param(request, "subjectID");
        reply["lesson"] = data_.presetLesson(preset, Clock::now());
      }
    } else {
      Json rows = data_.table(what);
      if (rows.is_null()) {
        sendJson(response, 404, Json{{"status", "error"}, {"msg", "unknown control endpoint"}});
        return;
      }
      reply["jsonData"] = std::move(rows);
    }
  } catch (const std::exception& error) {
    sendJson(response, 500, Json{{"status", "error"}, {"msg", error.what()}});
    return;
  }
  sendJson(response, 200, reply);
}

}  // namespace devserver
