#include "qvCollation.h"

#include "qvExtTable.h"
#include "qvPackedName.h"
#include "qvRecords.h"

namespace qvCollation {

namespace {
const uint16_t* g_ranks = nullptr;

inline bool IsCjk(uint32_t u) { return u >= kCjkFirst && u <= kCjkLast; }
}  // namespace

void SetRankTable(const uint16_t* ranks) { g_ranks = ranks; }
const uint16_t* RankTable() { return g_ranks; }

int CompareNames(const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
  size_t i = 0, j = 0;
  const uint16_t* ranks = g_ranks;
  while (i < an && j < bn) {
    uint8_t ca = a[i], cb = b[j];
    bool wa = ca & 0x80, wb = cb & 0x80;
    if (!wa && !wb) {
      int d = kLowerCase.map[ca] - kLowerCase.map[cb];
      if (d) return d;
      ++i;
      ++j;
      continue;
    }
    if (!wa) return -1;  // ASCII before anything wide
    if (!wb) return 1;
    // A wide unit cut off by the end of the bytes sorts as the end.
    if (i + 3 > an || j + 3 > bn) return (i + 3 > an) - (j + 3 > bn);
    uint32_t ua = a[i + 1] | (a[i + 2] << 8);
    uint32_t ub = b[j + 1] | (b[j + 2] << 8);
    if (ua != ub) {
      bool ka = IsCjk(ua), kb = IsCjk(ub);
      if (!ka) return kb ? 1 : static_cast<int>(ua) - static_cast<int>(ub);
      if (!kb) return -1;
      if (!ranks) return static_cast<int>(ua) - static_cast<int>(ub);
      // Decides even when the ranks are equal (the unranked ideographs).
      return static_cast<int>(LoadU16(reinterpret_cast<const uint8_t*>(ranks + (ua - kCjkFirst)))) -
             static_cast<int>(LoadU16(reinterpret_cast<const uint8_t*>(ranks + (ub - kCjkFirst))));
    }
    i += 3;
    j += 3;
  }
  bool aDone = i >= an, bDone = j >= bn;
  return aDone && bDone ? 0 : aDone ? -1 : 1;
}

uint64_t SortKey(const uint8_t* name, size_t length) {
  // Weights: ASCII folded 1..127; ranked ideographs 0x80 + rank; the
  // unranked ones one weight above; other wide units above that by value.
  // A unit whose weight does not tell it apart from its neighbours
  // (unranked ideographs, wide units too large to place) ends the key, so
  // that what follows it cannot decide in place of the full comparison.
  constexpr uint32_t kUnranked = 0x80 + 20896;
  constexpr uint32_t kOtherBase = kUnranked + 1;
  const uint16_t* ranks = g_ranks;
  uint64_t key = 0;
  size_t i = 0;
  for (int pos = 0; pos < 4; ++pos) {
    uint32_t w = 0;
    bool last = false;
    if (i < length) {
      uint8_t b = name[i];
      if (!(b & 0x80)) {
        w = kLowerCase.map[b];
        ++i;
      } else if (i + 3 > length) {
        w = 0;
        last = true;
      } else {
        uint32_t u = name[i + 1] | (name[i + 2] << 8);
        i += 3;
        if (IsCjk(u) && ranks) {
          uint16_t r = LoadU16(reinterpret_cast<const uint8_t*>(ranks + (u - kCjkFirst)));
          w = r <= 20895 ? 0x80 + r : kUnranked;
          last = r > 20895;
        } else if (IsCjk(u)) {
          w = 0x80 + (u - kCjkFirst);  // code-unit order without a table
        } else if (u < 0xFFFF - kOtherBase) {
          w = kOtherBase + u;
        } else {
          w = 0xFFFF;
          last = true;
        }
      }
    }
    key |= static_cast<uint64_t>(w) << (48 - 16 * pos);
    if (last || i >= length) break;
  }
  return key;
}

int CompareFolders(const uint8_t* a, const uint8_t* b) {
  return CompareNames(DirRecord::Name(a), DirRecord::NameLength(a), DirRecord::Name(b),
                      DirRecord::NameLength(b));
}

int CompareFiles(const uint8_t* a, const uint8_t* b, const ExtTable& ext) {
  int d = CompareNames(FileRecord::Name(a), FileRecord::NameLength(a), FileRecord::Name(b),
                       FileRecord::NameLength(b));
  if (d) return d;
  bool ea = FileRecord::HasExtension(a), eb = FileRecord::HasExtension(b);
  if (ea != eb) return ea ? -1 : 1;
  if (!ea) return 0;
  return ext.Compare(FileRecord::ExtId(a), FileRecord::ExtId(b));
}

}  // namespace qvCollation
