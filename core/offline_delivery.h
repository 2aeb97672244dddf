// Sends what the client kept while the server could not be reached: lessons
// started offline, pictures not yet delivered and fault reports, oldest
// first. While anything waits, a round starts once per retry interval (60 s
// unless the deployment sets another), and at once after any other request
// the server has answered; within a round the items follow one another,
// each after the previous answer, until none is due or the server does not
// answer. Each item has its own retry time (see offline_store.h): one the
// server answers badly waits 60 s, doubling up to 30 min, while the items
// behind it go on; one without an answer three times goes behind the
// others. An item is refused for good only after repeated clear refusals
// over an hour; the admin can put refused items back (edu-admin resend).
// Nothing is deleted; an item whose answer was lost is sent again (at least
// once).
//
// It has its own GET client, so it never takes the reply slot of a page's
// request; pictures go with the same form as the live upload, on a worker.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "server/get_client.h"
#include "state/lesson.h"
#include "store/db_error.h"
#include "store/offline_store.h"

class OfflineDelivery : public QObject {
  Q_OBJECT

 public:
  using Uploader = std::function<std::string(const std::string& localPath, const std::string& url)>;
  using Log = std::function<void(const std::string& line)>;

  explicit OfflineDelivery(QObject* parent = nullptr);
  // With another transport for the GET client (tests).
  OfflineDelivery(std::unique_ptr<server::GetClient> client, QObject* parent = nullptr);
  ~OfflineDelivery() override;

  void setRetryInterval(std::chrono::milliseconds interval);
  void setUploader(Uploader uploader) { uploader_ = std::move(uploader); }
  void setLog(Log log) { log_ = std::move(log); }
  // The clock of the items' retry times, ms since 1970 (tests move it).
  void setClock(std::function<long long()> clock) { clock_ = std::move(clock); }
  server::GetClient& getClient() { return *client_; }
  // The lesson this computer is timing: once the server has taken a lesson
  // started offline, the lesson running under its local id goes on under the
  // server's.
  void setLesson(Lesson* lesson) { lesson_ = lesson; }

  // Looks at edu.db: with anything waiting the retry timer runs. Called at
  // start-up and whenever an item has been added.
  void itemsAdded();
  // Another request was answered: the server is reachable, send now.
  void serverAnswered();
  // "上传全部离线数据": send now, whatever the timer says.
  void sendAllNow();

  bool sending() const { return sending_; }
  bool retryRunning() const { return retry_.isActive(); }
  std::chrono::milliseconds retryRemaining() const { return retry_.remainingTimeAsDuration(); }

 signals:
  // An item was answered (delivered or refused): the views read again.
  void itemsChanged();
  // A round of sending ended: everything went (waiting == 0) or the server
  // stopped answering (`reachable` false).
  void roundEnded(bool reachable, int delivered, int refused, int waiting);
  // Before each item of a round.
  void progress(int delivered, int waiting);

 private:
  void sendNext();
  void sendLesson(const DB_Func::PendingItem& item);
  void sendShot(const DB_Func::PendingItem& item);
  void sendRepair(const DB_Func::PendingItem& item);
  void shotAnswer(const DB_Func::PendingItem& item, const std::string& path, const std::string& reply);
  void notTaken(const DB_Func::PendingItem& item, const std::string& reply, const std::string& what);
  void refusedOnce(const DB_Func::PendingItem& item, const std::string& what, const std::string& json);
  // Runs a write of an item's outcome; false (the round ended) when edu.db
  // refused it.
  bool recorded(const std::function<void()>& write);
  void answered(bool delivered);
  void noAnswer(const DB_Func::PendingItem& item, const std::string& why);
  void finishRound(bool reachable);
  void log(const std::string& line);
  bool serverKnown() const;

  std::unique_ptr<server::GetClient> client_;
  QTimer retry_;
  Uploader uploader_;
  Log log_;
  std::function<long long()> clock_;
  bool sending_ = false;
  int delivered_ = 0;
  int refused_ = 0;
  // Pictures are posted on a worker; its answer comes back only while the
  // delivery still exists.
  std::shared_ptr<struct UploadChannel> channel_;
  Lesson* lesson_ = nullptr;
};
