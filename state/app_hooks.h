// How the windows reach one another. The status window, the main panel, its
// pages and the upload queue call each other (a login resets the queue, the
// class-start page starts the status window's timers, a drop on the panel
// feeds the queue...). Rather than include each other, each window calls
// through this one process-wide table, which the program fills once at
// start-up as it creates the windows (app/client_windows.cpp). The program
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
  std::function<bool()> isLessonRunning;              // the class timer is on
  std::function<void()> startLessonTimers;            // class and screenshot timers on, lock timer off

  // Main panel.
  std::function<void(const std::string&)> switchPage;  // page keys "suiImageButton2".."suiImageButton9"
  std::function<std::string()> currentPageKey;
  std::function<void()> showMainPanel;
  std::function<void(int left, int top)> moveMainPanel;  // screen position of its top-left corner
  std::function<void()> hideMainPanel;

  // Class-start and repair pages.
  std::function<void()> classStartRefresh;                    // Tform_skjs::FormShow1111
  std::function<void()> classStartIdle;                       // start label hidden, start button shown
  std::function<void(const std::string&)> classStartResumed;  // shows the server's begin time
  std::function<void()> pagesSignedIn;   // login: combos to item 0, school/teacher edits filled
  std::function<void()> pagesSignedOut;  // logout: combos to item 0, edits to their prompts

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
