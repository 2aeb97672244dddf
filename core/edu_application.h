// The client's application object. Its one addition is the guard at the
// event-dispatch boundary: a database error that ends the handling of an
// event is shown to the user in a message box, and the client goes on with
// the next event.
#pragma once

#include <QApplication>
#include <functional>
#include <string>

#include "store/database_check.h"

class EduApplication : public QApplication {
 public:
  EduApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// What the guard does beyond the box, set once by the program: where its
// log lines go, how a damaged edu.db is replaced, and how much room the
// data folder has left (empty text when unknown).
struct DatabaseGuard {
  std::function<void(const std::string&)> log;
  std::function<DB_Func::DatabaseCheck()> checkDatabase;
  std::function<std::string()> freeSpace;
};
void setDatabaseGuard(DatabaseGuard guard);

// Runs `dispatch`; a DB_Func::DbError thrown from it counts the event as not
// handled and the client goes on. An error that says edu.db is damaged has
// the file replaced (logged, no box) when the guard is set; a full disk gets
// one plain message and a log line with the path and the free space; any
// other error is shown in a message box. Anything else passes through.
bool dispatchShowingDbErrors(const std::function<bool()>& dispatch);

// The teacher's message for a full disk.
inline constexpr const char* kDiskFullMessage = "磁盘已满，无法保存数据。请联系管理员清理磁盘空间后再试。";
