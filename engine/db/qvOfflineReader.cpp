#include "qvOfflineReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "IQvSearch.h"
#include "qvDatabase.h"
#include "qvDatabaseFormat.h"
#include "qvDatabaseIo.h"
#include "qvDatabaseSeal.h"
#include "qvExtCaseFile.h"
#include "qvExtFilter.h"
#include "qvExtendedScan.h"
#include "qvIndex.h"
#include "qvAsciiTermFinder.h"
#include "qvNameCandidates.h"
#include "qvSavedSet.h"
#include "qvSectionStream.h"
#include "qvTrigramIndex.h"

namespace qvOfflineReader {

namespace {

using namespace qvDbFormat;
using qvscan::StoredName;

// The header fields the sections are found by, checked as the designed
// loader checks them (its reasons are not needed: any fault falls back).
struct Sections {
  uint32_t headerSize, folderOffset, fileOffset, folderCount, fileCount;
};

// `data` holds the file's first `held` bytes (all of them, or at least
// kMaxHeaderSize) of `size`.
bool ReadSections(const uint8_t* data, size_t held, uint64_t size, const VolumeState& now, Sections& s) {
  if (held < kMinHeaderSize || LoadU32(data + kTotalSizeAt) != size) return false;
  s = {LoadU32(data + kHeaderSizeAt), LoadU32(data + kFolderOffsetAt), LoadU32(data + kFileOffsetAt),
       LoadU32(data + kFolderCountAt), LoadU32(data + kFileCountAt)};
  if (s.folderCount == 0 || s.headerSize < kMinHeaderSize || s.headerSize > std::min(held, kMaxHeaderSize))
    return false;
  if (s.folderOffset < s.headerSize || s.folderOffset - s.headerSize != 4ull * s.folderCount) return false;
  if (s.fileOffset < s.folderOffset || s.fileOffset > size) return false;
  if (LoadU32(data + kMagic1At) != kMagic1 || LoadU32(data + kMagic2At) != kMagic2 ||
      LoadU32(data + kVersionAt) != kVersion)
    return false;
  // The volume table, and whether every slot still holds the saved volume.
  size_t at = kVolumeTableAt;
  for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
    if (at >= s.headerSize || data[at] > 1) return false;
    if (data[at++] == 0) {
      if (now.journalId[slot] != 0) return false;
      continue;
    }
    if (s.headerSize - at < 16) return false;
    uint64_t journal;
    int64_t next;
    std::memcpy(&journal, data + at, 8);
    std::memcpy(&next, data + at + 8, 8);
    if (now.journalId[slot] == 0 || journal != now.journalId[slot] || next < now.firstUsn[slot]) return false;
    at += 16;
  }
  return at == s.headerSize;
}

// One query's first cut: its scan prepared on the extension table alone.
class QueryCut {
 public:
  explicit QueryCut(qvIndex& app) : scan_(app), set_(app.heap) {}

  // False when the cut cannot narrow the query: then nothing is gained.
  bool Prepare(const qvIndex& app, const Query& q, const qvMatchOptions& options) {
    qvString filterText = q.extFilter;
    filterText.push_back(0);
    filtered_ = filter_.Build(filterText.data(), app.extTable);
    qvString text = q.text;
    text.push_back(0);
    // A query that finds nothing, or a pattern refused, finds the same
    // in any index: it keeps no record.
    if (scan_.Prepare(set_, text.data(), options) != qvExtendedScan::Outcome::kReady ||
        (filtered_ && filter_.Count() == 0))
      return true;
    candidates_.emplace(scan_, set_, app.extTable);
    return candidates_->Narrows();
  }

  // Folders are found only without an extension filter.
  bool MayFindFolder(const StoredName& n) const {
    return candidates_ && !filtered_ && candidates_->MayMatch(n, false, 0);
  }
  bool MayFindFile(const StoredName& n, const uint8_t* filterRecord, bool hasExt, uint32_t ext) const {
    if (!candidates_ || (filtered_ && !filter_.Passes(filterRecord))) return false;
    return candidates_->MayMatch(n, hasExt, ext);
  }
  // The test of every file when nothing else filters them: then the
  // reader runs the finder in its own loop.
  const qvNameCandidates* FileTest() const { return candidates_ && !filtered_ ? &*candidates_ : nullptr; }
  // The test every file takes, filter or not; null when none is kept.
  const qvNameCandidates* Candidates() const { return candidates_ ? &*candidates_ : nullptr; }
  bool FindsFolders() const { return candidates_ && !filtered_; }

 private:
  qvExtendedScan scan_;
  CPatternSet set_;
  qvExtFilter filter_;
  bool filtered_ = false;
  std::optional<qvNameCandidates> candidates_;
};

// A folder kept: where its record lies in the file and what it holds.
struct KeptFolder {
  uint32_t pos;        // stored RecordPos
  uint32_t parentPos;  // kNoFolder for a volume root
  DirKey key;
  uint32_t nameAt;     // into the reader's name store
  uint32_t length;
  bool nonAscii;
  uint32_t newPos = 0;
};

// The name of the file record being read, put together in a vector: the
// prefix it shares with the name before from the vector, its suffix from
// the record. It is stored to the name buffer as well, but the test reads
// the vector; reading back the bytes just stored would wait for the store,
// which was the larger part of the loop's time.
class NameVector {
 public:
  static constexpr size_t kBytes = 32;

  // The name of `p` shared bytes and the suffix at `suffix`, at most kBytes
  // long in all; kBytes bytes are readable before `suffix` and after it.
  [[gnu::target("avx2")]] __m256i Next(uint8_t* name, uint32_t p, const uint8_t* suffix) {
    if (!held_) {
      bytes_ = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(name));
      held_ = true;
    }
    const __m256i moved = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(suffix - p));
    const __m256i fromSuffix = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kRamp + kBytes - p));
    bytes_ = _mm256_blendv_epi8(bytes_, moved, fromSuffix);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(name), bytes_);
    return bytes_;
  }
  // The name buffer was written another way: the vector is read from it
  // again at the next short name.
  void Lose() { held_ = false; }

 private:
  // kBytes zeros, then kBytes of 0xFF: from kRamp + kBytes - p, the bytes
  // at p and after are marked.
  static constexpr uint8_t kRamp[2 * kBytes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF};
  __m256i bytes_;  // read only once held_
  bool held_ = false;
};

// Where each 4096-byte block of the simulated folder pool begins in the
// file, with the whole name of its first folder: a folder is found again
// from its block without keeping every folder's place.
struct Block {
  uint32_t at;
  uint32_t nameAt;
  uint32_t length;
};

class Reader {
 public:
  // `head` holds the file's bytes up to its file records; those are read
  // from `source` as they come.
  Reader(const std::vector<uint8_t>& head, const qvByteSource& source, const Sections& s,
         const std::vector<std::unique_ptr<QueryCut>>& cuts, size_t chunk)
      : data_(head.data()), source_(source), chunk_(chunk), s_(s), cuts_(cuts) {
    budget_ = (static_cast<uint64_t>(s.folderCount) + s.fileCount) / kMaxKeptShare + 256;
  }

  // The reduced "ntfsqs.db" image in `image`, and the old-to-new file
  // positions for "extcase.db". False: the file is damaged, or the cut
  // keeps too much.
  bool Run(std::vector<uint8_t>& image) {
    return ScanFolders() && ScanFiles() && KeepChains() && Build(image);
  }
  // The same through a trigram index: only the folders of `folderBlocks`
  // and the files of `fileBlocks`, the blocks that hold every record the
  // queries may keep; a kept record's folders are read from their blocks.
  bool RunBlocks(const qvTrigramIndex::View& view, const std::vector<uint32_t>& folderBlocks,
                 const std::vector<uint32_t>& fileBlocks, std::vector<uint8_t>& image) {
    view_ = &view;
    return ScanFolderBlocks(folderBlocks) && ScanFileBlocks(view, fileBlocks) && KeepChains() && Build(image);
  }

  const std::vector<uint32_t>& KeptFilePositions() const { return keptFilePositions_; }

 private:
  // The name buffer: the bytes before the name let the finder read whole
  // windows (as many as a record pool keeps before a record), the slack
  // after it lets a cut read past a malformed name and a suffix be copied
  // kCopy bytes at a time.
  static constexpr size_t kPad = 64;
  static constexpr size_t kCopy = 32;
  static_assert(kPad >= qvAsciiTermFinder::kPoolReadBehind);
  StoredName Name(uint32_t length, bool wide, bool file) const {
    return {name_, name_ + kPad, length, wide, file};
  }

  bool OverBudget() const { return folderHits_ + keptFiles_.size() > budget_; }

  bool ScanFolders() {
    size_t at = s_.folderOffset;
    const size_t end = s_.fileOffset;
    PoolSimulator simulated;
    uint32_t prevLength = 0;
    for (uint32_t i = 0; i < s_.folderCount; ++i) {
      if (end - at < kRecordFixedSize) return false;
      const uint8_t* in = data_ + at;
      uint32_t word = Load24(in + 8);
      uint32_t p = WordPrefix(word), sfx = WordSuffix(word), length = p + sfx;
      if ((word & kFolderReservedMask) || p > prevLength || length > kLengthFieldMax ||
          end - at - kRecordFixedSize < sfx)
        return false;
      uint32_t pos = simulated.Next(static_cast<uint32_t>(DirRecord::kHeaderSize) + length);
      if (pos == kNoFolder) return false;
      std::memcpy(name_ + kPad + p, in + kRecordFixedSize, sfx);
      if (PosBlock(pos) == blocks_.size()) {
        blocks_.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(names_.size()), length});
        names_.insert(names_.end(), name_ + kPad, name_ + kPad + length);
      }
      StoredName n = Name(length, (word & kFolderNonAscii) != 0, false);
      for (const auto& cut : cuts_)
        if (cut->MayFindFolder(n)) {
          wanted_.push_back(pos);
          ++folderHits_;
          if (OverBudget()) return false;
          break;
        }
      prevLength = length;
      at += kRecordFixedSize + sfx;
    }
    return at == end;
  }

  bool ScanFiles() {
    if (cuts_.size() == 1)
      if (const qvNameCandidates* test = cuts_[0]->FileTest()) {
        const bool wide = qvscan::WideVectors();  // the scans' switch: tests turn it off
        switch (test->Finder().Lead()) {
          case 1:
            return wide ? ScanFilesWide<1>(*test) : ScanFilesWith(*test, NarrowTest<1>{test->Finder()});
          case 2:
            return wide ? ScanFilesWide<2>(*test) : ScanFilesWith(*test, NarrowTest<2>{test->Finder()});
          default:
            return wide ? ScanFilesWide<3>(*test) : ScanFilesWith(*test, NarrowTest<3>{test->Finder()});
        }
      }
    return ScanFilesWithCuts();
  }

  // How the files' loop puts a name together and runs the finder on it,
  // the finder's lead fixed: with 32-byte vectors, a short name in a
  // vector, the others in the name buffer.
  template <int kLead>
  struct WideTest {
    const qvAsciiTermFinder& finder;
    NameVector vector;
    [[gnu::target("avx2")]] bool operator()(uint8_t* record, uint8_t* name, uint32_t p, const uint8_t* suffix,
                                            uint32_t sfx) {
      const uint32_t length = p + sfx;
      if (length <= NameVector::kBytes) [[likely]]
        return finder.FindInVector<kLead>(vector.Next(name, p, suffix), name, length);
      std::memcpy(name + p, suffix, sfx);
      vector.Lose();
      return finder.FindInPool<kLead>(record, name, length);
    }
  };
  template <int kLead>
  struct NarrowTest {
    const qvAsciiTermFinder& finder;
    bool operator()(uint8_t* record, uint8_t* name, uint32_t p, const uint8_t* suffix, uint32_t sfx) const {
      // Most suffixes are short: one copy of kCopy bytes, which the
      // stream's slack and the name buffer both have room for.
      if (sfx <= kCopy) [[likely]]
        std::memcpy(name + p, suffix, kCopy);
      else
        std::memcpy(name + p, suffix, sfx);
      return finder.FindWith<kLead>(record, name, p + sfx);
    }
  };

  // The loop compiled for 32-byte vectors, everything in it inlined.
  template <int kLead>
  [[gnu::target("avx2"), gnu::flatten]] bool ScanFilesWide(const qvNameCandidates& test) {
    return ScanFilesWith(test, WideTest<kLead>{test.Finder(), {}});
  }

  // Every file record read once and checked as it is read, then handed to
  // `visit(position, record, flags, prefix, suffixLength, width)`, which
  // returns false to stop the walk. The stream's state is kept in locals,
  // which stay in registers: `in` walks the buffer up to `limit`, before
  // which every record is held whole (or, with all the rest buffered, up
  // to its end).
  template <class Visit>
  bool WalkFiles(Visit visit) {
    qvSectionStream files = FileSection();
    const uint8_t* in = files.Cursor();
    const uint8_t* limit = in;
    const uint8_t* end = in;
    uint32_t prevLength = 0;
    for (uint32_t j = 0; j < s_.fileCount; ++j) {
      if (in >= limit) {
        files.Advance(static_cast<size_t>(in - files.Cursor()));
        if (!files.Fill()) return false;
        in = files.Cursor();
        end = in + files.Buffered();
        limit = files.Buffered() == files.Left() ? end : end - kMaxFileRecord;
      }
      // Bytes of the section at `in`, or at least a whole record's.
      const size_t left = static_cast<size_t>(end - in);
      if (left < kRecordFixedSize) return false;
      const uint32_t flags = LoadU32(in);
      const uint32_t word = Load24(in + 8);
      const uint32_t p = WordPrefix(word), sfx = WordSuffix(word), width = WordFileWidth(word), length = p + sfx;
      if (width != FileRecord::ExtWidthBytes(flags) || p > prevLength || length > kLengthFieldMax ||
          left - kRecordFixedSize < sfx + width) [[unlikely]]
        return false;
      if (!visit(j, in, flags, p, sfx, width)) [[unlikely]]
        return false;
      prevLength = length;
      in += kRecordFixedSize + sfx + width;
    }
    files.Advance(static_cast<size_t>(in - files.Cursor()));
    return files.Left() == 0;
  }

  // The files of one query without an extension filter, nearly all of
  // the work of a one-term answer: the name tested by `find`, and nothing
  // else done for a name it turns down unless the name is wide or has an
  // extension the run may reach into.
  template <class Find>
  bool ScanFilesWith(const qvNameCandidates& test, Find find) {
    uint8_t* const name = name_ + kPad;
    return WalkFiles([&](uint32_t j, const uint8_t* in, uint32_t flags, uint32_t p, uint32_t sfx, uint32_t width) {
      const uint8_t* suffix = in + kRecordFixedSize;
      const uint8_t* extField = suffix + sfx;
      const uint32_t length = p + sfx;
      const bool wideName = (flags & FileRecord::kNonAscii) != 0;
      bool found = find(name_, name, p, suffix, sfx);
      if (!found && test.ReachesBeyondRun(wideName, width != 0)) [[unlikely]]
        found = test.MayMatchWithoutRun(Name(length, wideName, true), width != 0, ExtId(extField, width));
      if (found && !test.HiddenOut(Name(length, wideName, true))) [[unlikely]]
        return KeepFile(j, flags, LoadU32(in + 4), length, width, extField);
      return true;
    });
  }

  // The longest file record, which the stream keeps whole.
  static constexpr size_t kMaxFileRecord = kRecordFixedSize + kLengthFieldMax + 4;
  static_assert(qvSectionStream::kSlack >= kCopy && qvSectionStream::kSlack >= NameVector::kBytes);

  qvSectionStream FileSection() const {
    return qvSectionStream(source_, s_.fileOffset, source_.Size(), kMaxFileRecord, chunk_);
  }

  static uint32_t ExtId(const uint8_t* field, uint32_t width) {
    return width == 1 ? field[0] : width == 2 ? LoadU16(field) : width == 4 ? LoadU32(field) : 0;
  }

  // Files against several queries, or with an extension filter: the name
  // put together whole and offered to each query's cut in turn.
  bool ScanFilesWithCuts() {
    return WalkFiles([&](uint32_t j, const uint8_t* in, uint32_t flags, uint32_t p, uint32_t sfx, uint32_t width) {
      std::memcpy(name_ + kPad + p, in + kRecordFixedSize, sfx);
      return TestFile(j, in, flags, p, sfx, width);
    });
  }

  // File record `j` at `in`, its name whole in the name buffer, offered to
  // each query's cut; false once the cuts keep too much.
  bool TestFile(uint32_t j, const uint8_t* in, uint32_t flags, uint32_t p, uint32_t sfx, uint32_t width) {
    const uint32_t length = p + sfx;
    const uint8_t* extField = in + kRecordFixedSize + sfx;
    const uint32_t ext = ExtId(extField, width);
    StoreU32(filterRecord_, flags & ~FileRecord::kLongLength);
    StoreU32(filterRecord_ + 9, ext);
    const StoredName n = Name(length, (flags & FileRecord::kNonAscii) != 0, true);
    for (const auto& cut : cuts_)
      if (cut->MayFindFile(n, filterRecord_, width != 0, ext))
        return KeepFile(j, flags, LoadU32(in + 4), length, width, extField);
    return true;
  }

  // The file records of `blocks` (ascending), neighbours read together, at
  // most kMostBlocksRead at a time. A block's first record is stored
  // against the record before it, which is not read: its whole name comes
  // from the index and must end in the suffix the record stores.
  static constexpr size_t kMostBlocksRead = 256;
  bool ScanFileBlocks(const qvTrigramIndex::View& view, const std::vector<uint32_t>& blocks) {
    std::vector<uint8_t> bytes;
    qvTrigramIndex::View::BlockRun run;
    for (size_t i = 0; i < blocks.size();) {
      size_t k = i + 1;
      while (k < blocks.size() && k - i < kMostBlocksRead && blocks[k] == blocks[k - 1] + 1) ++k;
      const uint32_t first = blocks[i], last = blocks[k - 1];
      if (!view.ReadBlocks(first, last, run) || run.to <= run.from || run.to > source_.Size()) return false;
      bytes.resize(static_cast<size_t>(run.to - run.from));
      if (!source_.ReadAt(run.from, bytes.data(), bytes.size())) return false;
      const uint32_t begin = first * qvTrigramIndex::kBlockRecords;
      const uint32_t end = static_cast<uint32_t>(
          std::min<uint64_t>(s_.fileCount, (uint64_t{last} + 1) * qvTrigramIndex::kBlockRecords));
      uint32_t prevLength = static_cast<uint32_t>(run.name.size());
      if (prevLength) std::memcpy(name_ + kPad, run.name.data(), prevLength);
      size_t at = 0;
      RecordHead h;
      for (uint32_t j = begin; j < end; ++j) {
        const uint8_t* in = bytes.data() + at;
        if (!ReadFileHead(in, bytes.size() - at, prevLength, h)) return false;
        if (j == begin) {
          if (h.length != prevLength || std::memcmp(name_ + kPad + h.p, in + kRecordFixedSize, h.sfx) != 0)
            return false;
        } else {
          std::memcpy(name_ + kPad + h.p, in + kRecordFixedSize, h.sfx);
        }
        if (!TestFile(j, in, h.flags, h.p, h.sfx, h.width)) return false;
        prevLength = h.length;
        at += kRecordFixedSize + h.sfx + h.width;
      }
      if (at != bytes.size()) return false;
      i = k;
    }
    return true;
  }

  // The file's record as the reduced image stores it (no shared prefix);
  // its parent is put in once the folders have their new places. False
  // once the cut keeps too much.
  [[gnu::noinline]] bool KeepFile(uint32_t position, uint32_t flags, uint32_t parentPos, uint32_t length,
                                  uint32_t width, const uint8_t* ext) {
    keptFiles_.push_back({static_cast<uint32_t>(fileBytes_.size()), parentPos});
    keptFilePositions_.push_back(position);
    uint8_t fixed[kRecordFixedSize];
    StoreU32(fixed, flags);
    StoreU32(fixed + 4, kNoFolder);
    Store24(fixed + 8, PackWord(0, length, width << kFileWidthShift));
    fileBytes_.insert(fileBytes_.end(), fixed, fixed + kRecordFixedSize);
    fileBytes_.insert(fileBytes_.end(), name_ + kPad, name_ + kPad + length);
    fileBytes_.insert(fileBytes_.end(), ext, ext + width);
    wanted_.push_back(parentPos);
    return !OverBudget();
  }

  // Every folder a kept record names, and every folder above those. Each
  // is found once; a parent that names no folder record is damage. The
  // positions wanted are taken a round at a time, in order, so that each
  // block is walked once a round however many of its folders are wanted.
  bool KeepChains() {
    std::vector<uint32_t> round;
    while (!wanted_.empty()) {
      round.swap(wanted_);
      wanted_.clear();
      std::sort(round.begin(), round.end());
      round.erase(std::unique(round.begin(), round.end()), round.end());
      round.erase(std::remove_if(round.begin(), round.end(), [this](uint32_t pos) { return keptAt_.count(pos) != 0; }),
                  round.end());
      const size_t keptBefore = folders_.size();
      for (size_t i = 0; i < round.size();) {
        size_t j = i + 1;
        while (j < round.size() && PosBlock(round[j]) == PosBlock(round[i])) ++j;
        if (!FindInBlock(round.data() + i, j - i)) return false;
        i = j;
      }
      for (size_t k = keptBefore; k < folders_.size(); ++k)
        if (folders_[k].parentPos != kNoFolder) wanted_.push_back(folders_[k].parentPos);
    }
    return true;
  }

  // A pool block's folders read through the trigram index, once.
  struct FolderBlock {
    std::vector<uint8_t> bytes, name;
  };
  const FolderBlock* FolderBlockOf(uint32_t b) {
    auto it = folderBlocks_.find(b);
    if (it != folderBlocks_.end()) return &it->second;
    qvTrigramIndex::View::BlockRun run;
    if (!view_->ReadFolderBlock(b, run) || run.to > source_.Size()) return nullptr;
    FolderBlock block;
    block.bytes.resize(static_cast<size_t>(run.to - run.from));
    if (!source_.ReadAt(run.from, block.bytes.data(), block.bytes.size())) return nullptr;
    block.name = std::move(run.name);
    return &folderBlocks_.emplace(b, std::move(block)).first->second;
  }

  // The folders of `blocks` (pool blocks, ascending) offered to the cuts.
  // Each block's first folder is stored against the folder before it: its
  // whole name comes from the index and must end in the suffix stored.
  bool ScanFolderBlocks(const std::vector<uint32_t>& blocks) {
    for (uint32_t b : blocks) {
      const FolderBlock* block = FolderBlockOf(b);
      if (!block) return false;
      const uint8_t* bytes = block->bytes.data();
      const size_t size = block->bytes.size();
      uint32_t length = static_cast<uint32_t>(block->name.size()), offset = 0;
      if (length) std::memcpy(name_ + kPad, block->name.data(), length);
      RecordHead h;
      for (size_t at = 0; at < size;) {
        const uint8_t* in = bytes + at;
        if (!ReadFolderHead(in, size - at, length, h)) return false;
        if (at == 0) {
          if (h.length != length || std::memcmp(name_ + kPad + h.p, in + kRecordFixedSize, h.sfx) != 0) return false;
        } else {
          length = h.length;
          std::memcpy(name_ + kPad + h.p, in + kRecordFixedSize, h.sfx);
        }
        // Past the block's end the saver's pool would have moved on.
        const uint32_t need = static_cast<uint32_t>(DirRecord::kHeaderSize) + length;
        if (offset + need > PoolSimulator::kBlockSize) return false;
        const StoredName n = Name(length, (h.word & kFolderNonAscii) != 0, false);
        for (const auto& cut : cuts_)
          if (cut->MayFindFolder(n)) {
            wanted_.push_back((b << 16) | offset);
            ++folderHits_;
            if (OverBudget()) return false;
            break;
          }
        offset += need;
        at += kRecordFixedSize + h.sfx;
      }
    }
    return true;
  }

  // Walks one block from its first folder to the last of `positions`
  // (`count` of them, all in that block, ascending), keeping each.
  bool FindInBlock(const uint32_t* positions, size_t count) {
    const uint32_t blockNo = PosBlock(positions[0]);
    const uint8_t* base;
    size_t at, end;
    const uint8_t* firstName;
    uint32_t length;
    if (view_) {
      const FolderBlock* block = FolderBlockOf(blockNo);
      if (!block) return false;
      base = block->bytes.data();
      at = 0;
      end = block->bytes.size();
      firstName = block->name.data();
      length = static_cast<uint32_t>(block->name.size());
    } else {
      if (blockNo >= blocks_.size()) return false;
      const Block& block = blocks_[blockNo];
      base = data_;
      at = block.at;
      end = s_.fileOffset;
      firstName = names_.data() + block.nameAt;
      length = block.length;
    }
    uint32_t offset = 0;
    // A volume root's name is empty, and may be the only name kept yet.
    if (length) std::memcpy(name_ + kPad, firstName, length);
    for (bool first = true;; first = false) {
      if (at >= end || end - at < kRecordFixedSize) return false;
      const uint8_t* in = base + at;
      uint32_t word = Load24(in + 8);
      uint32_t p = WordPrefix(word), sfx = WordSuffix(word);
      // The first name, from the index, must be the one stored.
      if (first && view_ &&
          (p + sfx != length || end - at - kRecordFixedSize < sfx ||
           std::memcmp(name_ + kPad + p, in + kRecordFixedSize, sfx) != 0))
        return false;
      if (!first) {
        // Checked by the scan already; checked again, being read again.
        if (p > length || p + sfx > kLengthFieldMax || end - at - kRecordFixedSize < sfx) return false;
        length = p + sfx;
        std::memcpy(name_ + kPad + p, in + kRecordFixedSize, sfx);
      }
      if (offset == PosOffset(*positions)) {
        keptAt_.emplace(*positions, static_cast<uint32_t>(folders_.size()));
        folders_.push_back({*positions, LoadU32(in + 4), LoadU32(in), static_cast<uint32_t>(names_.size()), length,
                            (word & kFolderNonAscii) != 0});
        names_.insert(names_.end(), name_ + kPad, name_ + kPad + length);
        ++positions;
        if (--count == 0) return true;
      }
      offset += static_cast<uint32_t>(DirRecord::kHeaderSize) + length;
      if (offset > PosOffset(*positions)) return false;
      at += kRecordFixedSize + sfx;
    }
  }

  // The kept records as a file of their own: folders in section order
  // (their new places follow from the same pool rule), keys ascending,
  // files in section order. The designed loader checks it all again.
  bool Build(std::vector<uint8_t>& image) {
    std::sort(folders_.begin(), folders_.end(), [](const KeptFolder& a, const KeptFolder& b) { return a.pos < b.pos; });
    PoolSimulator simulated;
    std::unordered_map<uint32_t, uint32_t> newPos;
    newPos.reserve(folders_.size());
    for (KeptFolder& f : folders_) {
      f.newPos = simulated.Next(static_cast<uint32_t>(DirRecord::kHeaderSize) + f.length);
      newPos.emplace(f.pos, f.newPos);
    }
    auto renamed = [&](uint32_t pos) {
      auto it = newPos.find(pos);
      return it == newPos.end() ? kNoFolder : it->second;
    };
    const uint32_t folderCount = static_cast<uint32_t>(folders_.size());
    const uint32_t fileCount = static_cast<uint32_t>(keptFiles_.size());
    image.assign(data_, data_ + s_.headerSize);
    std::vector<const KeptFolder*> byKey;
    byKey.reserve(folderCount);
    for (const KeptFolder& f : folders_) byKey.push_back(&f);
    std::sort(byKey.begin(), byKey.end(), [](const KeptFolder* a, const KeptFolder* b) { return a->key < b->key; });
    for (const KeptFolder* f : byKey) AppendU32(image, f->newPos);
    const size_t folderOffset = image.size();
    for (const KeptFolder& f : folders_) {
      uint8_t fixed[kRecordFixedSize];
      StoreU32(fixed, f.key);
      StoreU32(fixed + 4, f.parentPos == kNoFolder ? kNoFolder : renamed(f.parentPos));
      Store24(fixed + 8, PackWord(0, f.length, f.nonAscii ? kFolderNonAscii : 0));
      image.insert(image.end(), fixed, fixed + kRecordFixedSize);
      image.insert(image.end(), names_.begin() + f.nameAt, names_.begin() + f.nameAt + f.length);
    }
    const size_t fileOffset = image.size();
    for (const KeptFileRef& k : keptFiles_) StoreU32(fileBytes_.data() + k.at + 4, renamed(k.parentPos));
    image.insert(image.end(), fileBytes_.begin(), fileBytes_.end());
    if (image.size() > UINT32_MAX) return false;
    StoreU32(image.data() + kTotalSizeAt, static_cast<uint32_t>(image.size()));
    StoreU32(image.data() + kFolderOffsetAt, static_cast<uint32_t>(folderOffset));
    StoreU32(image.data() + kFileOffsetAt, static_cast<uint32_t>(fileOffset));
    StoreU32(image.data() + kFolderCountAt, folderCount);
    StoreU32(image.data() + kFileCountAt, fileCount);
    // No record kept (a query that finds nothing): one volume root keeps
    // the file well-formed and answers nothing.
    return folderCount > 0 || KeepOneRoot(image);
  }

  // The section's first folder and its chain.
  bool KeepOneRoot(std::vector<uint8_t>& image) {
    wanted_.assign(1, 0);
    return KeepChains() && !folders_.empty() && Build(image);
  }

  static void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    StoreU32(b, v);
    out.insert(out.end(), b, b + 4);
  }

  struct KeptFileRef {
    uint32_t at;         // into fileBytes_
    uint32_t parentPos;  // stored RecordPos
  };

  const uint8_t* data_;  // the file up to its file records
  const qvByteSource& source_;
  size_t chunk_;
  const Sections& s_;
  const std::vector<std::unique_ptr<QueryCut>>& cuts_;
  const qvTrigramIndex::View* view_ = nullptr;  // reading through a trigram index
  std::unordered_map<uint32_t, FolderBlock> folderBlocks_;
  uint64_t budget_;
  uint8_t name_[kPad + kLengthFieldMax + kCopy + kPad] = {};
  uint8_t filterRecord_[16] = {};  // flags, parent, empty name, extension id
  std::vector<Block> blocks_;
  std::vector<uint8_t> names_;
  std::vector<uint32_t> wanted_;  // positions of folders to keep
  uint64_t folderHits_ = 0;
  std::vector<KeptFolder> folders_;
  std::unordered_map<uint32_t, uint32_t> keptAt_;  // position -> folders_ index
  std::vector<KeptFileRef> keptFiles_;
  std::vector<uint32_t> keptFilePositions_;
  std::vector<uint8_t> fileBytes_;
};

// "extcase.db" for the kept files: u32 magic, u32 count, then per entry
// u32 position | u16 length | units, positions ascending. Entries of
// files not kept are passed over, the others renumbered.
bool ReduceExtCase(const uint8_t* data, size_t size, const std::vector<uint32_t>& kept, std::vector<uint8_t>& out) {
  if (size < 8) return false;
  const uint32_t count = LoadU32(data + 4);
  out.assign(data, data + 8);
  size_t at = 8;
  uint32_t written = 0;
  size_t k = 0;
  for (uint32_t e = 0; e < count; ++e) {
    if (size - at < 6) return false;
    uint32_t position = LoadU32(data + at);
    size_t bytes = 2u * LoadU16(data + at + 4);
    if (size - at - 6 < bytes) return false;
    while (k < kept.size() && kept[k] < position) ++k;
    if (k < kept.size() && kept[k] == position) {
      uint8_t head[6];
      StoreU32(head, static_cast<uint32_t>(k));
      std::memcpy(head + 4, data + at + 4, 2);
      out.insert(out.end(), head, head + 6);
      out.insert(out.end(), data + at + 6, data + at + 6 + bytes);
      ++written;
    }
    at += 6 + bytes;
  }
  if (at != size) return false;
  StoreU32(out.data() + 4, written);
  return true;
}

// The blocks of a trigram index that hold every file some query may keep:
// those with all the trigrams of its run and, where pinyin may match a
// query, those with a name of wide units that its first cut may pass.
// False where the index cannot narrow a query (a run under three bytes, a
// run that may reach into an extension) or is damaged.
// `kind` is qvTrigramIndex::kFolderKey for the folders' blocks, else 0.
bool CandidateBlocks(const qvTrigramIndex::View& view, const std::vector<std::unique_ptr<QueryCut>>& cuts,
                     uint32_t kind, std::vector<uint32_t>& out) {
  out.clear();
  std::vector<uint32_t> part, merged;
  auto add = [&] {
    merged.clear();
    std::set_union(out.begin(), out.end(), part.begin(), part.end(), std::back_inserter(merged));
    out.swap(merged);
  };
  for (const auto& cut : cuts) {
    const qvNameCandidates* test = cut->Candidates();
    if (!test || (kind && !cut->FindsFolders())) continue;  // keeps no record of this kind
    const size_t length = test->RunLength();
    if (length < 3 || test->ExtMatters()) return false;
    uint8_t run[QV_TERM_CAPACITY];
    for (size_t i = 0; i < length; ++i) run[i] = static_cast<uint8_t>(test->Run()[i]);
    if (!view.BlocksWithAll(run, length, kind, part)) return false;
    add();
    if (!test->AnyPinyin()) continue;
    std::vector<uint32_t> keys = {kind | qvTrigramIndex::kWideSurrogateKey};
    test->ForEachPinyinFirst([&](qvChar first, char letter) {
      if (first < 256) keys.push_back(kind | qvTrigramIndex::kWideAsciiKey | first);
      if (letter) keys.push_back(kind | qvTrigramIndex::kWideInitialKey | static_cast<uint8_t>(letter));
    });
    for (uint32_t key : keys) {
      if (!view.Blocks(key, part)) return false;
      add();
    }
  }
  return true;
}

Outcome FallBack(qvIndex& app) {
  app.ClearIndex();
  return Outcome::kFallBack;
}

// A saved file open for reading, with the size the seal gives it (or, for
// a file the seal does not cover, any size a saved file may have).
class OpenFile {
 public:
  bool Open(const std::string& path, uint64_t expectedSize) { return OpenAny(path) && size_ == expectedSize; }
  bool OpenAny(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size_ = static_cast<uint64_t>(st.st_size);
    return size_ <= UINT32_MAX;
  }
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Fd() const { return fd_; }
  uint64_t Size() const { return size_; }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// The index file summed as it is read, a chunk at a time.
bool SumMatchesSeal(const qvSavedSet& set, const qvByteSource& index) {
  qvSectionStream stream(index, 0, index.Size(), 1);
  qvDbSeal::Checksum sum;
  while (stream.Left() > 0) {
    if (!stream.Fill()) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(stream.Left(), stream.Buffered()));
    sum.Update(stream.Cursor(), n);
    stream.Advance(n);
  }
  return set.Check(qvDbSeal::kIndexFile, qvDbSeal::FileSum{index.Size(), sum.Final()}, kIndexFileName).ok();
}

bool ReadSealed(qvIndex& app, const qvSavedSet& set, qvDbSeal::File file, const char* name, qvDbIo::HeapBuffer& out) {
  int error = 0;
  if (qvDbIo::ReadWholeFile(set.Path(app, name), set.Rule(file, 0, UINT32_MAX), out, error) != qvDbIo::ReadResult::kOk)
    return false;
  return set.Check(file, out.Data(), out.Size(), name).ok();
}

// "extcase.db" as it comes: false when it cannot be had; null when there
// is none. It is asked for only once the index has been read.
using ExtCaseSource = std::function<bool(const uint8_t*& data, size_t& size)>;

// A trigram index to read the file records through, and "extcase.db"
// beside it, read in pieces (null when there is none).
struct Trigrams {
  const qvTrigramIndex::View* view = nullptr;
  const qvByteSource* extCase = nullptr;
};

Outcome LoadFromSource(qvIndex& app, const qvByteSource& index, const uint8_t* ext, size_t extSize,
                       const ExtCaseSource& extCaseSource, const std::vector<Query>& queries,
                       const qvMatchOptions& options, size_t chunk, const Trigrams& trigrams = {}) {
  app.ClearIndex();
  if (options.Designed() || queries.empty()) return FallBack(app);
  // The header first, then everything before the file records: the
  // folders are read again where a kept record names one.
  std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(index.Size(), kMaxHeaderSize)));
  Sections s;
  if (!index.ReadAt(0, head.data(), head.size()) ||
      !ReadSections(head.data(), head.size(), index.Size(), app.volumes, s))
    return FallBack(app);
  // Through a trigram index, the folders are read where they are needed.
  head.resize(trigrams.view ? s.headerSize : s.fileOffset);
  if (!index.ReadAt(0, head.data(), head.size())) return FallBack(app);
  // The extension table first: the cuts test extensions by their ids.
  if (!qvDatabase::LoadExtImage(app, ext, extSize).ok()) return FallBack(app);
  std::vector<std::unique_ptr<QueryCut>> cuts;
  for (const Query& q : queries) {
    cuts.push_back(std::make_unique<QueryCut>(app));
    if (!cuts.back()->Prepare(app, q, options)) return FallBack(app);
  }
  std::vector<uint8_t> image;
  Reader reader(head, index, s, cuts, chunk);
  if (const qvTrigramIndex::View* view = trigrams.view) {
    std::vector<uint32_t> folderBlocks, fileBlocks;
    if (view->IndexSize() != index.Size() || view->FileSectionAt() != s.fileOffset ||
        view->FolderSectionAt() != s.folderOffset || view->FileCount() != s.fileCount ||
        !CandidateBlocks(*view, cuts, qvTrigramIndex::kFolderKey, folderBlocks) ||
        !CandidateBlocks(*view, cuts, 0, fileBlocks) || !reader.RunBlocks(*view, folderBlocks, fileBlocks, image))
      return FallBack(app);
  } else if (!reader.Run(image)) {
    return FallBack(app);
  }
  cuts.clear();
  std::vector<uint8_t> keptCase;
  bool withCase = false;
  if (trigrams.view) {
    withCase = trigrams.extCase != nullptr;
    if (withCase && !trigrams.view->ReduceExtCase(*trigrams.extCase, reader.KeptFilePositions(), keptCase))
      return FallBack(app);
  } else {
    const uint8_t* extCase = nullptr;
    size_t extCaseSize = 0;
    if (!extCaseSource(extCase, extCaseSize)) return FallBack(app);
    withCase = extCase != nullptr;
    if (extCase && !ReduceExtCase(extCase, extCaseSize, reader.KeptFilePositions(), keptCase)) return FallBack(app);
  }
  if (!qvDatabase::LoadIndexImage(app, image.data(), image.size()).ok()) return FallBack(app);
  if (!qvDatabase::LoadExtImage(app, ext, extSize).ok()) return FallBack(app);
  if (withCase && !qvExtCaseFile::LoadImage(app, keptCase.data(), keptCase.size()).ok()) return FallBack(app);
  return Outcome::kLoaded;
}

}  // namespace

Outcome LoadImagesForQueries(qvIndex& app, const uint8_t* index, size_t indexSize, const uint8_t* ext,
                             size_t extSize, const uint8_t* extCase, size_t extCaseSize,
                             const std::vector<Query>& queries, const qvMatchOptions& options, size_t chunk,
                             const uint8_t* trigrams, size_t trigramsSize) {
  qvImageByteSource source(index, indexSize);
  auto extCaseImage = [&](const uint8_t*& data, size_t& size) {
    data = extCase;
    size = extCaseSize;
    return true;
  };
  if (!trigrams) return LoadFromSource(app, source, ext, extSize, extCaseImage, queries, options, chunk);
  const qvImageByteSource trigramSource(trigrams, trigramsSize), extCaseSource(extCase, extCaseSize);
  qvTrigramIndex::View view;
  if (!view.Open(trigramSource, nullptr)) return FallBack(app);
  return LoadFromSource(app, source, ext, extSize, extCaseImage, queries, options, chunk,
                        {&view, extCase ? &extCaseSource : nullptr});
}

namespace {

bool StampOfPath(const std::string& path, qvTrigramIndex::FileStamp& stamp) {
  OpenFile file;
  return file.OpenAny(path) && qvTrigramIndex::StampOf(file.Fd(), stamp);
}

bool SameStamp(const qvTrigramIndex::FileStamp& a, const qvTrigramIndex::FileStamp& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modifiedNs == b.modifiedNs &&
         a.changedNs == b.changedNs;
}

qvTrigramIndex::Source SourceOf(const qvSavedSet& set, const qvTrigramIndex::FileStamp (&stamps)[qvDbSeal::kFileCount]) {
  qvTrigramIndex::Source source;
  qvDbSeal::Build(set.Seal(), source.seal);
  std::copy(std::begin(stamps), std::end(stamps), source.files);
  source.pinyinTable = qvTrigramIndex::PinyinTableId();
  return source;
}

// Through the data folder's trigram index, when it was built from this
// very set: then neither "ntfsqs.db" nor "extcase.db" is read whole, and
// neither is summed; its stamps stand for the sums it was built after.
// `current` tells whether there is such an index.
Outcome ReadThroughTrigrams(qvIndex& app, const qvSavedSet& set, const OpenFile& index,
                            const qvByteSource& indexSource, const qvDbIo::HeapBuffer& ext,
                            const std::vector<Query>& queries, const qvMatchOptions& options, bool& current) {
  current = false;
  OpenFile trigrams, extCase;
  qvTrigramIndex::FileStamp stamps[qvDbSeal::kFileCount];
  if (!trigrams.OpenAny(set.Path(app, qvTrigramIndex::kFileName)) ||
      !qvTrigramIndex::StampOf(index.Fd(), stamps[qvDbSeal::kIndexFile]) ||
      !StampOfPath(set.Path(app, kExtFileName), stamps[qvDbSeal::kExtFile]) ||
      !extCase.Open(set.Path(app, qvExtCaseFile::kFileName), set.Seal().files[qvDbSeal::kExtCaseFile].size) ||
      !qvTrigramIndex::StampOf(extCase.Fd(), stamps[qvDbSeal::kExtCaseFile]))
    return FallBack(app);
  const qvTrigramIndex::Source expected = SourceOf(set, stamps);
  const qvFileByteSource trigramSource(trigrams.Fd(), trigrams.Size());
  qvTrigramIndex::View view;
  if (!view.Open(trigramSource, &expected)) return FallBack(app);
  current = true;
  const qvFileByteSource extCaseSource(extCase.Fd(), extCase.Size());
  auto unused = [](const uint8_t*&, size_t&) { return false; };
  return LoadFromSource(app, indexSource, ext.Data(), ext.Size(), unused, queries, options,
                        qvSectionStream::kDefaultChunk, {&view, &extCaseSource});
}

}  // namespace

Outcome LoadForQueries(qvIndex& app, IQvSearchNotify* sink, const std::vector<Query>& queries,
                       const qvMatchOptions& options, bool* trigramsWanted) {
  if (trigramsWanted) *trigramsWanted = false;
  if (sink) sink->OnStatus(-1, "正在加载数据库...");
  app.ClearIndex();
  qvDbIo::FolderLock lock(app, qvDbIo::FolderLock::kShared);
  // Only the current set, whole and sealed; anything else is the designed
  // load's to find and report.
  qvSavedSet set = qvSavedSet::Open(app, qvSavedSet::kCurrent);
  if (!set.SealStatus().ok()) return FallBack(app);
  OpenFile index;
  const uint64_t indexSize = set.Seal().files[qvDbSeal::kIndexFile].size;
  if (!index.Open(set.Path(app, kIndexFileName), indexSize)) return FallBack(app);
  qvDbIo::HeapBuffer ext(app.heap), extCase(app.heap);
  if (!ReadSealed(app, set, qvDbSeal::kExtFile, kExtFileName, ext)) return FallBack(app);
  const qvFileByteSource indexSource(index.Fd(), indexSize);
  bool indexed = false;
  if (ReadThroughTrigrams(app, set, index, indexSource, ext, queries, options, indexed) == Outcome::kLoaded)
    return Outcome::kLoaded;
  // A second core sums the index file while this one reads it. Every
  // field read is checked as it is read, but only the sum tells a name or a
  // parent changed in place from the saved one. "extcase.db", needed only
  // once the index is read, is read and summed by whichever core is free
  // first: the sum takes longer than the read on trees of long names, the
  // read longer on trees of many short ones.
  std::atomic<bool> extCaseTaken{false};
  auto readExtCase = [&] { return ReadSealed(app, set, qvDbSeal::kExtCaseFile, qvExtCaseFile::kFileName, extCase); };
  std::promise<bool> extCasePromise;
  std::future<bool> extCaseRead = extCasePromise.get_future();
  std::future<bool> sealed = std::async(std::launch::async, [&] {
    bool whole = SumMatchesSeal(set, indexSource);
    if (!extCaseTaken.exchange(true)) extCasePromise.set_value(readExtCase());
    return whole;
  });
  auto extCaseFromFile = [&](const uint8_t*& data, size_t& size) {
    if (!(extCaseTaken.exchange(true) ? extCaseRead.get() : readExtCase())) return false;
    data = extCase.Data();
    size = extCase.Size();
    return true;
  };
  Outcome outcome = LoadFromSource(app, indexSource, ext.Data(), ext.Size(), extCaseFromFile, queries, options,
                                   qvSectionStream::kDefaultChunk);
  // Not the sealed file: the designed load reports the damage.
  if (!sealed.get()) return FallBack(app);
  if (outcome != Outcome::kLoaded) return FallBack(app);
  if (trigramsWanted) *trigramsWanted = !indexed;
  return outcome;
}

bool WriteTrigramIndex(qvIndex& app, int64_t settledNs) {
  qvDbIo::FolderLock lock(app, qvDbIo::FolderLock::kShared);
  qvSavedSet set = qvSavedSet::Open(app, qvSavedSet::kCurrent);
  if (!set.SealStatus().ok()) return false;
  const char* names[qvDbSeal::kFileCount] = {kIndexFileName, kExtFileName, qvExtCaseFile::kFileName};
  qvTrigramIndex::FileStamp before[qvDbSeal::kFileCount], after[qvDbSeal::kFileCount];
  for (int f = 0; f < qvDbSeal::kFileCount; ++f)
    if (!StampOfPath(set.Path(app, names[f]), before[f])) return false;
  qvDbIo::HeapBuffer index(app.heap), extCase(app.heap);
  if (!ReadSealed(app, set, qvDbSeal::kIndexFile, kIndexFileName, index) ||
      !ReadSealed(app, set, qvDbSeal::kExtCaseFile, qvExtCaseFile::kFileName, extCase))
    return false;
  // The files read are the ones stamped, and each has been left alone long
  // enough for a later change to show in its times.
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t nowNs = int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
  for (int f = 0; f < qvDbSeal::kFileCount; ++f)
    if (!StampOfPath(set.Path(app, names[f]), after[f]) || !SameStamp(before[f], after[f]) ||
        nowNs - before[f].changedNs < settledNs || nowNs - before[f].modifiedNs < settledNs)
      return false;
  std::vector<uint8_t> bytes;
  if (!qvTrigramIndex::Build(index.Data(), index.Size(), extCase.Data(), extCase.Size(), SourceOf(set, before), bytes))
    return false;
  // Written whole beside the set, then put in place: a reader sees the
  // old index or the new one.
  const std::string path = set.Path(app, qvTrigramIndex::kFileName);
  const std::string temp = path + ".tmp" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = true;
  for (size_t at = 0; written && at < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) at += static_cast<size_t>(n);
  }
  written = ::fsync(fd) == 0 && written;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace qvOfflineReader
