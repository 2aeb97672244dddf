// How the windows reach one another. The status window, the main panel, its
// pages and the upload queue call each other (a login resets the queue and
// shows the class-start page, a drop on the panel feeds the queue...).
// Rather than include each other, each window calls through this one
// process-wide table, which the program fills once at start-up as it
// creates the windows (app/client_windows.cpp). What happens to the lesson
// is not here: the windows connect to the Lesson's signals
// (state/lesson.h), and the pages to the status window's signedIn and
// signedOut through the program's wiring. The program
// checks at start-up that every entry is filled (emptyHooks) and refuses to
// start otherwise, and its wiring test does the same; a window tested alone
// fills only what it uses, and an empty hook there does nothing (and answers
// false, 0 or empty).
#pragma once

#include <functional>
#include <string>
#include <vector>

struct AppHooksTable {
  // Status window.
  std::function<void(const std::string&)> appendLog;  // one line of the hidden diagnostic log (GBK)

  // Main panel.
  std::function<void(const std::string&)> switchPage;  // page keys "suiImageButton2".."suiImageButton9"
  std::function<std::string()> currentPageKey;
  std::function<void()> showMainPanel;
  std::function<void(int left, int top)> moveMainPanel;  // screen position of its top-left corner
  std::function<void()> hideMainPanel;

  // Upload queue.
  std::function<void()> resetQueue;
  std::function<int()> queuedCount;
  std::function<bool()> uploading;
  std::function<void(const std::string&)> copyAndAdd;  // a dropped or chosen file (GBK path)

  // Records kept for later: something was added to them (a lesson started
  // offline, a picture or a fault report not delivered).
  std::function<void()> pendingChanged;
};

inline AppHooksTable AppHooks;

// The names of the entries of `table` that nobody has filled, in the
// table's order ("switchPage", ...); empty when all are filled.
std::vector<std::string> emptyHooks(const AppHooksTable& table);

// Calls a hook when it is filled; otherwise gives the result type's empty value.
template <typename Hook, typename... Args>
auto callHook(const Hook& hook, Args&&... args) {
  using Result = decltype(hook(std::forward<Args>(args)...));
  if (!hook) return Result();
  return hook(std::forward<Args>(args)...);
}
