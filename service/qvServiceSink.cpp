#include "qvServiceSink.h"

#include <cstdarg>
#include <cstdio>

#include "qvNameCodec.h"

IUnknownEx* qvServiceSink::QueryInterface(const qvGUID* iid, uint32_t version) {
  if (!iid || !IsAcceptedQvVersion(version)) return nullptr;
  if (IsEqualQvGUID(*iid, IID_IQvSearchNotify) || IsEqualQvGUID(*iid, IID_IUnknownEx))
    return static_cast<IQvSearchNotify*>(this);
  return nullptr;
}

void qvServiceSink::OnStatus(int32_t count, const char* fmt, ...) {
  std::string text;
  if (fmt) {
    char buffer[4096];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    text = buffer;
  }
  // An answer: a count, or the empty line of a search that can match nothing.
  bool answered = count >= 0 || (fmt && fmt[0] == 0);
  if (answered) {
    answers_.fetch_add(1);
  } else {
    std::lock_guard<std::mutex> g(lock_);
    progress_ = text;
  }
  if (ownerSink_ && !held_.load()) {
    if (!fmt) ownerSink_->OnStatus(count, nullptr);
    else if (text.empty()) ownerSink_->OnStatus(count, "");
    else ownerSink_->OnStatus(count, "%s", text.c_str());
  }
  if (answered) {
    std::lock_guard<std::mutex> g(answerLock_);
    if (onAnswer_) onAnswer_();
  }
}

void qvServiceSink::OnVolumeFound(int32_t ordinal, const qvChar* root) {
  {
    std::lock_guard<std::mutex> g(lock_);
    roots_.push_back(qvNameCodec::EncodeToString(root ? std::u16string_view(root) : std::u16string_view()));
  }
  if (ownerSink_) ownerSink_->OnVolumeFound(ordinal, root);
}

void qvServiceSink::SetItemCount(int32_t count) {
  if (ownerList_ && !held_.load()) ownerList_->SetItemCount(count);
}

void qvServiceSink::RedrawItems() {
  if (ownerList_ && !held_.load()) ownerList_->RedrawItems();
}

std::string qvServiceSink::Progress() const {
  std::lock_guard<std::mutex> g(lock_);
  return progress_;
}

std::vector<std::string> qvServiceSink::Roots() const {
  std::lock_guard<std::mutex> g(lock_);
  return roots_;
}
