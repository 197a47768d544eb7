// u32 magic, u32 count, then per entry, in ascending list position:
// u32 position in the file list | u16 length in units | the units.
#include "qvExtCaseFile.h"

#include <algorithm>
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

// The file list's records by position, for positions that ascend: the
// pages are passed once, not the records between two positions.
class FileCursor {
 public:
  explicit FileCursor(const RecordList& list) : list_(list) {}

  // The slot of the record at `position`, which is not below the last one
  // asked for; null past the list's end.
  uint8_t* const* Slot(uint32_t position) {
    for (; page_ < list_.PageCount(); ++page_) {
      const RecordPage* page = list_.Page(page_);
      if (position - pageStart_ < page->Count()) return &page->slots[page->first + (position - pageStart_)];
      pageStart_ += page->Count();
    }
    return nullptr;
  }

 private:
  const RecordList& list_;
  size_t page_ = 0;
  uint32_t pageStart_ = 0;  // the position of the page's first record
};

constexpr size_t kHeaderSize = 8;

uint32_t EntrySize(const uint8_t* entry) { return kEntryFixedSize + LoadU16(entry + 4) * sizeof(qvChar); }

// Whether every entry lies inside the file, their positions ascend and
// name files of the list, and the last one ends the file.
bool EntriesWellPlaced(const uint8_t* data, size_t size, size_t fileCount) {
  if (size < kHeaderSize || LoadU32(data) != kMagic) return false;
  const uint32_t count = LoadU32(data + 4);
  size_t at = kHeaderSize;
  uint32_t last = 0;
  for (uint32_t k = 0; k < count; ++k) {
    if (size - at < kEntryFixedSize) return false;
    const uint32_t position = LoadU32(data + at);
    if ((k > 0 && position <= last) || position >= fileCount) return false;
    last = position;
    if (size - at < EntrySize(data + at)) return false;
    at += EntrySize(data + at);
  }
  return at == size;
}

// Walks well-placed entries in order with the record of each. The entries
// name files spread over a list, records and a map far larger than the
// cache, so two scouts run ahead: the first asks for the slot kAhead
// entries on, the second, half-way, for the record that slot holds and
// its place in the map.
class EntryWalk {
 public:
  EntryWalk(const uint8_t* data, size_t size, const RecordList& list, const ExtCaseMap& map)
      : data_(data), size_(size), map_(map), slots_(list), records_(list), files_(list) {
    slotsAt_ = recordsAt_ = at_ = kHeaderSize;
    for (size_t k = 0; k < kAhead; ++k) AskForSlot();
    for (size_t k = 0; k < kAhead / 2; ++k) AskForRecord();
  }

  bool Done() const { return at_ == size_; }
  const uint8_t* Entry() const { return data_ + at_; }
  const uint8_t* Record() { return *files_.Slot(LoadU32(data_ + at_)); }
  void Next() {
    at_ += EntrySize(data_ + at_);
    AskForSlot();
    AskForRecord();
  }

 private:
  static constexpr size_t kAhead = 16;

  void AskForSlot() {
    if (slotsAt_ == size_) return;
    __builtin_prefetch(slots_.Slot(LoadU32(data_ + slotsAt_)));
    slotsAt_ += EntrySize(data_ + slotsAt_);
  }
  void AskForRecord() {
    if (recordsAt_ == size_) return;
    const uint8_t* record = *records_.Slot(LoadU32(data_ + recordsAt_));
    __builtin_prefetch(record);
    __builtin_prefetch(record + 64);  // the extension id may be on the next line
    map_.Prefetch(record);
    recordsAt_ += EntrySize(data_ + recordsAt_);
  }

  const uint8_t* data_;
  size_t size_;
  const ExtCaseMap& map_;
  FileCursor slots_, records_, files_;
  size_t slotsAt_, recordsAt_, at_;
};

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
  // The entries' places are checked first, all of them: each record is
  // then looked up once, and with its neighbours asked for early.
  if (!EntriesWellPlaced(data, size, app.fileList.Count())) return Refuse(app, Code::kBadExtCaseFile, EBADMSG);
  app.extCase.Reserve(LoadU32(data + 4));
  qvString text, lastText;
  uint32_t lastVariant = 0;
  for (EntryWalk walk(data, size, app.fileList, app.extCase); !walk.Done(); walk.Next()) {
    const uint8_t* entry = walk.Entry();
    const uint16_t length = LoadU16(entry + 4);
    text.resize(length);
    for (uint16_t i = 0; i < length; ++i) text[i] = LoadU16(entry + kEntryFixedSize + 2 * i);
    // Only the case may differ from the record's own extension.
    const uint8_t* record = walk.Record();
    const qvChar* own = FileRecord::HasExtension(record) ? app.extTable.Text(FileRecord::ExtId(record)) : nullptr;
    bool same = own && qvStrLen(own) == text.size();
    for (size_t i = 0; same && i < text.size(); ++i) same = qvFoldUnit(text[i]) == own[i];
    if (!same) return Refuse(app, Code::kBadExtCaseFile, EBADMSG);
    // Most entries share a few texts (JPG, PDF): each is looked up once.
    if (lastText.empty() || text != lastText) {
      lastVariant = app.extCase.VariantId(text.data(), text.size());
      lastText = text;
    }
    app.extCase.SetVariant(record, lastVariant);
  }
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
