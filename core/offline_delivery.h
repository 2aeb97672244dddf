// Sends what the client kept while the server could not be reached: lessons
// started offline, pictures not yet delivered and fault reports, oldest
// first. While anything waits, the oldest item is tried at most once per
// retry interval (60 s unless the deployment sets another), and at once
// after any other request the server has answered. After a success the rest
// follow one after another, each after the previous answer. An item the
// server refuses is marked and not sent again; an item without an answer
// stays and is tried again. Nothing is deleted; an item whose answer was
// lost is sent again (at least once).
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
  server::GetClient& getClient() { return *client_; }

  // Looks at edu.db: with anything waiting the retry timer runs. Called at
  // start-up and whenever an item has been added.
  void itemsAdded();
  // Another request was answered: the server is reachable, send now.
  void serverAnswered();
  // "上传全部离线数据": send now, whatever the timer says.
  void sendAllNow();

  bool sending() const { return sending_; }
  bool retryRunning() const { return retry_.isActive(); }

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
  void shotAnswer(long long id, const std::string& path, const std::string& reply);
  void answered(bool delivered);
  void noAnswer(const std::string& why);
  void finishRound(bool reachable);
  void log(const std::string& line);
  bool serverKnown() const;

  std::unique_ptr<server::GetClient> client_;
  QTimer retry_;
  Uploader uploader_;
  Log log_;
  bool sending_ = false;
  int delivered_ = 0;
  int refused_ = 0;
  // Pictures are posted on a worker; its answer comes back only while the
  // delivery still exists.
  std::shared_ptr<struct UploadChannel> channel_;
};
