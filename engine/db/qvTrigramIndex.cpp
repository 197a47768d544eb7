#include "qvTrigramIndex.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <unordered_map>

#include "qvDatabaseFormat.h"
#include "qvPackedName.h"
#include "qvPinyin.h"
#include "qvRecords.h"
#include "qvSectionStream.h"

namespace qvTrigramIndex {

namespace {

using namespace qvDbFormat;

constexpr uint32_t kMagic = 0x47545651;  // "QVTG"
constexpr uint32_t kVersion = 1;

// The header: magic, version, the source, then the counts and sizes.
constexpr size_t kOwnSourceAt = 8;
constexpr size_t kOwnFileCountAt = kOwnSourceAt + kSourceSize;
constexpr size_t kOwnBlockCountAt = kOwnFileCountAt + 4;
constexpr size_t kOwnKeyCountAt = kOwnBlockCountAt + 4;
constexpr size_t kOwnExtCaseCountAt = kOwnKeyCountAt + 4;
constexpr size_t kOwnExtCaseMarksAt = kOwnExtCaseCountAt + 4;
constexpr size_t kOwnFileSectionAt = kOwnExtCaseMarksAt + 4 + 4;  // after a reserved u32
constexpr size_t kOwnIndexSizeAt = kOwnFileSectionAt + 8;
constexpr size_t kOwnNamesSizeAt = kOwnIndexSizeAt + 8;
constexpr size_t kOwnListsSizeAt = kOwnNamesSizeAt + 8;
constexpr size_t kOwnFolderSectionAt = kOwnListsSizeAt + 8;
constexpr size_t kOwnFolderBlockCountAt = kOwnFolderSectionAt + 8;
constexpr size_t kOwnHeaderSize = kOwnFolderBlockCountAt + 4 + 4;  // and a reserved u32

constexpr size_t kBlockEntrySize = 16;
constexpr uint32_t kKeySample = 64;
constexpr size_t kKeyEntrySize = 16;
constexpr size_t kMarkSize = 8;

void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
uint64_t Get64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

void PutSource(const Source& s, uint8_t* out) {
  std::memcpy(out, s.seal, qvDbSeal::kSize);
  uint8_t* at = out + qvDbSeal::kSize;
  for (const FileStamp& f : s.files) {
    Put64(at, f.device);
    Put64(at + 8, f.inode);
    Put64(at + 16, f.size);
    Put64(at + 24, static_cast<uint64_t>(f.modifiedNs));
    Put64(at + 32, static_cast<uint64_t>(f.changedNs));
    at += 40;
  }
  Put64(at, s.pinyinTable);
}

uint32_t CeilDiv(uint32_t records, uint32_t per) { return records / per + (records % per != 0); }

// One key's block list as it is built.
struct List {
  uint32_t last = UINT32_MAX;  // the block added last
  uint32_t count = 0;
  std::vector<uint8_t> bytes;

  void Add(uint32_t block) {
    if (block == last) return;
    uint32_t delta = block - last;  // from -1 for the first
    last = block;
    ++count;
    for (; delta >= 0x80; delta >>= 7) bytes.push_back(static_cast<uint8_t>(delta | 0x80));
    bytes.push_back(static_cast<uint8_t>(delta));
  }
};

// A block as it is built.
struct BuiltBlock {
  uint32_t recordAt, nameAt, length;
};

// What ties a block's first name to the record it names: a name or an
// offset damaged in the index would otherwise put a prefix no record has
// before names read from the file.
uint32_t BlockCheck(uint32_t recordAt, const uint8_t* name, uint32_t length) {
  uint8_t at[4];
  StoreU32(at, recordAt);
  qvDbSeal::Checksum sum;
  sum.Update(at, 4);
  sum.Update(name, length);
  return static_cast<uint32_t>(sum.Final());
}

bool Marked(const uint64_t* bits, qvChar u) { return (bits[u >> 6] >> (u & 63)) & 1; }

// The keys a pinyin term's first cut asks of a name with wide units, read
// unit by unit as that cut reads it.
template <class Add>
void AddWideKeys(const uint8_t* bytes, size_t length, const qvPinyinTable& table, Add add) {
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = bytes[i];
    if (b != 0x81) {
      add(kWideAsciiKey | qvFoldUnit(b));
      continue;
    }
    if (i + 2 >= length) break;
    const qvChar u = static_cast<qvChar>(bytes[i + 1] | (bytes[i + 2] << 8));
    i += 2;
    if (u >= 0xD800 && u < 0xE000) {
      add(kWideSurrogateKey);
      continue;
    }
    if (!table.Valid()) continue;
    for (char letter = 'a'; letter <= 'z'; ++letter)
      if (Marked(table.BmpInitials(letter), u)) add(kWideInitialKey | static_cast<uint32_t>(letter));
  }
}

}  // namespace

bool StampOf(int fd, FileStamp& stamp) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.modifiedNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changedNs = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
  return true;
}

uint64_t PinyinTableId() { return QV_PINYIN_TABLE_ID; }

bool Build(const uint8_t* index, size_t indexSize, const uint8_t* extCase, size_t extCaseSize, const Source& source,
           std::vector<uint8_t>& out) {
  if (indexSize < kMinHeaderSize || indexSize > UINT32_MAX || LoadU32(index + kTotalSizeAt) != indexSize)
    return false;
  const uint32_t folderOffset = LoadU32(index + kFolderOffsetAt);
  const uint32_t folderCount = LoadU32(index + kFolderCountAt);
  const uint32_t fileOffset = LoadU32(index + kFileOffsetAt);
  const uint32_t fileCount = LoadU32(index + qvDbFormat::kFileCountAt);
  if (folderOffset < kMinHeaderSize || folderOffset > fileOffset || fileOffset > indexSize || folderCount == 0)
    return false;

  std::vector<BuiltBlock> folderBlocks, blocks;
  std::vector<uint8_t> names;
  std::unordered_map<uint32_t, List> lists;
  lists.reserve(1 << 16);
  const qvPinyinTable& table = qvPinyinTable::Get();
  uint8_t name[kLengthFieldMax + 1];
  uint8_t folded[kLengthFieldMax + 1];
  // A name's keys, each with `kind` (kFolderKey or 0) set, for `block`.
  auto addKeys = [&](uint32_t length, bool wide, uint32_t kind, uint32_t block) {
    for (uint32_t i = 0; i < length; ++i) folded[i] = FoldByte(name[i]);
    for (uint32_t i = 0; i + 2 < length; ++i) lists[kind | TrigramKey(folded + i)].Add(block);
    if (wide) AddWideKeys(name, length, table, [&](uint32_t key) { lists[kind | key].Add(block); });
  };

  // Folders by the block of the loader's pool they will take: the blocks
  // the reader finds a folder in from its position.
  PoolSimulator pool;
  uint32_t prevLength = 0;
  size_t at = folderOffset;
  RecordHead h;
  for (uint32_t i = 0; i < folderCount; ++i) {
    const uint8_t* in = index + at;
    if (!ReadFolderHead(in, fileOffset - at, prevLength, h)) return false;
    std::memcpy(name + h.p, in + kRecordFixedSize, h.sfx);
    const uint32_t pos = pool.Next(static_cast<uint32_t>(DirRecord::kHeaderSize) + h.length);
    if (pos == kNoFolder) return false;
    if (PosBlock(pos) == folderBlocks.size()) {
      folderBlocks.push_back({static_cast<uint32_t>(at), static_cast<uint32_t>(names.size()), h.length});
      names.insert(names.end(), name, name + h.length);
    }
    addKeys(h.length, (h.word & kFolderNonAscii) != 0, kFolderKey, PosBlock(pos));
    prevLength = h.length;
    at += kRecordFixedSize + h.sfx;
  }
  if (at != fileOffset) return false;

  prevLength = 0;
  for (uint32_t j = 0; j < fileCount; ++j) {
    const uint8_t* in = index + at;
    if (!ReadFileHead(in, indexSize - at, prevLength, h)) return false;
    std::memcpy(name + h.p, in + kRecordFixedSize, h.sfx);
    const uint32_t block = j / kBlockRecords;
    if (j % kBlockRecords == 0) {
      blocks.push_back({static_cast<uint32_t>(at - fileOffset), static_cast<uint32_t>(names.size()), h.length});
      names.insert(names.end(), name, name + h.length);
    }
    addKeys(h.length, (h.flags & FileRecord::kNonAscii) != 0, 0, block);
    prevLength = h.length;
    at += kRecordFixedSize + h.sfx + h.width;
  }
  if (at != indexSize) return false;

  // Every kExtCaseStride-th entry of "extcase.db", checked as its loader
  // reads it.
  std::vector<uint32_t> marks;
  uint32_t extCaseCount = 0;
  if (extCase) {
    if (extCaseSize < 8 || extCaseSize > UINT32_MAX) return false;
    extCaseCount = LoadU32(extCase + 4);
    size_t e = 8;
    for (uint32_t k = 0; k < extCaseCount; ++k) {
      if (extCaseSize - e < 6) return false;
      const size_t bytes = 2u * LoadU16(extCase + e + 4);
      if (extCaseSize - e - 6 < bytes) return false;
      if (k % kExtCaseStride == 0) {
        marks.push_back(LoadU32(extCase + e));
        marks.push_back(static_cast<uint32_t>(e));
      }
      e += 6 + bytes;
    }
    if (e != extCaseSize) return false;
  }

  std::vector<uint32_t> keys;
  keys.reserve(lists.size());
  size_t listsSize = 0;
  for (const auto& [key, list] : lists) {
    keys.push_back(key);
    listsSize += list.bytes.size();
  }
  std::sort(keys.begin(), keys.end());
  if (listsSize > UINT32_MAX) return false;

  out.assign(kOwnHeaderSize, 0);
  StoreU32(out.data(), kMagic);
  StoreU32(out.data() + 4, kVersion);
  PutSource(source, out.data() + kOwnSourceAt);
  StoreU32(out.data() + kOwnFileCountAt, fileCount);
  StoreU32(out.data() + kOwnBlockCountAt, static_cast<uint32_t>(blocks.size()));
  StoreU32(out.data() + kOwnKeyCountAt, static_cast<uint32_t>(keys.size()));
  StoreU32(out.data() + kOwnExtCaseCountAt, extCaseCount);
  StoreU32(out.data() + kOwnExtCaseMarksAt, static_cast<uint32_t>(marks.size() / 2));
  Put64(out.data() + kOwnFileSectionAt, fileOffset);
  Put64(out.data() + kOwnIndexSizeAt, indexSize);
  Put64(out.data() + kOwnNamesSizeAt, names.size());
  Put64(out.data() + kOwnListsSizeAt, listsSize);
  Put64(out.data() + kOwnFolderSectionAt, folderOffset);
  StoreU32(out.data() + kOwnFolderBlockCountAt, static_cast<uint32_t>(folderBlocks.size()));
  auto put32 = [&](uint32_t v) {
    uint8_t b[4];
    StoreU32(b, v);
    out.insert(out.end(), b, b + 4);
  };
  for (size_t i = 0; i < keys.size(); i += kKeySample) put32(keys[i]);
  for (const auto* table : {&blocks, &folderBlocks})
    for (const BuiltBlock& b : *table) {
      put32(b.recordAt);
      put32(b.nameAt);
      put32(b.length);
      put32(BlockCheck(b.recordAt, names.data() + b.nameAt, b.length));
    }
  out.insert(out.end(), names.begin(), names.end());
  uint32_t listAt = 0;
  for (uint32_t key : keys) {
    const List& list = lists[key];
    put32(key);
    put32(list.count);
    put32(listAt);
    put32(static_cast<uint32_t>(list.bytes.size()));
    listAt += static_cast<uint32_t>(list.bytes.size());
  }
  for (uint32_t key : keys) {
    const List& list = lists[key];
    out.insert(out.end(), list.bytes.begin(), list.bytes.end());
  }
  for (uint32_t v : marks) put32(v);
  return true;
}

// --- reading ------------------------------------------------------------------

bool View::Open(const qvByteSource& file, const Source* expected) {
  file_ = &file;
  uint8_t h[kOwnHeaderSize];
  if (file.Size() < kOwnHeaderSize || !file.ReadAt(0, h, kOwnHeaderSize)) return false;
  if (LoadU32(h) != kMagic || LoadU32(h + 4) != kVersion) return false;
  if (expected) {
    uint8_t want[kSourceSize];
    PutSource(*expected, want);
    if (std::memcmp(want, h + kOwnSourceAt, kSourceSize) != 0) return false;
  }
  fileCount_ = LoadU32(h + kOwnFileCountAt);
  blockCount_ = LoadU32(h + kOwnBlockCountAt);
  keyCount_ = LoadU32(h + kOwnKeyCountAt);
  extCaseCount_ = LoadU32(h + kOwnExtCaseCountAt);
  markCount_ = LoadU32(h + kOwnExtCaseMarksAt);
  fileSectionAt_ = Get64(h + kOwnFileSectionAt);
  indexSize_ = Get64(h + kOwnIndexSizeAt);
  namesSize_ = Get64(h + kOwnNamesSizeAt);
  listsSize_ = Get64(h + kOwnListsSizeAt);
  folderSectionAt_ = Get64(h + kOwnFolderSectionAt);
  folderBlockCount_ = LoadU32(h + kOwnFolderBlockCountAt);
  if (folderSectionAt_ < kMinHeaderSize || folderSectionAt_ > fileSectionAt_ || folderBlockCount_ == 0 ||
      folderBlockCount_ > PoolSimulator::kMaxBlocks || fileSectionAt_ > indexSize_ || indexSize_ > UINT32_MAX || blockCount_ != CeilDiv(fileCount_, kBlockRecords) ||
      markCount_ != CeilDiv(extCaseCount_, kExtCaseStride) || namesSize_ > UINT32_MAX || listsSize_ > UINT32_MAX)
    return false;
  // The sections' sizes, each bounded, must add up to the file's.
  const uint32_t sampleCount = CeilDiv(keyCount_, kKeySample);
  blocksAt_ = kOwnHeaderSize + uint64_t{sampleCount} * 4;
  folderBlocksAt_ = blocksAt_ + uint64_t{blockCount_} * kBlockEntrySize;
  namesAt_ = folderBlocksAt_ + uint64_t{folderBlockCount_} * kBlockEntrySize;
  keysAt_ = namesAt_ + namesSize_;
  listsAt_ = keysAt_ + uint64_t{keyCount_} * kKeyEntrySize;
  marksAt_ = listsAt_ + listsSize_;
  if (marksAt_ + uint64_t{markCount_} * kMarkSize != file.Size()) return false;
  std::vector<uint8_t> samples(sampleCount * size_t{4});
  if (!file.ReadAt(kOwnHeaderSize, samples.data(), samples.size())) return false;
  samples_.resize(sampleCount);
  for (uint32_t i = 0; i < sampleCount; ++i) {
    samples_[i] = LoadU32(samples.data() + 4 * i);
    if (i > 0 && samples_[i] <= samples_[i - 1]) return false;
  }
  return true;
}

bool View::FindKey(uint32_t key, KeyEntry& found) const {
  found = {};
  auto it = std::upper_bound(samples_.begin(), samples_.end(), key);
  if (it == samples_.begin()) return true;
  const uint32_t first = static_cast<uint32_t>(it - samples_.begin() - 1) * kKeySample;
  const uint32_t n = std::min(kKeySample, keyCount_ - first);
  uint8_t bytes[kKeySample * kKeyEntrySize];
  if (!file_->ReadAt(keysAt_ + uint64_t{first} * kKeyEntrySize, bytes, n * kKeyEntrySize)) return false;
  uint32_t before = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* k = bytes + i * kKeyEntrySize;
    const KeyEntry e = {LoadU32(k), LoadU32(k + 4), LoadU32(k + 8), LoadU32(k + 12)};
    // The sample is the chunk's first key; the keys ascend.
    if ((i == 0 ? e.key != samples_[first / kKeySample] : e.key <= before) || e.count == 0 ||
        e.count > BlocksOf(e.key) || e.bytes < e.count || e.bytes > 5ull * e.count || e.at > listsSize_ ||
        listsSize_ - e.at < e.bytes)
      return false;
    if (e.key == key) {
      found = e;
      return true;
    }
    if (e.key > key) return true;
    before = e.key;
  }
  return true;
}

bool View::ReadList(const KeyEntry& e, std::vector<uint32_t>& out) const {
  out.clear();
  if (e.count == 0) return true;
  std::vector<uint8_t> bytes(e.bytes);
  if (!file_->ReadAt(listsAt_ + e.at, bytes.data(), bytes.size())) return false;
  out.reserve(e.count);
  uint64_t block = UINT32_MAX;  // -1 as the lists count it
  for (size_t i = 0; i < bytes.size();) {
    uint64_t delta = 0;
    for (int shift = 0;; shift += 7) {
      if (i == bytes.size() || shift > 28) return false;
      const uint8_t b = bytes[i++];
      delta |= uint64_t{b & 0x7Fu} << shift;
      if (!(b & 0x80)) break;
    }
    block = (block + delta) & 0xFFFFFFFFull;
    if (delta == 0 || block >= BlocksOf(e.key) || (!out.empty() && block <= out.back())) return false;
    out.push_back(static_cast<uint32_t>(block));
  }
  return out.size() == e.count;
}

bool View::Blocks(uint32_t key, std::vector<uint32_t>& out) const {
  KeyEntry e;
  out.clear();
  return FindKey(key, e) && ReadList(e, out);
}

bool View::BlocksWithAll(const uint8_t* run, size_t length, uint32_t kind, std::vector<uint32_t>& out) const {
  out.clear();
  std::vector<KeyEntry> entries;
  for (size_t i = 0; i + 2 < length; ++i) {
    const uint32_t key = kind | TrigramKey(run + i);
    if (std::any_of(entries.begin(), entries.end(), [&](const KeyEntry& e) { return e.key == key; })) continue;
    KeyEntry e;
    if (!FindKey(key, e)) return false;
    if (e.count == 0) return true;  // no block holds this one
    entries.push_back(e);
  }
  // The shortest list first: each further one can only shorten it.
  std::sort(entries.begin(), entries.end(), [](const KeyEntry& a, const KeyEntry& b) { return a.count < b.count; });
  std::vector<uint32_t> list, kept;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!ReadList(entries[i], i == 0 ? out : list)) return false;
    if (i > 0) {
      kept.clear();
      std::set_intersection(out.begin(), out.end(), list.begin(), list.end(), std::back_inserter(kept));
      out.swap(kept);
    }
    if (out.empty()) break;
  }
  return true;
}

bool View::ReadBlocks(uint32_t first, uint32_t last, BlockRun& run) const {
  if (first > last || last >= blockCount_) return false;
  // The entries of the run and of the block after it, whose first record
  // ends the run.
  const uint32_t n = last - first + 1 + (last + 1 < blockCount_ ? 1 : 0);
  std::vector<uint8_t> bytes(n * kBlockEntrySize);
  if (!file_->ReadAt(blocksAt_ + uint64_t{first} * kBlockEntrySize, bytes.data(), bytes.size())) return false;
  const uint64_t section = indexSize_ - fileSectionAt_;
  uint32_t before = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t recordAt = LoadU32(bytes.data() + i * kBlockEntrySize);
    if ((first + i == 0 ? recordAt != 0 : i > 0 && recordAt <= before) || recordAt >= section) return false;
    before = recordAt;
  }
  const uint32_t nameAt = LoadU32(bytes.data() + 4), length = LoadU32(bytes.data() + 8);
  if (length > kLengthFieldMax || nameAt > namesSize_ || namesSize_ - nameAt < length) return false;
  run.name.resize(length);
  if (length && !file_->ReadAt(namesAt_ + nameAt, run.name.data(), length)) return false;
  if (BlockCheck(LoadU32(bytes.data()), run.name.data(), length) != LoadU32(bytes.data() + 12)) return false;
  run.from = fileSectionAt_ + LoadU32(bytes.data());
  run.to = last + 1 < blockCount_ ? fileSectionAt_ + before : indexSize_;
  return true;
}

bool View::ReadFolderBlock(uint32_t b, BlockRun& run) const {
  if (b >= folderBlockCount_) return false;
  const uint32_t n = b + 1 < folderBlockCount_ ? 2 : 1;
  uint8_t bytes[2 * kBlockEntrySize];
  if (!file_->ReadAt(folderBlocksAt_ + uint64_t{b} * kBlockEntrySize, bytes, n * kBlockEntrySize)) return false;
  const uint32_t at = LoadU32(bytes), nameAt = LoadU32(bytes + 4), length = LoadU32(bytes + 8);
  const uint64_t next = n == 2 ? LoadU32(bytes + kBlockEntrySize) : fileSectionAt_;
  if ((b == 0 && at != folderSectionAt_) || at < folderSectionAt_ || next <= at || next > fileSectionAt_ ||
      length > kLengthFieldMax || nameAt > namesSize_ || namesSize_ - nameAt < length)
    return false;
  run.name.resize(length);
  if (length && !file_->ReadAt(namesAt_ + nameAt, run.name.data(), length)) return false;
  if (BlockCheck(at, run.name.data(), length) != LoadU32(bytes + 12)) return false;
  run.from = at;
  run.to = next;
  return true;
}

// The marks are trusted only as far as the file bears them out: the first
// must name the file's first entry, and a segment read for a position must
// start with its mark's entry, parse whole up to the next mark, and be
// followed by the next mark's entry. Such a segment holds every entry of
// the positions between the two marks, whatever the other marks say; a
// wrong mark would otherwise hide an entry, and a file would be shown
// with its extension in the wrong case.
bool View::ReduceExtCase(const qvByteSource& extCase, const std::vector<uint32_t>& positions,
                         std::vector<uint8_t>& out) const {
  uint8_t head[12];
  const size_t headBytes = extCaseCount_ > 0 ? 12 : 8;
  if (extCase.Size() < headBytes || !extCase.ReadAt(0, head, headBytes) || LoadU32(head + 4) != extCaseCount_)
    return false;
  out.assign(head, head + 8);
  std::vector<ExtCaseMark> marks(markCount_);
  if (!positions.empty() && markCount_ > 0) {
    std::vector<uint8_t> bytes(markCount_ * kMarkSize);
    if (!file_->ReadAt(marksAt_, bytes.data(), bytes.size())) return false;
    for (uint32_t i = 0; i < markCount_; ++i) {
      ExtCaseMark& m = marks[i];
      m = {LoadU32(bytes.data() + i * kMarkSize), LoadU32(bytes.data() + i * kMarkSize + 4)};
      if (i == 0 ? m.at != 8 || m.position != LoadU32(head + 8)
                 : m.position <= marks[i - 1].position || m.at <= marks[i - 1].at)
        return false;
    }
  }
  // The entries of the segment held, by where they begin in `segment`.
  struct Entry {
    uint32_t position, at, bytes;
  };
  std::vector<Entry> entries;
  std::vector<uint8_t> segment;
  size_t held = SIZE_MAX;  // the mark whose entries `segment` holds
  uint32_t written = 0;
  for (size_t k = 0; k < positions.size(); ++k) {
    const uint32_t position = positions[k];
    auto it = std::upper_bound(marks.begin(), marks.end(), position,
                               [](uint32_t p, const ExtCaseMark& m) { return p < m.position; });
    if (it == marks.begin()) continue;  // before the first entry
    const size_t m = static_cast<size_t>(it - marks.begin()) - 1;
    if (m != held) {
      const bool last = m + 1 == marks.size();
      const uint64_t from = marks[m].at;
      const uint64_t to = last ? extCase.Size() : marks[m + 1].at;
      const uint64_t readTo = last ? to : to + 4;  // and the next mark's position
      if (readTo > extCase.Size() || to <= from) return false;
      segment.resize(static_cast<size_t>(readTo - from));
      if (!extCase.ReadAt(from, segment.data(), segment.size())) return false;
      entries.clear();
      const size_t size = static_cast<size_t>(to - from);
      for (size_t at = 0; at < size;) {
        if (size - at < 6 || entries.size() == kExtCaseStride) return false;
        const uint32_t p = LoadU32(segment.data() + at);
        const uint32_t bytes = 2u * LoadU16(segment.data() + at + 4);
        if (size - at - 6 < bytes || (entries.empty() ? p != marks[m].position : p <= entries.back().position))
          return false;
        entries.push_back({p, static_cast<uint32_t>(at), bytes});
        at += 6 + bytes;
      }
      if (!last && LoadU32(segment.data() + size) != marks[m + 1].position) return false;
      held = m;
    }
    auto found = std::lower_bound(entries.begin(), entries.end(), position,
                                  [](const Entry& e, uint32_t p) { return e.position < p; });
    if (found == entries.end() || found->position != position) continue;
    uint8_t entry[6];
    StoreU32(entry, static_cast<uint32_t>(k));
    std::memcpy(entry + 4, segment.data() + found->at + 4, 2);
    out.insert(out.end(), entry, entry + 6);
    out.insert(out.end(), segment.data() + found->at + 6, segment.data() + found->at + 6 + found->bytes);
    ++written;
  }
  StoreU32(out.data() + 4, written);
  return true;
}

}  // namespace qvTrigramIndex
