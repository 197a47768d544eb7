#include "qvFileRecordRuns.h"

#include <cstring>

#include "qvMemoryPool.h"
#include "qvNameCheck.h"
#include "qvRecordList.h"
#include "qvRecords.h"
#include "qvSavedSet.h"

namespace qvFileRecordRuns {

using namespace qvDbFormat;
using Code = qvStatus::Code;

bool Split(const uint8_t* data, size_t from, size_t end, uint32_t count, double share, FileRun& first,
           FileRun& second, Progress* progress) {
  const size_t cut = from + static_cast<size_t>(static_cast<double>(end - from) * share);
  uint8_t name[kLengthFieldMax];
  uint32_t length = 0;
  size_t at = from;
  size_t tellAt = progress ? at : SIZE_MAX;
  for (uint32_t j = 0; j < count; ++j) {
    if (at >= tellAt) {
      progress->Passed(at);
      tellAt = at + qvSealCheck::kStep;
    }
    if (at >= cut && j > 0) {
      first.from = from;
      first.to = at;
      first.count = j;
      first.prevLength = 0;
      second.from = at;
      second.to = end;
      second.count = count - j;
      second.prevLength = length;
      std::memcpy(second.prevName, name, length);
      return true;
    }
    // Only what places the next record is read, with the checks that keep
    // the walk inside the section and the name inside its buffer.
    if (end - at < kRecordFixedSize) return false;
    const uint8_t* in = data + at;
    uint32_t word = Load24(in + 8);
    uint32_t p = WordPrefix(word), s = WordSuffix(word), width = WordFileWidth(word);
    if (p > length || p + s > kLengthFieldMax || end - at - kRecordFixedSize < s + width) return false;
    std::memcpy(name + p, in + kRecordFixedSize, s);
    length = p + s;
    at += kRecordFixedSize + s + width;
  }
  return false;
}

namespace {

// Appends to a list through its last page, which the list's own Append
// reaches through a call per record; a full page is left to Append.
class ListTail {
 public:
  explicit ListTail(RecordList& list) : list_(list) {}

  bool Append(uint8_t* record) {
    RecordPage* page = list_.Page(list_.PageCount() - 1);
    if (page->end == RecordPage::kSlots) return list_.Append(record);
    page->slots[page->end++] = record;
    list_.AdjustCount(1);
    return true;
  }

 private:
  RecordList& list_;
};

}  // namespace

Code Read(const uint8_t* data, const FileRun& run, const qvFolderStartIndex& starts, CMemoryPool& pool,
          RecordList& list, Progress* progress) {
  size_t at = run.from;
  const size_t end = run.to;
  ListTail tail(list);
  size_t tellAt = progress ? at : SIZE_MAX;
  const uint8_t* prev = run.prevName;
  uint32_t prevLength = run.prevLength;
  // A scout runs a few records ahead, reading only their lengths and
  // parents, so that each parent's check finds its bitmap word in the
  // cache. It trusts nothing either: it stops where a length runs out.
  constexpr uint64_t kAhead = 16;
  size_t scoutAt = at;
  uint64_t scouted = 0;
  bool scouting = true;
  for (uint32_t j = 0; j < run.count; ++j) {
    if (at >= tellAt) {
      progress->Passed(at);
      if (progress->Stopped()) return Code::kBadFileRecord;
      tellAt = at + qvSealCheck::kStep;
    }
    while (scouting && scouted < run.count && scouted < j + kAhead) {
      if (end - scoutAt < kRecordFixedSize) {
        scouting = false;
        break;
      }
      const uint8_t* in = data + scoutAt;
      starts.Prefetch(LoadU32(in + 4));
      uint32_t word = Load24(in + 8);
      scoutAt += kRecordFixedSize + WordSuffix(word) + WordFileWidth(word);
      scouting = scoutAt <= end;
      ++scouted;
    }
    if (end - at < kRecordFixedSize) return Code::kBadFileRecord;
    const uint8_t* in = data + at;
    uint32_t flags = LoadU32(in);
    uint32_t parentPos = LoadU32(in + 4);
    uint32_t word = Load24(in + 8);
    uint32_t p = WordPrefix(word), s = WordSuffix(word), width = WordFileWidth(word), length = p + s;
    if (width != FileRecord::ExtWidthBytes(flags) || p > prevLength || length > kLengthFieldMax ||
        end - at - kRecordFixedSize < s + width || !starts.Starts(parentPos))
      return Code::kBadFileRecord;
    const uint8_t* ext = in + kRecordFixedSize + s;
    uint32_t extId = width == 1 ? ext[0] : width == 2 ? LoadU16(ext) : width == 4 ? LoadU32(ext) : 0;
    // The flags are those the scan would give this record: the smallest
    // id width, the icon slot for the built-in extensions, the long
    // length from 256 bytes up.
    bool icon = width && extId < 4;
    if ((width && FileRecord::ExtWidthCode(extId) != (flags & FileRecord::kExtWidthMask) >> FileRecord::kExtWidthShift) ||
        icon != ((flags & FileRecord::kIconSlot) != 0) ||
        (length >= FileRecord::kLongNameThreshold) != ((flags & FileRecord::kLongLength) != 0))
      return Code::kBadFileRecord;
    bool longLength = flags & FileRecord::kLongLength;
    size_t nameAt = longLength ? 10 : 9;
    uint8_t* r = pool.Alloc(nameAt + length + width + (icon ? 4 : 0));
    if (!r) return Code::kNoMemory;
    uint8_t* name = r + nameAt;
    if (p) std::memcpy(name, prev, p);
    std::memcpy(name + p, in + kRecordFixedSize, s);
    if (!qvNameCheck::Matches(name, length, (flags & FileRecord::kNonAscii) != 0)) return Code::kBadName;
    StoreU32(r, flags);
    StoreU32(r + 4, PosToRef(parentPos));
    if (longLength) StoreU16(r + 8, static_cast<uint16_t>(length));
    else r[8] = static_cast<uint8_t>(length);
    std::memcpy(name + length, ext, width);
    if (icon) FileRecord::SetIconSlot(r, -1);
    if (!tail.Append(r)) return Code::kNoMemory;
    prev = name;
    prevLength = length;
    at += kRecordFixedSize + s + width;
  }
  return at == end ? Code::kOk : Code::kBadFileRecord;
}

}  // namespace qvFileRecordRuns
