#include "qvErrorBox.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

struct Reporter {
  std::mutex lock;
  qvErrorReporter fn = nullptr;
  void* context = nullptr;
  std::string last;
  unsigned repeats = 0;
};

Reporter& TheReporter() {
  static Reporter r;
  return r;
}

void Emit(Reporter& r, const std::string& text) {
  if (r.fn) {
    r.fn(r.context, text.c_str());
  } else {
    std::fprintf(stderr, "错误: %s\n", text.c_str());
  }
}

void FlushRepeatsLocked(Reporter& r) {
  if (r.repeats > 0) {
    Emit(r, r.last + " (" + std::to_string(r.repeats) + "x)");
    r.repeats = 0;
  }
}

}  // namespace

void ShowErrorBox(const char* fmt, ...) {
  char text[4096];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  Reporter& r = TheReporter();
  std::lock_guard<std::mutex> guard(r.lock);
  if (r.last == text) {
    ++r.repeats;
    return;
  }
  FlushRepeatsLocked(r);
  r.last = text;
  Emit(r, r.last);
}

void SetErrorBoxReporter(qvErrorReporter reporter, void* context) {
  Reporter& r = TheReporter();
  std::lock_guard<std::mutex> guard(r.lock);
  FlushRepeatsLocked(r);
  r.fn = reporter;
  r.context = context;
  r.last.clear();
}

void FlushErrorBox() {
  Reporter& r = TheReporter();
  std::lock_guard<std::mutex> guard(r.lock);
  FlushRepeatsLocked(r);
  r.last.clear();
}
