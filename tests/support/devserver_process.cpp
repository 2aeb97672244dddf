#include "tests/support/devserver_process.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/test_support.h"

namespace testsupport {

namespace {

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

DevServerRequest readEntry(const nlohmann::json& line) {
  DevServerRequest entry;
  entry.method = line.value("method", "");
  entry.target = line.value("target", "");
  entry.version = line.value("version", "");
  for (const auto& header : line.value("headers", nlohmann::json::array())) {
    entry.headers.emplace_back(header.at(0).get<std::string>(), header.at(1).get<std::string>());
  }
  entry.bodySize = line.value("bodySize", size_t{0});
  for (const auto& part : line.value("parts", nlohmann::json::array())) {
    DevServerRequest::Part read;
    read.name = part.value("name", "");
    read.hasFilename = part.contains("filenameHex");
    read.filename = fromHex(part.value("filenameHex", ""));
    read.contentType = part.value("contentType", "");
    read.size = part.value("size", size_t{0});
    entry.parts.push_back(std::move(read));
  }
  entry.multipartComplete = line.value("multipartComplete", false);
  entry.mode = line.value("mode", "");
  entry.scheme = line.value("scheme", "");
  if (line.contains("offLine")) {
    entry.offLine = true;
    entry.beginTime = line["offLine"].value("beginTime", "");
    entry.shotTime = line["offLine"].value("shotTime", "");
  }
  return entry;
}

}  // namespace

std::string DevServerRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (sameName(key, name)) return value;
  }
  return {};
}

std::string DevServerRequest::path() const { return target.substr(0, target.find('?')); }

DevServerProcess::DevServerProcess(const std::vector<std::string>& extraArgs) {
  QStringList args = {"--port",       "0",
                      "--data",       QString::fromStdString(dataDir()),
                      "--log",        QString::fromStdString(logPath()),
                      "--watch-stdin"};
  for (const std::string& arg : extraArgs) args << QString::fromStdString(arg);
  process_ = std::make_unique<QProcess>();
  process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_->start(QString::fromStdString(programDir() + "/devserver"), args);
  if (!process_->waitForStarted(10000)) return;
  // Standard input stays open while this object lives: the server ends when
  // it closes, so a crashed test leaves no server behind.
  const std::string marker = "devserver listening on 127.0.0.1:";
  std::string output;
  QDeadlineTimer deadline(15000);
  while (output.find('\n') == std::string::npos && !deadline.hasExpired() &&
         process_->state() == QProcess::Running) {
    process_->waitForReadyRead(100);
    output += process_->readAllStandardOutput().toStdString();
  }
  const size_t at = output.find(marker);
  if (at != std::string::npos) port_ = std::atoi(output.c_str() + at + marker.size());
  const std::string plain = "plain http on 127.0.0.1:";
  const size_t plainAt = output.find(plain);
  if (plainAt != std::string::npos) plainPort_ = std::atoi(output.c_str() + plainAt + plain.size());
}

DevServerProcess::~DevServerProcess() { stop(); }

bool DevServerProcess::running() const {
  return process_ && process_->state() == QProcess::Running && port_ > 0;
}

std::string DevServerProcess::dataDir() const { return dir_.path().toStdString() + "/data"; }

std::string DevServerProcess::logPath() const { return dir_.path().toStdString() + "/requests.jsonl"; }

std::vector<DevServerRequest> DevServerProcess::requests() const {
  std::vector<DevServerRequest> entries;
  std::istringstream lines(readFile(logPath()));
  std::string line;
  while (std::getline(lines, line)) {
    const auto parsed = nlohmann::json::parse(line, nullptr, false);
    if (!parsed.is_discarded()) entries.push_back(readEntry(parsed));
  }
  return entries;
}

bool DevServerProcess::waitForRequests(size_t count, int timeoutMs) const {
  return waitFor([&] { return requests().size() >= count; }, timeoutMs);
}

std::string DevServerProcess::exchange(const std::string& request, int timeoutMs) const {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(plainPort_ > 0 ? plainPort_ : port_));
  if (!socket.waitForConnected(timeoutMs)) return {};
  socket.write(request.data(), static_cast<qint64>(request.size()));
  QDeadlineTimer deadline(timeoutMs);
  std::string reply;
  // Reads until the server closes (or the time is up).
  while (!deadline.hasExpired()) {
    const bool more =
        socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    reply += socket.readAll().toStdString();
    if (!more && socket.state() != QAbstractSocket::ConnectedState) break;
  }
  return reply;
}

std::string DevServerProcess::get(const std::string& target, int timeoutMs) const {
  return exchange(
      "GET " + target + " HTTP/1.1\r\nAccept: */*\r\nConnection: Close\r\nHost: " + host() + "\r\n\r\n",
      timeoutMs);
}

std::string DevServerProcess::control(const std::string& pathAndQuery) const {
  const std::string reply = get("/_dev/" + pathAndQuery);
  const size_t body = reply.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

int DevServerProcess::stop(int timeoutMs) {
  if (!process_ || process_->state() == QProcess::NotRunning) return process_ ? process_->exitCode() : -1;
  process_->terminate();
  if (!process_->waitForFinished(timeoutMs)) {
    process_->kill();
    process_->waitForFinished(timeoutMs);
    return -1;
  }
  return process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
}

}  // namespace testsupport
