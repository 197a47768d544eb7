// "trigram.idx": a derived index beside the saved set, so that an answer
// read in place needs only the file records that can hold its term. The
// saved formats have no room for it and no reader of them needs it: it is
// a cache, written once the set it describes was read whole and found to
// be the sealed one, and used only while every file of that set is still
// the one it was built from (same seal, same inode, size and times).
//
// The file records are taken in blocks of kBlockRecords. For every block
// the index keeps where its first record lies in "ntfsqs.db" and that
// record's whole name (names are stored against the one before them), and
// for each key the blocks that hold it. Folders are taken by the block of
// the loader's record pool their position names, which is how the reader
// finds a folder from its position. The keys:
//   - every three bytes of a stored name, ASCII letters lower-cased, which
//     is what the term finder compares;
//   - for names with wide units only: each ASCII unit (folded), each letter
//     a reading of one of its ideographs begins with, and whether it holds
//     a unit beyond the first plane: what a pinyin term's first cut asks.
// A block list is a run of block numbers, ascending, each the distance
// from the one before (the first from -1) as a base-128 varint.
//
//   header (see qvTrigramIndex.cpp)
//   key samples: every 64th key of the key table, so that a key is found
//                with one read of 64 entries
//   block table: per block u32 record offset from the file section's start,
//                u32 name offset into the name pool, u32 name length, u32
//                check of the offset and the name (a damaged name would
//                put its prefix before the names read from the file)
//   folder block table: the same per block of the loader's record pool,
//                with the offset of the block's first folder in the file
//   name pool
//   key table:   per key, ascending: u32 key, u32 blocks, u32 offset into
//                the lists, u32 bytes
//   block lists
//   extcase table: for every kExtCaseStride-th entry of "extcase.db" its
//                u32 file position and u32 byte offset
//
// Nothing in it is trusted: every offset, count and block number is
// checked where it is read, and a record found through it is checked as
// any record of the file is. A damaged index can only cost the offline
// answer its speed (the reader falls back) or, should it name the wrong
// blocks, the rows of those blocks.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qvDatabaseSeal.h"

class qvByteSource;

namespace qvTrigramIndex {

constexpr const char* kFileName = "trigram.idx";
constexpr uint32_t kBlockRecords = 64;
constexpr uint32_t kExtCaseStride = 64;

// Keys beside the trigrams (whose top byte is 0).
constexpr uint32_t kWideAsciiKey = 1u << 24;     // | folded ASCII unit
constexpr uint32_t kWideInitialKey = 2u << 24;   // | letter 'a'..'z'
constexpr uint32_t kWideSurrogateKey = 3u << 24;
// Set in the keys of folder names, whose lists name blocks of the pool.
constexpr uint32_t kFolderKey = 1u << 31;

inline uint8_t FoldByte(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 32) : b; }
inline uint32_t TrigramKey(const uint8_t* folded) {
  return (uint32_t{folded[0]} << 16) | (uint32_t{folded[1]} << 8) | folded[2];
}

// What an index was built from. Two builds from the same files give the
// same source; any save, replacement or write in place changes it.
struct FileStamp {
  uint64_t device = 0, inode = 0, size = 0;
  int64_t modifiedNs = 0, changedNs = 0;
};
struct Source {
  uint8_t seal[qvDbSeal::kSize] = {};
  FileStamp files[qvDbSeal::kFileCount];
  uint64_t pinyinTable = 0;  // the readings the wide keys were made with
};
constexpr size_t kSourceSize = qvDbSeal::kSize + qvDbSeal::kFileCount * 40 + 8;

// The stamp of an open file; false when it cannot be had.
bool StampOf(int fd, FileStamp& stamp);
// The embedded pinyin table's identity (a hash of it, taken by the build).
uint64_t PinyinTableId();

// The index of a whole "ntfsqs.db" image and its "extcase.db" (null when
// there is none). False when the images are not well-formed.
bool Build(const uint8_t* index, size_t indexSize, const uint8_t* extCase, size_t extCaseSize, const Source& source,
           std::vector<uint8_t>& out);

// An index read for use: the header and the tables are read at once, a
// key's block list when it is asked for.
class View {
 public:
  // False when `file` is not a well-formed index or (with `expected`) was
  // built from other files. `file` must outlive the view.
  bool Open(const qvByteSource& file, const Source* expected);

  // The "ntfsqs.db" it was built from: the caller checks they are the
  // file's own.
  uint64_t IndexSize() const { return indexSize_; }
  uint64_t FileSectionAt() const { return fileSectionAt_; }
  uint64_t FolderSectionAt() const { return folderSectionAt_; }
  uint32_t FileCount() const { return fileCount_; }
  uint32_t BlockCount() const { return blockCount_; }

  // The blocks that hold `key`, ascending, in `out` (empty when none).
  // False when its list is damaged.
  bool Blocks(uint32_t key, std::vector<uint32_t>& out) const;
  // The blocks that hold every trigram of `run` (folded, at least three
  // bytes).
  // `kind` is kFolderKey for folders' blocks, else 0.
  bool BlocksWithAll(const uint8_t* run, size_t length, uint32_t kind, std::vector<uint32_t>& out) const;

  // Blocks first..last: where their records lie in "ntfsqs.db", [from,
  // to), and the whole name of the first record.
  struct BlockRun {
    uint64_t from = 0, to = 0;
    std::vector<uint8_t> name;
  };
  bool ReadBlocks(uint32_t first, uint32_t last, BlockRun& run) const;
  // The folders of pool block `b`, from the first whose position lies in
  // it: where they lie in the folder section and the first one's name.
  bool ReadFolderBlock(uint32_t b, BlockRun& run) const;

  // The entries of "extcase.db" (`extCase` as its bytes come) for the
  // files at `positions`, ascending, as the reduced file renumbers them:
  // the k-th position becomes k. False when the file is damaged.
  bool ReduceExtCase(const qvByteSource& extCase, const std::vector<uint32_t>& positions,
                     std::vector<uint8_t>& out) const;

 private:
  struct KeyEntry {
    uint32_t key, count, at, bytes;
  };
  struct ExtCaseMark {
    uint32_t position, at;
  };
  // The key's entry, its count 0 when no block holds it.
  bool FindKey(uint32_t key, KeyEntry& found) const;
  bool ReadList(const KeyEntry& e, std::vector<uint32_t>& out) const;
  uint32_t BlocksOf(uint32_t key) const { return key & kFolderKey ? folderBlockCount_ : blockCount_; }

  // Only the header and every kKeySample-th key are read at once; the
  // rest is read where it is needed, and checked there.
  const qvByteSource* file_ = nullptr;
  uint64_t indexSize_ = 0, fileSectionAt_ = 0, namesSize_ = 0, listsSize_ = 0;
  uint64_t folderSectionAt_ = 0, folderBlocksAt_ = 0;
  uint32_t folderBlockCount_ = 0;
  uint64_t blocksAt_ = 0, namesAt_ = 0, keysAt_ = 0, listsAt_ = 0, marksAt_ = 0;
  uint32_t fileCount_ = 0, blockCount_ = 0, keyCount_ = 0, extCaseCount_ = 0, markCount_ = 0;
  std::vector<uint32_t> samples_;
};

}  // namespace qvTrigramIndex
