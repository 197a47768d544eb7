// The command line's side of the engine's notifications: progress lines
// (to a terminal only) and the arrival of each answer.
#pragma once

#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "IQvSearch.h"

// Receives the engine's calls: progress lines (to a terminal only) and the
// answer to the query.
class qvCliSink : public IQvSearchNotify {
 public:
  explicit qvCliSink(bool showProgress) : showProgress_(showProgress) {}
  void Release() override {}
  IUnknownEx* QueryInterface(const qvGUID* iid, uint32_t version) override {
    if (!iid || !IsAcceptedQvVersion(version)) return nullptr;
    return IsEqualQvGUID(*iid, IID_IQvSearchNotify) || IsEqualQvGUID(*iid, IID_IUnknownEx) ? this : nullptr;
  }
  void OnStatus(int32_t count, const char* fmt, ...) override {
    bool answered = count >= 0 || (fmt && fmt[0] == 0);
    if (!answered && fmt) {
      char text[4096];
      va_list args;
      va_start(args, fmt);
      std::vsnprintf(text, sizeof text, fmt, args);
      va_end(args);
      {
        std::lock_guard<std::mutex> g(lock_);
        lastStatus_ = text;
      }
      if (showProgress_) {
        std::fprintf(stderr, "\r\033[K%s", text);
        std::fflush(stderr);
        progressShown_ = true;
      }
    }
    if (answered) {
      std::lock_guard<std::mutex> g(lock_);
      ++answers_;
      cv_.notify_all();
    }
  }
  void OnVolumeFound(int32_t, const qvChar*) override {}
  bool IsValid() override { return true; }

  void WaitForAnswer() {
    std::unique_lock<std::mutex> g(lock_);
    cv_.wait(g, [this] { return answers_ > 0; });
    seen_ = answers_;
    if (progressShown_) std::fprintf(stderr, "\r\033[K");
  }

  // Waits for an answer newer than the last one seen; false once stopped.
  bool WaitForNewAnswer() {
    std::unique_lock<std::mutex> g(lock_);
    cv_.wait(g, [this] { return answers_ > seen_ || stopped_; });
    seen_ = answers_;
    return !stopped_;
  }

  // The last status line (why a query was refused, say).
  std::string LastStatus() {
    std::lock_guard<std::mutex> g(lock_);
    return lastStatus_;
  }

  void StopWaiting() {
    std::lock_guard<std::mutex> g(lock_);
    stopped_ = true;
    cv_.notify_all();
  }

 private:
  bool showProgress_;
  bool progressShown_ = false;
  std::mutex lock_;
  std::condition_variable cv_;
  uint64_t answers_ = 0;
  uint64_t seen_ = 0;
  bool stopped_ = false;
  std::string lastStatus_;
};
