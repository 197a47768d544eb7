// Saving the index at shutdown: "ntfsqs.db", "ext.db", "extcase.db" and
// the seal that binds them.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "qvDatabase.h"
#include "qvDatabaseChains.h"
#include "qvDatabaseCommit.h"
#include "qvDatabaseFormat.h"
#include "qvDatabaseIo.h"
#include "qvDatabasePosMap.h"
#include "qvErrorBox.h"
#include "qvExtCaseFile.h"
#include "qvIndex.h"
#include "qvWriteMgr.h"

namespace qvDatabase {

namespace {

using namespace qvDbFormat;
using qvParentChains::kBad;
using qvParentChains::kGood;
using qvParentChains::kUnknown;

// Which folders are saved, and where the loader will place each. A folder
// is saved when it is in the folder map under its own key, belongs to a
// volume the header lists, and its parents lead to a volume root through
// saved folders; anything else could not be linked again by the loader.
// Files under a folder that is not saved are left out too.
class FolderPlan {
 public:
  explicit FolderPlan(const qvIndex& app) : app_(app), index_(app.folderList.Count()) {
    for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot) held_[slot] = app.volumes.indexed[slot];
  }

  bool Build() {
    CollectFolders();
    MarkMapped();
    JudgeParents();
    return AssignPositions();
  }

  // The saved folder records in folder-list order, and their numbers in
  // the map's key order.
  const std::vector<const uint8_t*>& Folders() const { return folders_; }
  const std::vector<uint32_t>& KeyOrder() const { return keyOrder_; }
  bool IsSaved(uint32_t i) const { return state_[i] == kGood; }
  uint32_t Pos(uint32_t i) const { return pos_[i]; }
  uint32_t ParentPos(uint32_t i) const { return parent_[i] == kNoParent ? kNoFolder : pos_[parent_[i]]; }
  uint32_t SavedCount() const { return savedCount_; }

  void PrefetchRef(RecordRef ref) const { index_.Prefetch(app_.Resolve(ref)); }

  // The position of the saved folder a parent ref names.
  bool PosOfRef(RecordRef ref, uint32_t& pos) const {
    uint32_t i = index_.Find(app_.Resolve(ref));
    if (i == qvRecordIndexMap::kNone || state_[i] != kGood) return false;
    pos = pos_[i];
    return true;
  }

 private:
  static constexpr uint32_t kNoParent = qvParentChains::kNoParent;

  void CollectFolders() {
    const RecordList& list = app_.folderList;
    for (size_t p = 0; p < list.PageCount(); ++p) {
      const RecordPage* page = list.Page(p);
      for (uint32_t s = page->first; s < page->end; ++s) {
        const uint8_t* r = page->slots[s];
        bool fresh = index_.Insert(r, static_cast<uint32_t>(folders_.size()));
        folders_.push_back(r);
        state_.push_back(fresh ? kUnknown : kBad);
      }
    }
  }

  void MarkMapped() {
    mapped_.assign(folders_.size(), 0);
    const DirMap& map = app_.dirMap;
    for (size_t p = 0; p < map.PageCount(); ++p) {
      const DirMapPage* page = map.Page(p);
      for (uint32_t e = page->first; e < page->end; ++e) {
        const DirMapEntry& entry = page->entries[e];
        if (entry.record == kNullRef) continue;
        uint32_t i = index_.Find(app_.Resolve(entry.record));
        if (i == qvRecordIndexMap::kNone || mapped_[i] || DirRecord::Key(folders_[i]) != entry.key) continue;
        mapped_[i] = 1;
        keyOrder_.push_back(i);
      }
    }
  }

  void JudgeParents() {
    parent_.assign(folders_.size(), kNoParent);
    for (uint32_t i = 0; i < folders_.size(); ++i) {
      if (state_[i] == kBad) continue;
      const uint8_t* r = folders_[i];
      DirKey key = DirRecord::Key(r);
      bool ok = mapped_[i] && KeySlotHeld(key, held_) && DirRecord::NameLength(r) <= kLengthFieldMax;
      RecordRef parent = DirRecord::Parent(r);
      if (ok && parent == kNullRef) {
        ok = key == RootKey(DirKeySlot(key));
      } else if (ok) {
        uint32_t pi = index_.Find(app_.Resolve(parent));
        ok = pi != qvRecordIndexMap::kNone && pi != i &&
             DirKeySlot(DirRecord::Key(folders_[pi])) == DirKeySlot(key);
        parent_[i] = pi;
      }
      state_[i] = !ok ? kBad : parent == kNullRef ? kGood : kUnknown;
    }
    qvParentChains::Resolve(state_, parent_);
  }

  bool AssignPositions() {
    pos_.assign(folders_.size(), kNoFolder);
    PoolSimulator pool;
    for (uint32_t i = 0; i < folders_.size(); ++i) {
      if (state_[i] != kGood) continue;
      pos_[i] = pool.Next(static_cast<uint32_t>(DirRecord::Size(folders_[i])));
      if (pos_[i] == kNoFolder) return false;
      ++savedCount_;
    }
    return true;
  }

  const qvIndex& app_;
  bool held_[QV_VOLUME_SLOTS];
  qvRecordIndexMap index_;
  std::vector<const uint8_t*> folders_;
  std::vector<uint8_t> state_;
  std::vector<uint8_t> mapped_;
  std::vector<uint32_t> parent_;
  std::vector<uint32_t> keyOrder_;
  std::vector<uint32_t> pos_;
  uint32_t savedCount_ = 0;
};

void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

bool AppendHeader(const qvIndex& app, CWriteMgr& out) {
  uint8_t h[kMaxHeaderSize] = {};
  StoreU32(h + kMagic1At, kMagic1);
  StoreU32(h + kMagic2At, kMagic2);
  StoreU32(h + kVersionAt, kVersion);
  std::time_t now = std::time(nullptr);
  std::tm utc = {};
  gmtime_r(&now, &utc);
  StoreU16(h + kYearAt, static_cast<uint16_t>(utc.tm_year + 1900));
  StoreU16(h + kMonthAt, static_cast<uint16_t>(utc.tm_mon + 1));
  StoreU16(h + kDayAt, static_cast<uint16_t>(utc.tm_mday));
  StoreU16(h + kHourAt, static_cast<uint16_t>(utc.tm_hour));
  size_t at = kVolumeTableAt;
  for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
    bool held = app.volumes.indexed[slot];
    h[at++] = held ? 1 : 0;
    if (!held) continue;
    Store64(h + at, app.volumes.journalId[slot]);
    Store64(h + at + 8, static_cast<uint64_t>(app.volumes.nextUsn[slot]));
    at += 16;
  }
  StoreU32(h + kHeaderSizeAt, static_cast<uint32_t>(at));
  return out.Append(h, at);
}

uint32_t CommonPrefix(const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
  size_t n = an < bn ? an : bn;
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return static_cast<uint32_t>(i);
}

// Builds one record (fixed part, suffix, trailing bytes) and appends it.
class RecordWriter {
 public:
  explicit RecordWriter(CWriteMgr& out) : out_(out) {}

  bool Append(uint32_t first, uint32_t parentPos, const uint8_t* name, uint32_t length, uint32_t top,
              const uint8_t* tail, uint32_t tailLength) {
    uint32_t p = CommonPrefix(prev_, prevLength_, name, length);
    uint32_t s = length - p;
    StoreU32(buf_, first);
    StoreU32(buf_ + 4, parentPos);
    Store24(buf_ + 8, PackWord(p, s, top));
    std::memcpy(buf_ + kRecordFixedSize, name + p, s);
    if (tailLength) std::memcpy(buf_ + kRecordFixedSize + s, tail, tailLength);
    prev_ = name;
    prevLength_ = length;
    return out_.Append(buf_, kRecordFixedSize + s + tailLength);
  }

 private:
  CWriteMgr& out_;
  const uint8_t* prev_ = nullptr;
  uint32_t prevLength_ = 0;
  uint8_t buf_[kRecordFixedSize + kLengthFieldMax + 4];
};

bool AppendFolders(const FolderPlan& plan, CWriteMgr& out) {
  RecordWriter writer(out);
  const auto& folders = plan.Folders();
  for (uint32_t i = 0; i < folders.size(); ++i) {
    if (!plan.IsSaved(i)) continue;
    const uint8_t* r = folders[i];
    uint32_t top = DirRecord::IsNonAscii(r) ? kFolderNonAscii : 0;
    if (!writer.Append(DirRecord::Key(r), plan.ParentPos(i), DirRecord::Name(r), DirRecord::NameLength(r), top,
                       nullptr, 0))
      return false;
  }
  return true;
}

// Walks a list in order, page by page.
class ListWalker {
 public:
  explicit ListWalker(const RecordList& list) : list_(list) { Settle(); }
  // The record at the walker, or null past the end.
  const uint8_t* Get() const { return page_ < list_.PageCount() ? list_.Page(page_)->slots[slot_] : nullptr; }
  void Next() {
    ++slot_;
    Settle();
  }

 private:
  void Settle() {
    for (; page_ < list_.PageCount(); ++page_, slot_ = 0) {
      const RecordPage* page = list_.Page(page_);
      if (slot_ < page->first) slot_ = page->first;
      if (slot_ < page->end) return;
    }
  }

  const RecordList& list_;
  size_t page_ = 0;
  uint32_t slot_ = 0;
};

// Appends the files whose parent is saved; returns how many, or -1 on
// failure. A file whose extension id is not in the table is left out: the
// loader could not give it a text.
//
// The list is in name order, so each record and its parent's map slot
// are far from the previous ones; two walkers ahead of the writing one
// fetch both some records early.
int64_t AppendFiles(const qvIndex& app, const FolderPlan& plan, CWriteMgr& out) {
  constexpr size_t kRecordAhead = 16, kSlotAhead = 8;
  ListWalker at(app.fileList), recordAhead(app.fileList), slotAhead(app.fileList);
  for (size_t i = 0; i < kRecordAhead; ++i) recordAhead.Next();
  for (size_t i = 0; i < kSlotAhead; ++i) slotAhead.Next();
  RecordWriter writer(out);
  int64_t count = 0;
  for (; const uint8_t* r = at.Get(); at.Next(), recordAhead.Next(), slotAhead.Next()) {
    if (const uint8_t* ahead = recordAhead.Get()) __builtin_prefetch(ahead);
    if (const uint8_t* ahead = slotAhead.Get()) plan.PrefetchRef(FileRecord::Parent(ahead));
    uint32_t parentPos;
    uint32_t flags = FileRecord::Flags(r);
    uint32_t width = static_cast<uint32_t>(FileRecord::ExtWidthBytes(flags));
    uint32_t length = FileRecord::NameLength(r);
    if (!plan.PosOfRef(FileRecord::Parent(r), parentPos) || length > kLengthFieldMax) continue;
    if (width && FileRecord::ExtId(r) >= app.extTable.Count()) continue;
    if (!writer.Append(flags, parentPos, FileRecord::Name(r), length, width << kFileWidthShift,
                       FileRecord::ExtIdField(r), width))
      return -1;
    ++count;
  }
  return count;
}

bool PatchU32(CWriteMgr& out, size_t at, uint32_t v) { return out.Patch(at, &v, 4); }

}  // namespace

bool BuildIndexImage(const qvIndex& app, CWriteMgr& out) {
  FolderPlan plan(app);
  if (!plan.Build()) {
    errno = EFBIG;
    return false;
  }
  errno = ENOMEM;
  if (!AppendHeader(app, out)) return false;
  for (uint32_t i : plan.KeyOrder())
    if (plan.IsSaved(i) && !out.AppendU32(plan.Pos(i))) return false;
  uint32_t folderOffset = static_cast<uint32_t>(out.Total());
  if (!AppendFolders(plan, out)) return false;
  uint32_t fileOffset = static_cast<uint32_t>(out.Total());
  int64_t files = AppendFiles(app, plan, out);
  if (files < 0 || out.Total() > UINT32_MAX) {
    if (files >= 0) errno = EFBIG;
    return false;
  }
  return PatchU32(out, kTotalSizeAt, static_cast<uint32_t>(out.Total())) &&
         PatchU32(out, kFolderOffsetAt, folderOffset) && PatchU32(out, kFileOffsetAt, fileOffset) &&
         PatchU32(out, kFolderCountAt, plan.SavedCount()) &&
         PatchU32(out, kFileCountAt, static_cast<uint32_t>(files));
}

namespace {

// The generation after the newest one in the folder, so that a set can
// be told from every earlier one.
uint64_t NextGeneration(const qvIndex& app) {
  uint64_t newest = 0;
  for (auto which : {qvSavedSet::kCurrent, qvSavedSet::kPrevious}) {
    qvSavedSet set = qvSavedSet::Open(app, which);
    if (set.SealStatus().ok() && set.Seal().generation > newest) newest = set.Seal().generation;
  }
  return newest + 1;
}

// False (errno set) when the bytes already written out cannot be read back.
bool SumOf(const CWriteMgr& out, qvDbSeal::FileSum& fileSum) {
  qvDbSeal::Checksum sum;
  if (!out.ForEachChunk([&](const uint8_t* data, size_t n) { sum.Update(data, n); })) return false;
  fileSum = {out.Total(), sum.Final()};
  return true;
}

using Code = qvStatus::Code;

qvStatus IndexFailure(const CWriteMgr& index) {
  if (index.WriteError()) return qvStatus::Error(Code::kIoError, index.WriteError(), "写入数据库文件失败");
  return qvStatus::Error(errno == EFBIG ? Code::kCannotStore : Code::kNoMemory, errno, "写入数据库文件失败");
}

// Under the folder's exclusive lock: the index is the one large file, so
// it goes to its temporary name as it is built (no second copy of the
// index in memory); the small ones are built whole, then all are summed
// and committed.
qvStatus WriteSet(qvIndex& app) {
  qvDbIo::FolderLock lock(app, qvDbIo::FolderLock::kExclusive);
  if (!lock.Held()) return qvStatus::Error(Code::kLocked, lock.Error(), "锁定数据文件夹失败");
  CWriteMgr index(app.heap);
  CWriteMgr ext(app.heap);
  CWriteMgr extCase(app.heap);
  CWriteMgr seal(app.heap);
  if (!index.StreamTo(qvDbIo::DataFilePath(app, kIndexFileName) + ".tmp"))
    return qvStatus::Error(Code::kIoError, errno, "写入数据库文件失败");
  if (!BuildIndexImage(app, index)) return IndexFailure(index);
  if (!BuildExtImage(app, ext)) return qvStatus::Error(Code::kNoMemory, ENOMEM, "写入扩展名文件失败");
  if (!qvExtCaseFile::BuildImage(app, extCase))
    return qvStatus::Error(Code::kNoMemory, ENOMEM, "写入扩展名大小写文件extcase.db失败");
  qvDbSeal::Seal sums;
  sums.generation = NextGeneration(app);
  if (!SumOf(index, sums.files[qvDbSeal::kIndexFile]))
    return qvStatus::Error(Code::kIoError, errno, "写入数据库文件失败");
  SumOf(ext, sums.files[qvDbSeal::kExtFile]);
  SumOf(extCase, sums.files[qvDbSeal::kExtCaseFile]);
  uint8_t sealBytes[qvDbSeal::kSize];
  qvDbSeal::Build(sums, sealBytes);
  seal.Append(sealBytes, sizeof sealBytes);
  const qvDbCommit::NewFile files[] = {
      {kIndexFileName, &index, "写入数据库文件失败"},
      {kExtFileName, &ext, "写入扩展名文件失败"},
      {qvExtCaseFile::kFileName, &extCase, "写入扩展名大小写文件extcase.db失败"},
      {qvDbSeal::kFileName, &seal, "写入数据库文件失败"},
  };
  return qvDbCommit::Replace(app, files, 4);
}

}  // namespace

// The files only make sense together (extension ids are given anew by
// every scan), so they are written as one sealed set beside the old one
// and switched in; a failure keeps the old set.
qvStatus SaveIndex(qvIndex& app) {
  qvStatus status = WriteSet(app);
  if (!status.ok()) ShowErrorBox("%s", status.text().c_str());
  return status;
}

}  // namespace qvDatabase
