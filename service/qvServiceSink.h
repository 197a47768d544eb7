// The engine's listener while a service runs in the process: it keeps what
// the service tells its clients (the roots, the last progress line, how
// many answers came) and passes every call on to the owner's own listener
// and list window, except while the service's own query is the engine's
// current one (the owner's list would show another query's rows).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "IQvSearch.h"

class qvServiceSink final : public IQvSearchNotify, public IQvListWindow {
 public:
  // Both may be null.
  qvServiceSink(IQvSearchNotify* ownerSink, IQvListWindow* ownerList) : ownerSink_(ownerSink), ownerList_(ownerList) {}

  // Called once each answer is ready (from engine threads).
  void SetOnAnswer(std::function<void()> onAnswer) {
    std::lock_guard<std::mutex> g(answerLock_);
    onAnswer_ = std::move(onAnswer);
  }
  // While held, nothing reaches the owner's listener and list.
  void Hold(bool on) { held_.store(on); }

  // IUnknownEx / IQvSearchNotify
  void Release() override {}
  IUnknownEx* QueryInterface(const qvGUID* iid, uint32_t version) override;
  void OnStatus(int32_t count, const char* fmt, ...) override;
  void OnVolumeFound(int32_t ordinal, const qvChar* root) override;
  bool IsValid() override { return true; }
  // IQvListWindow
  void SetItemCount(int32_t count) override;
  void RedrawItems() override;

  // Answers reported so far (each search and each re-run after a change).
  uint64_t Answers() const { return answers_.load(); }
  std::string Progress() const;
  std::vector<std::string> Roots() const;

 private:
  IQvSearchNotify* ownerSink_;
  IQvListWindow* ownerList_;
  std::mutex answerLock_;
  std::function<void()> onAnswer_;
  std::atomic<bool> held_{false};
  std::atomic<uint64_t> answers_{0};
  mutable std::mutex lock_;
  std::string progress_;
  std::vector<std::string> roots_;
};
