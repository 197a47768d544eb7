// The two record kinds of the index, read and written in place in the
// record pools. Records are packed without padding, so every field is read
// with memcpy.
//
// The parent field is 32 bits wide as in the stored format. On 64-bit
// Linux it holds a RecordRef (the pool, block and offset of the parent
// record) rather than a pointer: that keeps records as small as designed
// (a pointer would add 4 bytes to every record), and a parent is only
// followed when a path is built, which is rare next to scanning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

using RecordRef = uint32_t;
constexpr RecordRef kNullRef = 0xFFFFFFFF;

// A folder key: volume slot << 27 | the folder's record number.
using DirKey = uint32_t;
constexpr uint32_t QV_MAX_RECORD_NUMBER = 0x7FFFFFF;
constexpr uint32_t QV_ROOT_RECORD_NUMBER = 5;
// The longest name a record holds, in packed bytes.
constexpr size_t kMaxRecordNameBytes = 1023;

inline DirKey MakeDirKey(uint32_t slot, uint32_t recordNumber) { return (slot << 27) | recordNumber; }
inline uint32_t DirKeySlot(DirKey key) { return key >> 27; }
inline DirKey RootKey(uint32_t slot) { return slot * 0x8000000u + QV_ROOT_RECORD_NUMBER; }

inline uint32_t LoadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint16_t LoadU16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void StoreU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void StoreU16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

// key u32 | parent u32 | length u16 (bit 15: non-ASCII) | name bytes
namespace DirRecord {
constexpr size_t kHeaderSize = 10;
constexpr uint16_t kNonAscii = 0x8000;
constexpr uint16_t kLengthMask = 0x7FFF;

inline DirKey Key(const uint8_t* r) { return LoadU32(r); }
inline RecordRef Parent(const uint8_t* r) { return LoadU32(r + 4); }
inline void SetParent(uint8_t* r, RecordRef parent) { StoreU32(r + 4, parent); }
inline uint16_t NameLength(const uint8_t* r) { return LoadU16(r + 8) & kLengthMask; }
inline bool IsNonAscii(const uint8_t* r) { return (LoadU16(r + 8) & kNonAscii) != 0; }
inline const uint8_t* Name(const uint8_t* r) { return r + kHeaderSize; }
inline size_t Size(const uint8_t* r) { return kHeaderSize + NameLength(r); }

inline void Write(uint8_t* r, DirKey key, uint32_t parent, const uint8_t* name, uint16_t length,
                  bool nonAscii) {
  StoreU32(r, key);
  StoreU32(r + 4, parent);
  StoreU16(r + 8, static_cast<uint16_t>(length | (nonAscii ? kNonAscii : 0)));
  std::memcpy(r + kHeaderSize, name, length);
}
}  // namespace DirRecord

// flags u32 | parent u32 | length u8 or u16 | name | extension id | icon
namespace FileRecord {
constexpr uint32_t kRecordNumberMask = 0x7FFFFFF;
constexpr uint32_t kIconSlot = 1u << 27;
constexpr uint32_t kExtWidthShift = 28;
constexpr uint32_t kExtWidthMask = 3u << 28;
constexpr uint32_t kLongLength = 1u << 30;
constexpr uint32_t kNonAscii = 1u << 31;
constexpr size_t kLongNameThreshold = 256;

inline uint32_t Flags(const uint8_t* r) { return LoadU32(r); }
inline RecordRef Parent(const uint8_t* r) { return LoadU32(r + 4); }
inline void SetParent(uint8_t* r, RecordRef parent) { StoreU32(r + 4, parent); }
inline bool IsNonAscii(const uint8_t* r) { return (Flags(r) & kNonAscii) != 0; }
inline uint32_t RecordNumber(const uint8_t* r) { return Flags(r) & kRecordNumberMask; }

// Bytes of the extension id for the width code of bits 28-29.
inline size_t ExtWidthBytes(uint32_t flags) {
  static constexpr uint8_t kBytes[4] = {0, 1, 2, 4};
  return kBytes[(flags & kExtWidthMask) >> kExtWidthShift];
}
// Width code for an id: one byte up to 255, two below 65536, else four.
inline uint32_t ExtWidthCode(uint32_t id) { return id <= 255 ? 1 : id < 65536 ? 2 : 3; }

inline uint16_t NameLength(const uint8_t* r) {
  return (Flags(r) & kLongLength) ? LoadU16(r + 8) : r[8];
}
inline const uint8_t* Name(const uint8_t* r) { return r + ((Flags(r) & kLongLength) ? 10 : 9); }
inline bool HasExtension(const uint8_t* r) { return (Flags(r) & kExtWidthMask) != 0; }

inline const uint8_t* ExtIdField(const uint8_t* r) { return Name(r) + NameLength(r); }
inline uint32_t ExtId(const uint8_t* r) {
  const uint8_t* p = ExtIdField(r);
  switch (ExtWidthBytes(Flags(r))) {
    case 1: return p[0];
    case 2: return LoadU16(p);
    case 4: return LoadU32(p);
    default: return 0;
  }
}
inline uint8_t* IconSlotField(uint8_t* r) {
  return const_cast<uint8_t*>(ExtIdField(r)) + ExtWidthBytes(Flags(r));
}
inline int32_t IconSlot(const uint8_t* r) {
  int32_t v;
  std::memcpy(&v, ExtIdField(r) + ExtWidthBytes(Flags(r)), 4);
  return v;
}
inline void SetIconSlot(uint8_t* r, int32_t icon) { std::memcpy(IconSlotField(r), &icon, 4); }

// Size of a record with this name length and extension.
inline size_t SizeFor(size_t nameLength, bool hasExt, uint32_t extId) {
  size_t n = 9 + (nameLength >= kLongNameThreshold ? 1 : 0) + nameLength;
  if (hasExt) n += ExtWidthBytes(ExtWidthCode(extId) << kExtWidthShift) + (extId < 4 ? 4 : 0);
  return n;
}
inline size_t Size(const uint8_t* r) {
  uint32_t f = Flags(r);
  return static_cast<size_t>(Name(r) - r) + NameLength(r) + ExtWidthBytes(f) +
         ((f & kIconSlot) ? 4 : 0);
}

// The flags word for a record: its number, the extension width and icon
// slot bits, the long-length and non-ASCII bits.
inline uint32_t MakeFlags(uint32_t recordNumber, size_t nameLength, bool nonAscii, bool hasExt,
                          uint32_t extId) {
  uint32_t f = recordNumber & kRecordNumberMask;
  if (hasExt) {
    f |= ExtWidthCode(extId) << kExtWidthShift;
    if (extId < 4) f |= kIconSlot;
  }
  if (nameLength >= kLongNameThreshold) f |= kLongLength;
  if (nonAscii) f |= kNonAscii;
  return f;
}

// Writes a record of SizeFor(...) bytes.
inline void Write(uint8_t* r, uint32_t flags, uint32_t parent, const uint8_t* name,
                  uint16_t length, uint32_t extId) {
  StoreU32(r, flags);
  StoreU32(r + 4, parent);
  uint8_t* p;
  if (flags & kLongLength) {
    StoreU16(r + 8, length);
    p = r + 10;
  } else {
    r[8] = static_cast<uint8_t>(length);
    p = r + 9;
  }
  std::memcpy(p, name, length);
  p += length;
  switch (ExtWidthBytes(flags)) {
    case 1: *p++ = static_cast<uint8_t>(extId); break;
    case 2: StoreU16(p, static_cast<uint16_t>(extId)); p += 2; break;
    case 4: StoreU32(p, extId); p += 4; break;
    default: break;
  }
  if (flags & kIconSlot) {
    int32_t none = -1;
    std::memcpy(p, &none, 4);
  }
}
}  // namespace FileRecord
