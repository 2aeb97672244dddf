#include "tools/devserver/options.h"

#include <set>

namespace devserver {

namespace {

bool readNumber(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = std::stoi(text);
  return value >= low && value <= high;
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg == "--reset") {
      options.reset = true;
      continue;
    }
    if (arg == "--refuse-offline") {
      options.refuseOffline = true;
      continue;
    }
    if (arg == "--watch-stdin") {
      options.watchStdin = true;
      continue;
    }
    // Every other option takes a value, as "--name value" or "--name=value".
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    static const std::set<std::string> withValue = {"--port",     "--data",   "--log",   "--prefix",
                                                    "--seed",     "--mode",   "--delay", "--slow-pause",
                                                    "--tls-cert", "--tls-key"};
    if (!withValue.count(name)) {
      error = "unknown option: " + arg + " (see --help)";
      return false;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = "missing value after " + arg;
      return false;
    }
    if (name == "--port") {
      if (!readNumber(value, 0, 65535, options.port)) {
        error = "bad port: " + value;
        return false;
      }
    } else if (name == "--data") {
      options.dataFolder = value;
    } else if (name == "--log") {
      options.logPath = value;
    } else if (name == "--prefix") {
      // The client's server path always begins and ends with "/".
      if (value.empty() || value.front() != '/') value.insert(value.begin(), '/');
      if (value.back() != '/') value.push_back('/');
      options.prefix = value;
    } else if (name == "--seed") {
      options.seedPath = value;
    } else if (name == "--tls-cert") {
      options.tlsCert = value;
    } else if (name == "--tls-key") {
      options.tlsKey = value;
    } else if (name == "--mode") {
      ReplyMode mode;
      if (!parseModeList(value, mode, error)) return false;
      if (mode.delayMs == 0) mode.delayMs = options.defaultMode.delayMs;  // an earlier --delay stays
      options.defaultMode = mode;
    } else if (name == "--delay") {
      if (!readNumber(value, 0, 3600000, options.defaultMode.delayMs)) {
        error = "bad delay: " + value;
        return false;
      }
    } else if (name == "--slow-pause") {
      if (!readNumber(value, 0, 60000, options.slowPauseMs)) {
        error = "bad pause: " + value;
        return false;
      }
    }
  }
  if (options.tlsCert.empty() != options.tlsKey.empty()) {
    error = "--tls-cert and --tls-key go together";
    return false;
  }
  return true;
}

std::string helpText() {
  return R"(Usage: devserver [options]

Development server for the classroom client: answers the client interface
("<prefix>clientInterface-<operation>") from its own small data base, keeps
uploaded screenshots and the courseware registry, and writes every request
it receives to a log, one JSON object per line.

Options:
  --port N          port on 127.0.0.1 (default 0: any free port). The port in
                    use is printed as "devserver listening on 127.0.0.1:N".
  --data DIR        folder for devserver.db and the uploaded screenshots
                    (DIR/screens/<processID>/<n>.jpg); created when missing.
                    Without it everything lives in memory and uploads are
                    only counted.
  --reset           start devserver.db again from the seed
  --seed FILE       SQL to create the reference data with, instead of the
                    built-in seed
  --log FILE        append one JSON line per request to FILE, flushed at once
  --prefix PATH     path in front of "clientInterface-" (default "/"), e.g. /edu/
  --mode LIST       switches for every request, comma separated:
                      slow     body sent in small pieces with pauses; the first
                               cut falls inside a multi-byte UTF-8 character
                      silent   read the request, never answer until the server
                               stops
                      close    send the headers and part of the body, then close
                      error    HTTP 500 with an HTML page (no JSON)
                      chunked  Transfer-Encoding: chunked
                      big      list replies padded to about 5 MB
                      endless  a list reply whose body never ends (no
                               Content-Length; it streams until the client
                               closes or the server stops)
                      hold     the whole reply with its Content-Length, then
                               the connection stays open until the server
                               stops, as if "Connection: Close" were ignored
                      redirect:CODE
                               answer 301, 302, 303, 307 or 308 with a
                               Location back to the same target, nothing else
                      delay=MS wait MS milliseconds before answering
  --delay MS        the same as delay=MS in --mode
  --slow-pause MS   pause between the pieces of a slow reply (default 100)
  --tls-cert FILE   serve HTTPS on the port, with this certificate (PEM, the
  --tls-key FILE    server's first, then any intermediate CAs) and its key.
                    A second port then serves plain HTTP, for the control
                    endpoints and to show that a client never falls back to
                    it; the first line then ends with the words
                    (https; plain http on 127.0.0.1:M). Each request log
                    line says "scheme":"https" or "http".
  --refuse-offline  answer every lesson start and screenshot sent later
                    (offLine=1) with {"status":"error"}, so a client's
                    refusal path can be tried
  --watch-stdin     stop when standard input closes (a test holds it open,
                    so the server ends with the test even when it crashes)
  --help            this text

Records sent later: a client that could not reach the server sends a lesson
start with offLine=1 and beginTime=yyyy-MM-dd HH:mm:ss (the lesson then began
at that local time) and its screenshots with offLine=1 and shotTime (stored
with that time). A request log line of such a request carries
"offLine":{"beginTime":...} or "offLine":{"shotTime":...}.

Control endpoints (never written to the request log):
  GET /_dev/mode?set=LIST&count=N&delay=MS&only=TEXT
                    the next N requests (default 1) get the switches LIST
                    (and the delay MS) instead of the defaults; count=0 goes
                    back to them; with only=, just the next N requests whose
                    path holds TEXT (such as postScreenShot). Without set= it
                    reports what is pending.
  GET /_dev/lesson?hardDiskID=D&teacherID=T&timeDiff=S
                    [&schoolID=&gradeID=&classesID=&subjectID=]
                    presets a running lesson of device D that began S seconds
                    ago; getCouterTime then reports exactly S as timeDiff.
                    &end=1 ends the running lesson of device D instead.
  GET /_dev/registry   the courseware registry as JSON
  GET /_dev/repairs    the fault reports as JSON
  GET /_dev/lessons    all lessons as JSON
  GET /_dev/screenshots  all stored screenshots as JSON

Stops cleanly on SIGTERM or SIGINT, also while silent requests are held.
)";
}

}  // namespace devserver
