// "seal.db": what makes the saved files one set. The formats of
// "ntfsqs.db" and "ext.db" have no room for it, and "extcase.db" is one of
// the files it covers, so it is a file of its own, written last by a save:
//
//   u32 magic "QVSL" | u32 version | u64 generation
//   per file (ntfsqs.db, ext.db, extcase.db): u64 size | u64 checksum
//   u64 checksum of everything before it
//
// A file is taken only when its size and checksum are those its seal
// names: a file from another save, or one damaged on the disk, is refused.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvDbSeal {

constexpr const char* kFileName = "seal.db";
constexpr uint32_t kMagic = 0x4C535651;  // "QVSL"
constexpr uint32_t kVersion = 1;

enum File { kIndexFile, kExtFile, kExtCaseFile, kFileCount };

struct FileSum {
  uint64_t size = 0;
  uint64_t sum = 0;
  bool operator==(const FileSum&) const = default;
};

struct Seal {
  uint64_t generation = 0;
  FileSum files[kFileCount];
};

constexpr size_t kSize = 4 + 4 + 8 + kFileCount * 16 + 8;

// A 64-bit checksum that any change of one 8-byte word always changes;
// fast enough to run over the whole index at every load and save. Fed in
// pieces of any length, it gives the same value as over the whole.
class Checksum {
 public:
  void Update(const uint8_t* data, size_t n);
  uint64_t Final() const;

 private:
  void Mix(uint64_t word);
  uint64_t state_ = 0x9E3779B97F4A7C15ull;
  uint64_t length_ = 0;
  uint8_t pending_[8] = {};
  size_t pendingBytes_ = 0;
};

FileSum SumOf(const uint8_t* data, size_t n);

void Build(const Seal& seal, uint8_t out[kSize]);
// False when the bytes are not a seal this version wrote whole.
bool Parse(const uint8_t* data, size_t n, Seal& seal);

}  // namespace qvDbSeal
