// A shared library opened the first time one of its functions is called,
// for libraries most runs never need (each one loaded keeps its pages in
// memory all day). Opened once and kept until the process ends.
#pragma once

#include <mutex>
#include <string>

namespace platform {

class LazyLibrary {
 public:
  // `soname` as the loader finds it ("libcurl.so.4"); `lost` says in a few
  // words what the client cannot do without it, for the log line.
  LazyLibrary(const char* soname, const char* lost) : soname_(soname), lost_(lost) {}

  // Opens the library unless done already; false when it cannot be.
  bool load();

  // The function called `name`, or null when the library or the function
  // is missing. The first problem is written to standard error once.
  template <typename Function>
  Function function(const char* name) {
    return reinterpret_cast<Function>(address(name));
  }

  // Why the library or a function of it is missing ("" while nothing is).
  std::string problem();

 private:
  void* address(const char* name);
  void noteProblem(std::string what);

  const char* soname_;
  const char* lost_;
  std::once_flag opened_;
  void* handle_ = nullptr;
  std::mutex mutex_;
  std::string problem_;
};

}  // namespace platform
