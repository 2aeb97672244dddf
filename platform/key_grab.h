// The system-wide F4 swallow that a login can ask for: with it, F4 reaches no
// application, alone or with any modifier, so Alt+F4 closes nothing. Done as
// a passive grab of F4 with any modifier on the X root window, held by a
// display connection of our own whose key events are read and dropped.
#pragma once

#include <memory>
#include <string>

namespace platform {

class F4Swallow {
 public:
  enum class Result { Grabbed, NoDisplay, Refused };

  F4Swallow();
  ~F4Swallow();  // the grab ends with the connection
  F4Swallow(const F4Swallow&) = delete;
  F4Swallow& operator=(const F4Swallow&) = delete;

  // Grabs F4 on the display named by $DISPLAY; grabbing again is harmless.
  // Refused when another program holds the same grab.
  Result install();
  bool installed() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
