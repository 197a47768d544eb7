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
  size_t from = 0;
  return SortKeyAt(name, length, &from);
}

uint64_t SortKeyAt(const uint8_t* name, size_t length, size_t* from) {
  // The key is the name's weights as a byte string, compared from its
  // highest byte down. An ASCII unit takes one byte (folded, 1..127); a
  // wide unit two, the first of them 0x81 or more: ranked ideographs by
  // rank, then the unranked ones, then other wide units by value. A wide
  // unit cut off by the end of the bytes sorts after every whole unit, as
  // the full comparison has it, so it takes the largest code. The string
  // is a prefix code in the comparison's order, so any prefix of it orders
  // names as they compare; a unit whose weight does not tell it
  // apart from its neighbours (unranked ideographs, wide units too large
  // to place, cut units) ends the key, so that what follows it cannot
  // decide in place of the full comparison. The name's end is byte 0.
  //
  // Equal keys read the same units, so they stop at the same byte: the
  // next key of either name starts there. A wide unit of which only the
  // first byte fitted is read again by the next key. A key with room left
  // after the name's end tells that every name with that key reads the
  // same units.
  constexpr uint32_t kUnranked = 0x80 + 20896;
  constexpr uint32_t kOtherBase = kUnranked + 1;
  constexpr uint32_t kWideShift = 0x100;            // keeps the first byte above 0x80
  constexpr uint32_t kLargest = 0x7FFF - kWideShift;  // weights from here on share one code
  const uint16_t* ranks = g_ranks;
  uint64_t key = 0;
  int shift = 56;  // of the next byte
  size_t i = *from;
  *from = kNoNextKey;
  while (i < length && shift >= 0) {
    uint8_t b = name[i];
    if (!(b & 0x80)) {
      key |= static_cast<uint64_t>(kLowerCase.map[b]) << shift;
      shift -= 8;
      ++i;
      continue;
    }
    if (i + 3 > length) {
      // After every whole unit: the code of the largest weights.
      key |= static_cast<uint64_t>(0xFF) << shift;
      if (shift >= 8) key |= static_cast<uint64_t>(0xFF) << (shift - 8);
      return key;
    }
    uint32_t u = name[i + 1] | (name[i + 2] << 8);
    uint32_t w;
    bool last = false;
    if (IsCjk(u) && ranks) {
      uint16_t r = LoadU16(reinterpret_cast<const uint8_t*>(ranks + (u - kCjkFirst)));
      w = r <= 20895 ? 0x80 + r : kUnranked;
      last = r > 20895;
    } else if (IsCjk(u)) {
      w = 0x80 + (u - kCjkFirst);  // code-unit order without a table
    } else {
      w = kOtherBase + u;
    }
    if (w >= kLargest) {
      w = kLargest;
      last = true;
    }
    uint32_t code = w + kWideShift;  // 0x180..0x7FFF: first byte 0x81..0xFF
    key |= static_cast<uint64_t>(code >> 8 | 0x80) << shift;
    if (shift < 8) {
      *from = i;  // only its first byte fitted
      return key;
    }
    key |= static_cast<uint64_t>(code & 0xFF) << (shift - 8);
    shift -= 16;
    i += 3;
    if (last) return key;
  }
  // A full key may be followed by more; one with room left ended with
  // the name.
  *from = shift < 0 ? i : kNameEnded;
  return key;
}

int CompareFolders(const uint8_t* a, const uint8_t* b) {
  return CompareNames(DirRecord::Name(a), DirRecord::NameLength(a), DirRecord::Name(b),
                      DirRecord::NameLength(b));
}

int CompareFiles(const uint8_t* a, const uint8_t* b, const ExtTable& ext) {
  int d = CompareNames(FileRecord::Name(a), FileRecord::NameLength(a), FileRecord::Name(b),
                       FileRecord::NameLength(b));
  return d ? d : CompareExtensions(a, b, ext);
}

int CompareExtensions(const uint8_t* a, const uint8_t* b, const ExtTable& ext) {
  bool ea = FileRecord::HasExtension(a), eb = FileRecord::HasExtension(b);
  if (ea != eb) return ea ? -1 : 1;
  if (!ea) return 0;
  return ext.Compare(FileRecord::ExtId(a), FileRecord::ExtId(b));
}

}  // namespace qvCollation
