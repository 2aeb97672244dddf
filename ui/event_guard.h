// Where a database error ends on the UI thread. Qt's event dispatch cannot
// carry an exception, so every handler a window installs that can reach
// edu.db (a connected slot, a reply handler in a GET client's slot, a timer,
// a queued call, an event override, the login channel's message handler) runs
// through guarded() or runGuarded(): a DB_Func::DbError it throws stops that
// handler there, is handed to handleDatabaseError(), and the client goes on
// with the next event. Anything else passes through.
#pragma once

#include <QObject>
#include <concepts>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

#include "store/database_check.h"
#include "store/db_error.h"

namespace ui {

// What the handling does beyond the box, set once by the program: where its
// log lines go, how a damaged edu.db is replaced, and how much room the data
// folder has left (empty text when unknown).
struct DatabaseGuard {
  std::function<void(const std::string&)> log;
  std::function<DB_Func::DatabaseCheck()> checkDatabase;
  std::function<std::string()> freeSpace;
};
void setDatabaseGuard(DatabaseGuard guard);

// The teacher's messages: for a full disk, and for any other failure of
// edu.db. SQLite's own text goes to the log only.
inline constexpr const char* kDiskFullMessage = "磁盘已满，无法保存数据。请联系管理员清理磁盘空间后再试。";
inline constexpr const char* kDatabaseErrorMessage =
    "本机数据出错，请稍后再试。如果一直出现，请联系学校电教室。";

// A damaged edu.db is replaced (logged, no box) when the guard can; a full
// disk gets its plain message and a log line with the path and the free
// space; any other error a log line with SQLite's code and text and the plain
// message. While one of these boxes is open no second one opens (a failing
// timer would stack them); the log still gets every line. The box belongs to
// `owner`'s window when it is a widget.
void handleDatabaseError(const QObject* owner, const DB_Func::DbError& error);

template <class Handler, class Owner, class... Args>
concept GuardedCall = (std::is_member_function_pointer_v<Handler> ? std::invocable<Handler&, Owner*, Args...>
                                                                  : std::invocable<Handler&, Args...>);

// `handler` (a callable, or a member function of `owner`) wrapped so that a
// DbError it throws goes to handleDatabaseError() instead of into Qt: for
// connect(), a GET client's reply slot, QTimer::singleShot, invokeMethod.
template <class Owner, class Handler>
auto guarded(Owner* owner, Handler handler) {
  return [ owner,
           handler ]<class... Args>(Args && ... args) mutable requires GuardedCall<Handler, Owner, Args...> {
    try {
      if constexpr (std::is_member_function_pointer_v<Handler>)
        std::invoke(handler, owner, std::forward<Args>(args)...);
      else
        std::invoke(handler, std::forward<Args>(args)...);
    } catch (const DB_Func::DbError& error) {
      handleDatabaseError(owner, error);
    }
  };
}

// Runs `handler` now, the same way: for event overrides (showEvent, event).
template <class Handler>
void runGuarded(const QObject* owner, Handler&& handler) {
  try {
    std::forward<Handler>(handler)();
  } catch (const DB_Func::DbError& error) {
    handleDatabaseError(owner, error);
  }
}

}  // namespace ui
