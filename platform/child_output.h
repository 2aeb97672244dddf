// A helper program run for its output: started with no arguments, its
// standard output and error both go into one pipe that we read without
// blocking.
#pragma once

#include <sys/types.h>

#include <string>

namespace platform {

class ChildOutput {
 public:
  ChildOutput() = default;
  // Closes the pipe and reaps the program, ending it first if it still runs.
  ~ChildOutput();
  ChildOutput(const ChildOutput&) = delete;
  ChildOutput& operator=(const ChildOutput&) = delete;

  // Starts `path`; false when the pipe or the program cannot be started.
  bool start(const std::string& path);

  enum class Read { Bytes, NothingYet, Ended };
  // Up to `maxBytes` of waiting output into `chunk` (Bytes); NothingYet when
  // the pipe is empty but open; Ended when every writer has closed it and it
  // is drained, or reading failed.
  Read read(std::string& chunk, size_t maxBytes);
  // Whether the program has ended (it is reaped then).
  bool hasExited();
  // Sleeps until output or the end of the pipe arrives, at most `ms`.
  void waitForOutput(int ms);
  // Ends the program at once.
  void stop();

 private:
  pid_t pid_ = -1;
  int pipe_ = -1;
};

}  // namespace platform
