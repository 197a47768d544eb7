// Records of the change journal's $J stream: version 2 and 3 records are
// read, version 4 (ranges, no name) is stepped over, zero padding skipped.
// A record whose length or name does not fit is counted and the walk goes
// on at the next 8-byte boundary: it always advances and never reads past
// the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

struct UsnRecord {
  uint16_t majorVersion;
  int64_t usn;
  int64_t timeStamp;  // FILETIME
  uint32_t reason;
  uint32_t fileAttributes;
  uint64_t fileRef;    // low 64 bits (version 3 keeps 128)
  uint64_t parentRef;  // low 64 bits
  std::u16string_view name;
};

struct UsnWalkStats {
  uint64_t records = 0;  // version 2 and 3 records yielded
  uint64_t skippedV4 = 0;
  uint64_t damaged = 0;  // lengths or names that do not fit
};

// Calls `visit(const UsnRecord&)` for each record of `data`, whose first
// byte is at journal offset `firstUsn`. Names are copied into `scratch`
// only when unaligned.
template <class Visit>
UsnWalkStats WalkUsnRecords(const uint8_t* data, size_t size, const Visit& visit);

namespace qvUsn {
// Parses the record at `p` with `available` bytes. Returns its length to
// step by, 0 for padding, or -1 when damaged.
long ParseRecord(const uint8_t* p, size_t available, UsnRecord* out, char16_t* nameScratch);
constexpr size_t kMaxNameUnits = 32768;
}  // namespace qvUsn

template <class Visit>
UsnWalkStats WalkUsnRecords(const uint8_t* data, size_t size, const Visit& visit) {
  UsnWalkStats stats;
  // Made on a thread's first walk: a 64 KiB thread-local array would be
  // zeroed for every thread of every program the engine is linked into.
  static thread_local std::unique_ptr<char16_t[]> scratchBlock;
  if (!scratchBlock) scratchBlock = std::make_unique_for_overwrite<char16_t[]>(qvUsn::kMaxNameUnits);
  char16_t* const scratch = scratchBlock.get();
  size_t pos = 0;
  while (pos + 8 <= size) {
    UsnRecord r;
    long step = qvUsn::ParseRecord(data + pos, size - pos, &r, scratch);
    if (step == 0) {  // padding up to the next record
      pos += 8;
      continue;
    }
    if (step < 0) {
      ++stats.damaged;
      pos += 8;
      continue;
    }
    if (r.majorVersion == 4) {
      ++stats.skippedV4;
    } else {
      ++stats.records;
      visit(r);
    }
    pos += static_cast<size_t>(step);
  }
  return stats;
}
