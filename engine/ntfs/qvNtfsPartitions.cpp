#include "qvNtfsPartitions.h"

#include <cstring>

#include "qvNtfsBoot.h"
#include "qvNtfsFormat.h"

using qvNtfs::Le32;
using qvNtfs::Le64;

namespace {

constexpr uint64_t kSector = 512;
constexpr int kMaxLogicalPartitions = 128;
constexpr uint32_t kMaxGptEntries = 1024;

bool IsExtended(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

void AddIfNtfs(const NtfsReadAt& read, uint64_t offset, std::vector<uint64_t>* out) {
  if (IsNtfsAt(read, offset)) out->push_back(offset);
}

void ReadGpt(const NtfsReadAt& read, std::vector<uint64_t>* out) {
  uint8_t header[kSector];
  if (!read(kSector, kSector, header) || std::memcmp(header, "EFI PART", 8) != 0) return;
  uint64_t entriesLba = Le64(header + 72);
  uint32_t count = Le32(header + 80);
  uint32_t entrySize = Le32(header + 84);
  if (entrySize < 128 || entrySize > 4096 || count > kMaxGptEntries) return;
  std::vector<uint8_t> entry(entrySize);
  static const uint8_t kUnused[16] = {};
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = entriesLba * kSector + static_cast<uint64_t>(i) * entrySize;
    if (!read(at, entrySize, entry.data())) return;
    if (std::memcmp(entry.data(), kUnused, 16) == 0) continue;
    uint64_t firstLba = Le64(entry.data() + 32);
    if (firstLba < (1ull << 54)) AddIfNtfs(read, firstLba * kSector, out);
  }
}

void ReadLogical(const NtfsReadAt& read, uint64_t extendedStart, std::vector<uint64_t>* out) {
  uint64_t ebr = extendedStart;
  for (int n = 0; n < kMaxLogicalPartitions; ++n) {
    uint8_t s[kSector];
    if (!read(ebr * kSector, kSector, s) || s[510] != 0x55 || s[511] != 0xAA) return;
    const uint8_t* first = s + 446;
    const uint8_t* next = s + 446 + 16;
    if (first[4] != 0) AddIfNtfs(read, (ebr + Le32(first + 8)) * kSector, out);
    if (!IsExtended(next[4])) return;
    uint64_t following = extendedStart + Le32(next + 8);
    if (following <= ebr) return;  // chains only go forwards
    ebr = following;
  }
}

}  // namespace

bool IsNtfsAt(const NtfsReadAt& read, uint64_t offset) {
  uint8_t s[kSector];
  NtfsBoot boot;
  return read(offset, kSector, s) && ParseNtfsBoot(s, kSector, &boot);
}

std::vector<uint64_t> FindNtfsPartitions(const NtfsReadAt& read) {
  std::vector<uint64_t> out;
  uint8_t mbr[kSector];
  if (!read(0, kSector, mbr)) return out;
  NtfsBoot boot;
  if (ParseNtfsBoot(mbr, kSector, &boot)) {
    out.push_back(0);
    return out;
  }
  if (mbr[510] != 0x55 || mbr[511] != 0xAA) return out;
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = mbr + 446 + 16 * i;
    uint8_t type = e[4];
    uint64_t start = Le32(e + 8);
    if (type == 0xEE) {
      ReadGpt(read, &out);
      return out;
    }
    if (type == 0 || start == 0) continue;
    if (IsExtended(type)) ReadLogical(read, start, &out);
    else AddIfNtfs(read, start * kSector, &out);
  }
  return out;
}
