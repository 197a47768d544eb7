#include "qvUsnRecords.h"

#include <cstring>

#include "qvNtfsFormat.h"

using qvNtfs::Le16;
using qvNtfs::Le32;
using qvNtfs::Le64;

namespace {

constexpr size_t kV2Fixed = 60;
constexpr size_t kV3Fixed = 76;
constexpr size_t kV4Fixed = 56;  // header, references, reasons and one extent count
constexpr uint32_t kMaxRecordLength = 64 * 1024;

}  // namespace

long qvUsn::ParseRecord(const uint8_t* p, size_t available, UsnRecord* out, char16_t* nameScratch) {
  if (available < 8) return -1;
  uint32_t length = Le32(p);
  if (length == 0) return 0;
  if (length % 8 != 0 || length > available || length > kMaxRecordLength) return -1;
  uint16_t major = Le16(p + 4);
  size_t fixed;
  switch (major) {
    case 2: fixed = kV2Fixed; break;
    case 3: fixed = kV3Fixed; break;
    case 4:
      if (length < kV4Fixed) return -1;
      out->majorVersion = 4;
      return static_cast<long>(length);
    default: return -1;
  }
  if (length < fixed) return -1;
  out->majorVersion = major;
  // Version 3 widens the references to 128 bits; NTFS puts its 64-bit
  // reference in the low half.
  size_t tail = major == 2 ? 24 : 40;
  out->fileRef = Le64(p + 8);
  out->parentRef = Le64(p + (major == 2 ? 16 : 24));
  out->usn = static_cast<int64_t>(Le64(p + tail));
  out->timeStamp = static_cast<int64_t>(Le64(p + tail + 8));
  out->reason = Le32(p + tail + 16);
  out->fileAttributes = Le32(p + tail + 28);
  size_t nameBytes = Le16(p + tail + 32);
  size_t nameOffset = Le16(p + tail + 34);
  if (nameBytes % 2 != 0 || nameOffset < fixed || nameOffset + nameBytes > length) return -1;
  const uint8_t* name = p + nameOffset;
  size_t units = nameBytes / 2;
  if (reinterpret_cast<uintptr_t>(name) % alignof(char16_t) == 0) {
    out->name = std::u16string_view(reinterpret_cast<const char16_t*>(name), units);
  } else {
    std::memcpy(nameScratch, name, nameBytes);  // nameBytes < 64 KiB = the scratch's size
    out->name = std::u16string_view(nameScratch, units);
  }
  return static_cast<long>(length);
}
