#include "CQvSearchNotify.h"

#include <QMetaObject>
#include <QString>

#include <cstdarg>
#include <cstdio>

#include "qvSearchMainUi.h"

namespace {
// Status lines are formatted into this many bytes.
constexpr size_t kStatusBytes = 1024;
}  // namespace

IUnknownEx* CQvSearchNotify::QueryInterface(const qvGUID* iid, uint32_t version) {
  if (!iid || !IsAcceptedQvVersion(version)) return nullptr;
  if (IsEqualQvGUID(*iid, IID_IQvSearchNotify) || IsEqualQvGUID(*iid, IID_IUnknownEx)) return this;
  return nullptr;
}

bool CQvSearchNotify::IsValid() { return owner_ != nullptr; }

void CQvSearchNotify::OnStatus(int32_t count, const char* fmt, ...) {
  char text[kStatusBytes];
  if (count == -1) {
    text[0] = 0;
    if (fmt) {
      va_list args;
      va_start(args, fmt);
      std::vsnprintf(text, sizeof text, fmt, args);
      va_end(args);
    }
  } else {
    std::snprintf(text, sizeof text, "%d 个结果!", count);
  }
  // A line cut at the buffer's end may end in half a character; the
  // decoder shows a replacement mark for it.
  QString line = QString::fromUtf8(text);
  qvSearchMainUi* owner = owner_;
  if (!owner) return;
  QMetaObject::invokeMethod(owner, [owner, line] { owner->ShowStatus(line); }, Qt::QueuedConnection);
}

void CQvSearchNotify::OnVolumeFound(int32_t ordinal, const qvChar* root) {
  qvSearchMainUi* owner = owner_;
  if (!owner || !root) return;
  QString text = QString::fromUtf16(root);
  QMetaObject::invokeMethod(owner, [owner, ordinal, text] { owner->AddVolumeRow(ordinal, text); },
                            Qt::QueuedConnection);
}

void CQvSearchNotify::ReportError(void* context, const char* text) {
  auto* owner = static_cast<qvSearchMainUi*>(context);
  if (!owner || !text) return;
  QString message = QString::fromUtf8(text);
  QMetaObject::invokeMethod(owner, [owner, message] { owner->ShowEngineError(message); }, Qt::QueuedConnection);
}
