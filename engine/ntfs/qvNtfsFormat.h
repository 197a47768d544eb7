// The NTFS on-disk numbers this reader uses, and little-endian reads that
// never look outside the bytes they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qvNtfs {

// Attribute types.
constexpr uint32_t kAttrStandardInformation = 0x10;
constexpr uint32_t kAttrAttributeList = 0x20;
constexpr uint32_t kAttrFileName = 0x30;
constexpr uint32_t kAttrVolumeInformation = 0x70;
constexpr uint32_t kAttrData = 0x80;
constexpr uint32_t kAttrReparsePoint = 0xC0;
constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

// File record header flags.
constexpr uint16_t kRecordInUse = 0x1;
constexpr uint16_t kRecordIsDirectory = 0x2;

// $FILE_NAME namespaces.
constexpr uint8_t kNamePosix = 0;
constexpr uint8_t kNameWin32 = 1;
constexpr uint8_t kNameDos = 2;
constexpr uint8_t kNameWin32AndDos = 3;

// Well-known records.
constexpr uint64_t kRecordMft = 0;
constexpr uint64_t kRecordLogFile = 2;
constexpr uint64_t kRecordVolume = 3;
constexpr uint64_t kRecordRoot = 5;
constexpr uint64_t kRecordExtend = 11;
constexpr uint64_t kFirstUserRecord = 16;

// $VOLUME_INFORMATION flags.
constexpr uint16_t kVolumeDirty = 0x0001;

// The update sequence array protects records in strides of 512 bytes,
// whatever the sector size.
constexpr uint32_t kFixupStride = 512;

// File references: record number in the low 48 bits, sequence above.
constexpr uint64_t RecordNumber(uint64_t ref) { return ref & 0x0000FFFFFFFFFFFFULL; }
constexpr uint16_t SequenceOf(uint64_t ref) { return static_cast<uint16_t>(ref >> 48); }

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t Le64(const uint8_t* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

// A view of bytes whose reads are checked against its end.
struct Bytes {
  const uint8_t* data = nullptr;
  size_t size = 0;

  bool Has(size_t offset, size_t length) const { return offset <= size && length <= size - offset; }
  uint8_t U8(size_t o) const { return Has(o, 1) ? data[o] : 0; }
  uint16_t U16(size_t o) const { return Has(o, 2) ? Le16(data + o) : 0; }
  uint32_t U32(size_t o) const { return Has(o, 4) ? Le32(data + o) : 0; }
  uint64_t U64(size_t o) const { return Has(o, 8) ? Le64(data + o) : 0; }
  Bytes Sub(size_t offset, size_t length) const {
    if (!Has(offset, length)) return {};
    return {data + offset, length};
  }
};

}  // namespace qvNtfs
