#include "platform/curl_loader.h"

// The definitions below are the functions themselves, not the type-checking
// macros curl.h puts in front of them for GCC; hidden, so that libcurl never
// finds them in place of its own.
#define CURL_DISABLE_TYPECHECK
#pragma GCC visibility push(hidden)
#include <curl/curl.h>
#pragma GCC visibility pop

#include <cstdarg>

#include "platform/lazy_library.h"

namespace {

platform::LazyLibrary& library() {
  static platform::LazyLibrary curl("libcurl.so.4",
                                    "no picture or upgrade check can be sent over HTTP (install libcurl4)");
  return curl;
}

// The function of libcurl named like `ours`.
template <typename Function>
Function real(Function, const char* name) {
  return library().function<Function>(name);
}

}  // namespace

namespace platform {

bool loadCurl() { return library().load(); }

std::string curlProblem() { return library().problem(); }

}  // namespace platform

#define CURL_REAL(name) real(&name, #name)

extern "C" {

CURLcode curl_global_init(long flags) {
  const auto f = CURL_REAL(curl_global_init);
  return f ? f(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init() {
  const auto f = CURL_REAL(curl_easy_init);
  return f ? f() : nullptr;
}

void curl_easy_cleanup(CURL* handle) {
  if (!handle) return;
  if (const auto f = CURL_REAL(curl_easy_cleanup)) f(handle);
}

// These two keep libcurl's own declarations, whose last named parameter is
// an enum. Its values fit an int, so va_start is well defined here; clang
// warns about any enum there.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif

// The value's type follows from the option's number, as libcurl reads it.
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
  const auto f = CURL_REAL(curl_easy_setopt);
  if (!f) return CURLE_FAILED_INIT;
  va_list value;
  va_start(value, option);
  CURLcode result;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    result = f(handle, option, va_arg(value, long));
  } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
    result = f(handle, option, va_arg(value, void*));
  } else if (option < CURLOPTTYPE_OFF_T) {
    result = f(handle, option, va_arg(value, void (*)()));
  } else if (option < CURLOPTTYPE_BLOB) {
    result = f(handle, option, va_arg(value, curl_off_t));
  } else {
    result = f(handle, option, va_arg(value, void*));
  }
  va_end(value);
  return result;
}

// Every piece of information is written through a pointer.
CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
  const auto f = CURL_REAL(curl_easy_getinfo);
  if (!f) return CURLE_FAILED_INIT;
  va_list where;
  va_start(where, info);
  const CURLcode result = f(handle, info, va_arg(where, void*));
  va_end(where);
  return result;
}

#ifdef __clang__
#pragma clang diagnostic pop
#endif

CURLcode curl_easy_perform(CURL* handle) {
  const auto f = CURL_REAL(curl_easy_perform);
  return f ? f(handle) : CURLE_FAILED_INIT;
}

const char* curl_easy_strerror(CURLcode code) {
  const auto f = CURL_REAL(curl_easy_strerror);
  return f ? f(code) : "libcurl is missing";
}

curl_slist* curl_slist_append(curl_slist* list, const char* line) {
  const auto f = CURL_REAL(curl_slist_append);
  return f ? f(list, line) : nullptr;
}

void curl_slist_free_all(curl_slist* list) {
  if (!list) return;
  if (const auto f = CURL_REAL(curl_slist_free_all)) f(list);
}

CURLU* curl_url() {
  const auto f = CURL_REAL(curl_url);
  return f ? f() : nullptr;
}

void curl_url_cleanup(CURLU* url) {
  if (!url) return;
  if (const auto f = CURL_REAL(curl_url_cleanup)) f(url);
}

CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* content, unsigned int flags) {
  const auto f = CURL_REAL(curl_url_set);
  return f ? f(url, part, content, flags) : CURLUE_OUT_OF_MEMORY;
}

const char* curl_url_strerror(CURLUcode code) {
  const auto f = CURL_REAL(curl_url_strerror);
  return f ? f(code) : "libcurl is missing";
}

}  // extern "C"
