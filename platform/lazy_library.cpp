#include "platform/lazy_library.h"

#include <dlfcn.h>

#include <cstdio>

namespace platform {

bool LazyLibrary::load() {
  std::call_once(opened_, [this] {
    handle_ = dlopen(soname_, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char* why = dlerror();
      noteProblem(std::string(soname_) + " cannot be loaded (" + (why ? why : "unknown") + ")");
    }
  });
  return handle_ != nullptr;
}

void* LazyLibrary::address(const char* name) {
  if (!load()) return nullptr;
  void* found = dlsym(handle_, name);
  if (!found) noteProblem(std::string(soname_) + " has no " + name);
  return found;
}

std::string LazyLibrary::problem() {
  std::lock_guard<std::mutex> lock(mutex_);
  return problem_;
}

void LazyLibrary::noteProblem(std::string what) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!problem_.empty()) return;
  problem_ = std::move(what) + ": " + lost_;
  std::fprintf(stderr, "edu-client: %s\n", problem_.c_str());
}

}  // namespace platform
