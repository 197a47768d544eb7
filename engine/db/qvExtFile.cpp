// "ext.db", the extension dictionary that file records refer to by id:
//
//   u32 count N, then N records in the order of the sorted index:
//   u32 id | i32 icon index | UTF-16 text | u16 0
//
// Read only after "ntfsqs.db" loaded, and checked as strictly: the loaded
// table must be one the engine could have built itself.
#include <cerrno>
#include <cstring>
#include <vector>

#include "qvDatabase.h"
#include "qvDatabaseFormat.h"
#include "qvDatabaseIo.h"
#include "qvIndex.h"
#include "qvWriteMgr.h"

namespace qvDatabase {

namespace {

constexpr size_t kMinRecordSize = 4 + 4 + 2;
// No extension is longer than the longest name the index stores.
constexpr uint32_t kMaxTextUnits = qvDbFormat::kLengthFieldMax;
const char16_t* const kBuiltinTexts[4] = {u"cur", u"exe", u"ico", u"lnk"};

// A record's text, still in the file's bytes (which need not be aligned).
struct StoredText {
  const uint8_t* bytes;
  uint32_t units;

  qvChar At(uint32_t i) const { return LoadU16(bytes + 2 * i); }
};

struct StoredEntry {
  uint32_t id;
  int32_t icon;
  StoredText text;
};

// Code-unit order; a text sorts before any longer text it begins.
int Compare(const StoredText& a, const StoredText& b) {
  uint32_t n = a.units < b.units ? a.units : b.units;
  for (uint32_t i = 0; i < n; ++i)
    if (a.At(i) != b.At(i)) return a.At(i) < b.At(i) ? -1 : 1;
  return a.units < b.units ? -1 : a.units > b.units ? 1 : 0;
}

bool Equals(const StoredText& a, const char16_t* b) {
  for (uint32_t i = 0; i < a.units; ++i)
    if (!b[i] || a.At(i) != b[i]) return false;
  return b[a.units] == 0;
}

// Reads the text at `at`, which must end with a 0 unit inside the data.
bool ReadText(const uint8_t* data, size_t size, size_t& at, StoredText& text) {
  text = {data + at, 0};
  for (;;) {
    if (size - at < 2) return false;
    qvChar u = LoadU16(data + at);
    at += 2;
    if (u == 0) return true;
    // The table keeps texts lower-case: 'A'..'Z' are folded on entry.
    if (u >= u'A' && u <= u'Z') return false;
    if (++text.units > kMaxTextUnits) return false;
  }
}

// Every record, with ids unique and below N, texts strictly ascending and
// the built-in extensions under their ids; the data ends with the last one.
bool ParseEntries(const uint8_t* data, size_t size, std::vector<StoredEntry>& out) {
  if (size < 4) return false;
  uint32_t count = LoadU32(data);
  if (count < 4 || count > (size - 4) / kMinRecordSize) return false;
  std::vector<uint8_t> seen(count, 0);
  out.reserve(count);
  size_t at = 4;
  for (uint32_t k = 0; k < count; ++k) {
    if (size - at < kMinRecordSize) return false;
    StoredEntry e;
    e.id = LoadU32(data + at);
    e.icon = static_cast<int32_t>(LoadU32(data + at + 4));
    at += 8;
    if (!ReadText(data, size, at, e.text) || e.id >= count || seen[e.id]) return false;
    if (k > 0 && Compare(out.back().text, e.text) >= 0) return false;
    seen[e.id] = 1;
    out.push_back(e);
  }
  if (at != size) return false;
  for (const StoredEntry& e : out)
    if (e.id < 4 && !Equals(e.text, kBuiltinTexts[e.id])) return false;
  return true;
}

// Every loaded file record must name an extension of the table.
bool FilesFit(const qvIndex& app, uint32_t count) {
  const RecordList& list = app.fileList;
  for (size_t p = 0; p < list.PageCount(); ++p) {
    const RecordPage* page = list.Page(p);
    for (uint32_t s = page->first; s < page->end; ++s) {
      const uint8_t* r = page->slots[s];
      if (FileRecord::HasExtension(r) && FileRecord::ExtId(r) >= count) return false;
    }
  }
  return true;
}

bool FillTable(ExtTable& table, const std::vector<StoredEntry>& entries) {
  if (!table.BeginLoad(static_cast<uint32_t>(entries.size()))) return false;
  qvChar text[kMaxTextUnits];
  for (uint32_t k = 0; k < entries.size(); ++k) {
    const StoredEntry& e = entries[k];
    for (uint32_t i = 0; i < e.text.units; ++i) text[i] = e.text.At(i);
    // Icon indices are looked up again in every run; only "files carry
    // their own icon" means the same thing from one run to the next.
    int32_t icon = e.icon == ExtTable::kOwnIcon ? ExtTable::kOwnIcon : ExtTable::kIconUnknown;
    if (!table.SetEntry(k, e.id, icon, text, e.text.units)) return false;
  }
  return true;
}

using Code = qvStatus::Code;

// Every failure of the dictionary drops the loaded index with it.
qvStatus Discard(qvIndex& app, Code code, int error, const char* what = "读扩展名文件失败") {
  app.ClearIndex();
  return qvStatus::Error(code, error, what);
}

// No dictionary the engine builds comes near this; a bigger file is not read.
constexpr uint64_t kMaxExtFileSize = 256u << 20;

}  // namespace

qvStatus LoadExtImage(qvIndex& app, const uint8_t* data, size_t size) {
  std::vector<StoredEntry> entries;
  if (!ParseEntries(data, size, entries)) return Discard(app, Code::kBadExtensionFile, EINVAL);
  if (!FilesFit(app, static_cast<uint32_t>(entries.size()))) return Discard(app, Code::kExtensionMissing, EINVAL);
  if (!FillTable(app.extTable, entries)) return Discard(app, Code::kNoMemory, ENOMEM, "申请内存失败");
  return qvStatus::Ok();
}

qvStatus ReadExtensionFile(qvIndex& app, const qvSavedSet& set) {
  qvDbIo::HeapBuffer buffer(app.heap);
  int error = 0;
  using R = qvDbIo::ReadResult;
  R read = qvDbIo::ReadWholeFile(set.Path(app, qvDbFormat::kExtFileName),
                                 set.Rule(qvDbSeal::kExtFile, 0, kMaxExtFileSize), buffer, error);
  switch (read) {
    case R::kOk:
      break;
    case R::kAllocFailed:
      return Discard(app, Code::kNoMemory, error, "申请内存失败");
    case R::kSizeMismatch:
      return Discard(app, Code::kMismatch, error, "ext.db与seal.db不符(不是同一次保存的文件，或已损坏)");
    case R::kNotRegular:
      return Discard(app, Code::kNotRegularFile, error);
    case R::kTooLarge:
      return Discard(app, Code::kTooLarge, error);
    default:
      return Discard(app, Code::kIoError, error);
  }
  qvStatus status = set.Check(qvDbSeal::kExtFile, buffer.Data(), buffer.Size(), qvDbFormat::kExtFileName);
  if (!status.ok()) {
    app.ClearIndex();
    return status;
  }
  return LoadExtImage(app, buffer.Data(), buffer.Size());
}

bool BuildExtImage(const qvIndex& app, CWriteMgr& out) {
  const ExtTable& ext = app.extTable;
  if (!out.AppendU32(ext.Count())) return false;
  const uint16_t end = 0;
  for (uint32_t k = 0; k < ext.Count(); ++k) {
    const ExtTable::SortedEntry& e = ext.Sorted(k);
    // Icon indices belong to one run; the next one looks them up again.
    if (!out.AppendU32(e.id) || !out.AppendU32(static_cast<uint32_t>(ExtTable::kIconUnknown)) ||
        !out.Append(e.text, qvStrLen(e.text) * sizeof(qvChar)) || !out.Append(&end, 2))
      return false;
  }
  return true;
}

}  // namespace qvDatabase
