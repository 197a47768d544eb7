// u32 magic, u32 count, then per entry, in ascending list position:
// u32 position in the file list | u16 length in units | the units.
#include "qvExtCaseFile.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "qvDatabaseIo.h"
#include "qvIndex.h"
#include "qvPackedName.h"
#include "qvWriteMgr.h"

namespace qvExtCaseFile {

namespace {

constexpr uint32_t kMagic = 0x43455651;  // "QVEC"
constexpr size_t kEntryFixedSize = 4 + 2;
// An entry per file at most: a bigger file is not read.
constexpr uint64_t kMaxFileSize = 256u << 20;

template <typename App, typename Fn>
void ForEachFile(App& app, Fn&& fn) {
  uint32_t index = 0;
  for (size_t p = 0; p < app.fileList.PageCount(); ++p) {
    auto* page = app.fileList.Page(p);
    for (uint32_t s = page->first; s < page->end; ++s) fn(index++, page->slots[s]);
  }
}

using Code = qvStatus::Code;

qvStatus Refuse(qvIndex& app, Code code, int error) {
  app.ClearIndex();
  return qvStatus::Error(code, error, "读扩展名大小写文件extcase.db失败");
}

}  // namespace

bool BuildImage(const qvIndex& app, CWriteMgr& out) {
  if (!out.AppendU32(kMagic) || !out.AppendU32(0)) return false;
  uint32_t count = 0;
  bool ok = true;
  ForEachFile(app, [&](uint32_t index, const uint8_t* record) {
    const qvString* real = app.extCase.Get(record);
    if (!ok || !real || real->size() > 0xFFFF) return;
    uint16_t length = static_cast<uint16_t>(real->size());
    ok = out.AppendU32(index) && out.Append(&length, 2) && out.Append(real->data(), real->size() * sizeof(qvChar));
    ++count;
  });
  return ok && out.Patch(4, &count, 4);
}

qvStatus LoadImage(qvIndex& app, const uint8_t* data, size_t size) {
  app.extCase.Clear();
  if (size < 8 || LoadU32(data) != kMagic) return Refuse(app, Code::kBadExtCaseFile, EBADMSG);
  uint32_t count = LoadU32(data + 4);
  size_t at = 8;
  bool bad = false;
  qvString text;
  ForEachFile(app, [&](uint32_t position, const uint8_t* record) {
    if (bad || count == 0) return;
    if (size - at < kEntryFixedSize) {
      bad = true;
      return;
    }
    uint32_t index = LoadU32(data + at);
    if (index < position) bad = true;  // positions ascend, and each names a file
    if (index != position) return;
    uint16_t length = LoadU16(data + at + 4);
    if (size - at - kEntryFixedSize < length * sizeof(qvChar)) {
      bad = true;
      return;
    }
    text.resize(length);
    for (uint16_t i = 0; i < length; ++i) text[i] = LoadU16(data + at + kEntryFixedSize + 2 * i);
    // Only the case may differ from the record's own extension.
    const qvChar* own = FileRecord::HasExtension(record) ? app.extTable.Text(FileRecord::ExtId(record)) : nullptr;
    bool same = own && qvStrLen(own) == text.size();
    for (size_t i = 0; same && i < text.size(); ++i) same = qvFoldUnit(text[i]) == own[i];
    if (!same) {
      bad = true;
      return;
    }
    app.extCase.Set(record, text.data(), text.size());
    at += kEntryFixedSize + length * sizeof(qvChar);
    --count;
  });
  if (bad || count != 0 || at != size) return Refuse(app, Code::kBadExtCaseFile, EBADMSG);
  return qvStatus::Ok();
}

qvStatus Load(qvIndex& app, const qvSavedSet& set) {
  app.extCase.Clear();
  qvDbIo::HeapBuffer buffer(app.heap);
  int error = 0;
  using R = qvDbIo::ReadResult;
  R read = qvDbIo::ReadWholeFile(set.Path(app, kFileName), set.Rule(qvDbSeal::kExtCaseFile, 0, kMaxFileSize),
                                 buffer, error);
  switch (read) {
    case R::kOk:
      break;
    case R::kSizeMismatch: {
      app.ClearIndex();
      return qvStatus::Error(Code::kMismatch, error, "extcase.db与seal.db不符(不是同一次保存的文件，或已损坏)");
    }
    case R::kNotRegular:
      return Refuse(app, Code::kNotRegularFile, error);
    case R::kTooLarge:
      return Refuse(app, Code::kTooLarge, error);
    case R::kAllocFailed:
      return Refuse(app, Code::kNoMemory, error);
    default:
      return Refuse(app, Code::kIoError, error);
  }
  qvStatus status = set.Check(qvDbSeal::kExtCaseFile, buffer.Data(), buffer.Size(), kFileName);
  if (!status.ok()) {
    app.ClearIndex();
    return status;
  }
  return LoadImage(app, buffer.Data(), buffer.Size());
}

}  // namespace qvExtCaseFile
