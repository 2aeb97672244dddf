// The system-wide F4 swallow that a login can ask for: with it, F4 reaches no
// application, alone or with any modifier, so Alt+F4 closes nothing. Done as
// passive grabs of F4 on the X root window, one for each combination of the
// eight modifiers, held by a display connection of our own whose key events
// are read and dropped. A combination that another program (a window manager
// with its Alt+F4) already holds stays with it; the rest still hold.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class F4Swallow {
 public:
  enum class Result { Grabbed, NoDisplay, Refused };
  using Notice = std::function<void(const std::string& what)>;

  F4Swallow();
  ~F4Swallow();  // the grab ends with the connection
  F4Swallow(const F4Swallow&) = delete;
  F4Swallow& operator=(const F4Swallow&) = delete;

  // Combinations left to other programs, as plain ASCII text for the
  // diagnostic log; told again only when they change.
  void setNotice(Notice notice);

  // Grabs F4 on the display named by $DISPLAY. Grabbed when at least one
  // combination is ours (plain F4 among them unless another program holds
  // it); Refused when another program holds every one. Grabbing again takes
  // what others have let go since and changes nothing else.
  Result install();
  bool installed() const;

  // The modifier combinations (X modifier masks) that others hold.
  std::string heldElsewhere() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
