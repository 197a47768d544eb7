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
