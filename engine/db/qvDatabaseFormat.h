// Layout of "ntfsqs.db", the saved index. All integers are little-endian.
//
//   header        total size, header size, folder and file section offsets,
//                 two magics, version, counts, UTC save time, volume table
//   key section   one RecordPos per folder, in ascending DirKey order
//   folders       key, parent RecordPos, 24-bit P/S word, suffix
//   files         flags, parent RecordPos, 24-bit P/S/W word, suffix, ext id
//
// A RecordPos names the place a folder record takes in the loader's pool:
// block × 65536 + offset, with folders allocated first, in section order,
// 10 + name length bytes each, never spanning a 4096-byte block. The saver
// and the loader both run PoolSimulator to agree on these places.
//
// Names are prefix-compressed against the previous record of the same
// section: P bytes of the previous name, then S new bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "qvRecords.h"
#include "qvVolumeState.h"

// Records are written and read with host-order stores.
static_assert(std::endian::native == std::endian::little, "the file format is little-endian");

namespace qvDbFormat {

constexpr const char* kIndexFileName = "ntfsqs.db";
constexpr const char* kExtFileName = "ext.db";

// Header field offsets.
constexpr size_t kTotalSizeAt = 0;
constexpr size_t kHeaderSizeAt = 4;
constexpr size_t kFolderOffsetAt = 8;
constexpr size_t kFileOffsetAt = 12;
constexpr size_t kMagic1At = 16;
constexpr size_t kMagic2At = 20;
constexpr size_t kVersionAt = 24;
constexpr size_t kFolderCountAt = 28;
constexpr size_t kFileCountAt = 32;
constexpr size_t kYearAt = 36;
constexpr size_t kMonthAt = 38;
constexpr size_t kDayAt = 40;
constexpr size_t kHourAt = 42;
constexpr size_t kVolumeTableAt = 44;

constexpr uint32_t kMagic1 = 0xD0DBC7E0;
constexpr uint32_t kMagic2 = 0xC7E0D0DB;
constexpr uint32_t kVersion = 0x01000001;

// Volume table: per slot one byte (1: held), then journal id and next USN.
constexpr size_t kVolumeEntryHeld = 1 + 8 + 8;
constexpr size_t kMinHeaderSize = kVolumeTableAt + QV_VOLUME_SLOTS;                     // 70
constexpr size_t kMaxHeaderSize = kVolumeTableAt + QV_VOLUME_SLOTS * kVolumeEntryHeld;  // 486

constexpr uint32_t kNoFolder = 0xFFFFFFFF;

// Fixed part of a folder or file record before its suffix.
constexpr size_t kRecordFixedSize = 4 + 4 + 3;

// The 24-bit word: P in bits 0-9, S in bits 10-19, then the folder's
// non-ASCII bit (bit 20, bits 21-23 zero) or the file's extension width W
// in bytes (bits 20-23).
constexpr uint32_t kLengthFieldMax = 1023;
constexpr uint32_t kFolderNonAscii = 0x100000;
constexpr uint32_t kFolderReservedMask = 0xE00000;
constexpr uint32_t kFileWidthShift = 20;

inline uint32_t PackWord(uint32_t p, uint32_t s, uint32_t top) { return p | (s << 10) | top; }
inline uint32_t WordPrefix(uint32_t w) { return w & 0x3FF; }
inline uint32_t WordSuffix(uint32_t w) { return (w >> 10) & 0x3FF; }
inline uint32_t WordFileWidth(uint32_t w) { return (w >> kFileWidthShift) & 0xF; }

inline uint32_t Load24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
}
inline void Store24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

// A stored record's fixed part, read and checked against the `left` bytes
// of its section from `in` and the length of the name before it (whose
// first P bytes it shares). False when the record cannot be one the saver
// wrote there.
struct RecordHead {
  uint32_t word, p, sfx, length;
  uint32_t flags = 0, width = 0;  // files only
};
inline bool ReadFolderHead(const uint8_t* in, size_t left, uint32_t prevLength, RecordHead& h) {
  if (left < kRecordFixedSize) return false;
  h.word = Load24(in + 8);
  h.p = WordPrefix(h.word);
  h.sfx = WordSuffix(h.word);
  h.length = h.p + h.sfx;
  return !(h.word & kFolderReservedMask) && h.p <= prevLength && h.length <= kLengthFieldMax &&
         left - kRecordFixedSize >= h.sfx;
}
inline bool ReadFileHead(const uint8_t* in, size_t left, uint32_t prevLength, RecordHead& h) {
  if (left < kRecordFixedSize) return false;
  h.flags = LoadU32(in);
  h.word = Load24(in + 8);
  h.p = WordPrefix(h.word);
  h.sfx = WordSuffix(h.word);
  h.width = WordFileWidth(h.word);
  h.length = h.p + h.sfx;
  return h.width == FileRecord::ExtWidthBytes(h.flags) && h.p <= prevLength && h.length <= kLengthFieldMax &&
         left - kRecordFixedSize >= h.sfx + h.width;
}

// RecordPos <-> the ref the record pool gives the same place (block << 12 |
// offset), valid because the loader fills a fresh record pool in the order
// the simulation assumed.
inline uint32_t PosBlock(uint32_t pos) { return pos >> 16; }
inline uint32_t PosOffset(uint32_t pos) { return pos & 0xFFFF; }
inline RecordRef PosToRef(uint32_t pos) { return (PosBlock(pos) << 12) | PosOffset(pos); }

// The loader's 4096-byte block rule, replayed without memory.
class PoolSimulator {
 public:
  static constexpr uint32_t kBlockSize = 4096;
  static constexpr uint32_t kMaxBlocks = 65536;  // the block field of a RecordPos

  // The position of the next record of `size` bytes (<= 4096), or
  // kNoFolder when the positions would run out.
  uint32_t Next(uint32_t size) {
    if (offset_ + size > kBlockSize) {
      ++block_;
      offset_ = 0;
    }
    if (block_ >= kMaxBlocks) return kNoFolder;
    uint32_t pos = (block_ << 16) | offset_;
    offset_ += size;
    return pos;
  }
  uint32_t BlocksUsed() const { return block_ + 1; }

 private:
  uint32_t block_ = 0;
  uint32_t offset_ = 0;
};

// What a key must satisfy to be stored: a slot the volume table holds.
inline bool KeySlotHeld(DirKey key, const bool held[QV_VOLUME_SLOTS]) {
  uint32_t slot = DirKeySlot(key);
  return slot < QV_VOLUME_SLOTS && held[slot];
}

}  // namespace qvDbFormat
