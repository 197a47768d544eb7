// The window's side of the engine's callbacks. The engine calls from its
// own threads (and from the UI thread inside a search, holding its lock),
// so every call is formatted here and handed to the UI thread queued.
#pragma once

#include "IQvSearch.h"

class qvSearchMainUi;

class CQvSearchNotify : public IQvSearchNotify {
 public:
  explicit CQvSearchNotify(qvSearchMainUi* owner) : owner_(owner) {}
  virtual ~CQvSearchNotify() = default;

  // The object is a member of the window, which ends it; the engine never
  // releases it, and a stray call must not free a member.
  void Release() override {}
  IUnknownEx* QueryInterface(const qvGUID* iid, uint32_t version) override;
  // count >= 0: "%d 个结果!"; count -1: the formatted line.
  void OnStatus(int32_t count, const char* fmt, ...) override;
  void OnVolumeFound(int32_t ordinal, const qvChar* root) override;
  bool IsValid() override;

  // The engine's error texts, for IQvSearchConfig::SetErrorReporter.
  static void ReportError(void* context, const char* text);

 private:
  qvSearchMainUi* owner_;
};
