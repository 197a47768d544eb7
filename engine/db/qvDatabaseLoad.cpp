// Loading "ntfsqs.db" at start-up.
//
// The file is trusted for nothing: every length is checked against the
// buffer, every position must name the start of a folder record, parent
// chains must end at a volume root, names must be well-formed packed
// bytes, and each record's flags must agree with its stored widths. Any
// failure empties the tables, says why, and the caller scans instead.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "IQvSearch.h"
#include "qvDatabase.h"
#include "qvDatabaseChains.h"
#include "qvDatabaseFormat.h"
#include "qvDatabaseIo.h"
#include "qvDatabaseLoadThreads.h"
#include "qvDatabaseStartIndex.h"
#include "qvErrorBox.h"
#include "qvFileRecordRuns.h"
#include "qvIndex.h"
#include "qvLoadHandoff.h"
#include "qvNameCheck.h"

namespace qvDatabase {

namespace {

using namespace qvDbFormat;

struct StoredVolume {
  bool held;
  uint64_t journalId;
  int64_t nextUsn;
};

struct Header {
  uint32_t headerSize;
  uint32_t folderOffset;
  uint32_t fileOffset;
  uint32_t folderCount;
  uint32_t fileCount;
  StoredVolume volumes[QV_VOLUME_SLOTS];
  bool held[QV_VOLUME_SLOTS];
};

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

using Code = qvStatus::Code;

// The reason for a file whose contents are not as the saver writes them.
qvStatus Malformed(Code code) {
  const char* part = code == Code::kBadHeader         ? "文件头"
                     : code == Code::kBadVolumeTable  ? "卷表"
                     : code == Code::kBadFolderRecord ? "文件夹记录"
                     : code == Code::kBadFolderLinks  ? "文件夹链接"
                     : code == Code::kBadFileRecord   ? "文件记录"
                                                      : "名称";
  return qvStatus::Error(code, EBADMSG, std::string("数据库文件格式错误(") + part + ")");
}

bool ReadVolumeTable(const uint8_t* data, Header& h) {
  size_t at = kVolumeTableAt;
  for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
    if (at >= h.headerSize || data[at] > 1) return false;
    StoredVolume& v = h.volumes[slot];
    v = {data[at++] == 1, 0, 0};
    h.held[slot] = v.held;
    if (!v.held) continue;
    if (h.headerSize - at < 16) return false;
    v.journalId = Load64(data + at);
    v.nextUsn = static_cast<int64_t>(Load64(data + at + 8));
    at += 16;
  }
  // The header holds the volume table and nothing else.
  return at == h.headerSize;
}

// The design's checks in its order, then those that keep every later read
// inside the buffer: the sections follow each other inside the file.
qvStatus ReadHeader(const uint8_t* data, size_t size, Header& h) {
  if (size < kMinHeaderSize) return Malformed(Code::kBadHeader);
  h.headerSize = LoadU32(data + kHeaderSizeAt);
  h.folderOffset = LoadU32(data + kFolderOffsetAt);
  h.fileOffset = LoadU32(data + kFileOffsetAt);
  h.folderCount = LoadU32(data + kFolderCountAt);
  h.fileCount = LoadU32(data + kFileCountAt);
  if (h.folderCount == 0 || LoadU32(data + kTotalSizeAt) != size || h.headerSize < kMinHeaderSize)
    return Malformed(Code::kBadHeader);
  if (h.folderOffset < h.headerSize || h.folderOffset - h.headerSize != 4ull * h.folderCount)
    return Malformed(Code::kBadHeader);
  if (LoadU32(data + kMagic1At) != kMagic1 || LoadU32(data + kMagic2At) != kMagic2 ||
      LoadU32(data + kVersionAt) != kVersion)
    return Malformed(Code::kBadHeader);
  if (h.headerSize > kMaxHeaderSize || h.fileOffset < h.folderOffset || h.fileOffset > size)
    return Malformed(Code::kBadHeader);
  return ReadVolumeTable(data, h) ? qvStatus::Ok() : Malformed(Code::kBadVolumeTable);
}

// Current when every slot holds the same volume as at the save and its
// journal still reaches back to where the saved index ends.
bool IsCurrent(const Header& h, const VolumeState& now) {
  for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot) {
    const StoredVolume& v = h.volumes[slot];
    if (!v.held) {
      if (now.journalId[slot] != 0) return false;
      continue;
    }
    // A stored entry for a slot without a volume is stale even when its
    // journal id is 0.
    if (now.journalId[slot] == 0 || v.journalId != now.journalId[slot] || v.nextUsn < now.firstUsn[slot])
      return false;
  }
  return true;
}

// Reads the sections once each, in this order: folder records, key
// section, file records. Nothing before the file records is read again
// once the folders are linked, and no file record once the next one is
// begun; a seal check, when there is one, is told so as the loader moves
// on.
class IndexLoader {
 public:
  IndexLoader(qvIndex& app, const uint8_t* data, size_t size, const Header& h, qvSealCheck* seal, LoadThreads threads)
      : app_(app), data_(data), size_(size), h_(h), seal_(seal), threads_(threads) {}

  qvStatus Run() {
    bool loaded = threads_ == LoadThreads::kTwo && h_.fileCount >= qvFileRecordRuns::kSplitFrom
                      ? LoadOnTwoThreads()
                      : LoadFolders() && LinkFolders() && LoadFiles();
    if (loaded) return qvStatus::Ok();
    return failure_ == Code::kNoMemory ? qvStatus::Error(Code::kNoMemory, ENOMEM, "申请内存失败") : Malformed(failure_);
  }

 private:
  bool Fail(Code code) {
    failure_ = code;
    return false;
  }

  // Folder records, in section order, into the fresh record pool: each
  // lands where the saver's simulation put it. Parents still hold their
  // stored positions.
  bool LoadFolders() {
    size_t at = h_.folderOffset;
    const size_t end = h_.fileOffset;
    PoolSimulator simulated;
    const uint8_t* prev = nullptr;
    uint32_t prevLength = 0;
    // Never more than the section could hold: the count is the file's word.
    keys_.reserve(std::min<size_t>(h_.folderCount, (end - at) / kRecordFixedSize));
    parents_.reserve(keys_.capacity());
    app_.folderList.ReservePages(keys_.capacity());
    for (uint32_t i = 0; i < h_.folderCount; ++i) {
      if (end - at < kRecordFixedSize) return Fail(Code::kBadFolderRecord);
      const uint8_t* in = data_ + at;
      DirKey key = LoadU32(in);
      uint32_t word = Load24(in + 8);
      uint32_t p = WordPrefix(word), s = WordSuffix(word), length = p + s;
      if ((word & kFolderReservedMask) || p > prevLength || length > kLengthFieldMax ||
          end - at - kRecordFixedSize < s || !KeySlotHeld(key, h_.held))
        return Fail(Code::kBadFolderRecord);
      uint32_t size = static_cast<uint32_t>(DirRecord::kHeaderSize) + length;
      uint32_t pos = simulated.Next(size);
      RecordRef ref;
      uint8_t* r = pos == kNoFolder ? nullptr : app_.recordPool.Alloc(size, &ref);
      if (pos != kNoFolder && !r) return Fail(Code::kNoMemory);
      if (!r || ref != PosToRef(pos)) return Fail(Code::kBadFolderRecord);
      uint8_t* name = r + DirRecord::kHeaderSize;
      if (p) std::memcpy(name, prev, p);
      std::memcpy(name + p, in + kRecordFixedSize, s);
      bool nonAscii = word & kFolderNonAscii;
      if (!qvNameCheck::Matches(name, length, nonAscii)) return Fail(Code::kBadName);
      StoreU32(r, key);
      StoreU32(r + 4, LoadU32(in + 4));
      StoreU16(r + 8, static_cast<uint16_t>(length | (nonAscii ? DirRecord::kNonAscii : 0)));
      if (!app_.folderList.Append(r)) return Fail(Code::kNoMemory);
      starts_.Add(pos);
      keys_.push_back(key);
      parents_.push_back(LoadU32(in + 4));
      prev = name;
      prevLength = length;
      at += kRecordFixedSize + s;
    }
    return at == end || Fail(Code::kBadFolderRecord);
  }

  // The key section names every folder once, in strictly ascending key
  // order: it fills the map. Stored parent positions become refs. Both
  // passes go through their input in order and look folders up in the
  // small per-folder tables, never in the records (a large index holds
  // those far beyond the cache). A lookup at a random place is begun
  // kAhead steps early, its bitmap words twice that.
  bool LinkFolders() {
    using namespace qvParentChains;
    constexpr uint32_t kAhead = 16;
    constexpr uint32_t kNone = qvFolderStartIndex::kNone;
    const uint32_t n = h_.folderCount;
    std::vector<uint8_t> state(n, kUnknown);
    // parents_ holds the stored positions: they become section-order
    // numbers, in place.
    std::vector<uint32_t>& parent = parents_;
    uint32_t ahead[kAhead];
    auto lookUpParent = [&](uint32_t j) {
      if (j + kAhead < n && parent[j + kAhead] != kNoFolder) starts_.PrefetchIndex(parent[j + kAhead]);
      uint32_t pj = parent[j] == kNoFolder ? kNoParent : starts_.IndexOf(parent[j]);
      if (pj < n) __builtin_prefetch(&keys_[pj]);
      ahead[j % kAhead] = pj;
    };
    for (uint32_t j = 0; j < kAhead && j < n; ++j) lookUpParent(j);
    uint32_t i = 0;
    for (size_t p = 0; p < app_.folderList.PageCount(); ++p) {
      RecordPage* page = app_.folderList.Page(p);
      for (uint32_t s = page->first; s < page->end; ++s, ++i) {
        uint8_t* r = page->slots[s];
        uint32_t pi = ahead[i % kAhead];
        uint32_t parentPos = parent[i];
        if (i + kAhead < n) lookUpParent(i + kAhead);
        if (parentPos == kNoFolder) {
          if (keys_[i] != RootKey(DirKeySlot(keys_[i]))) return Fail(Code::kBadFolderLinks);
          DirRecord::SetParent(r, kNullRef);
          state[i] = kGood;
          parent[i] = kNoParent;
          continue;
        }
        // A folder and its parent belong to the same volume.
        if (pi == kNone || DirKeySlot(keys_[pi]) != DirKeySlot(keys_[i])) return Fail(Code::kBadFolderLinks);
        DirRecord::SetParent(r, PosToRef(parentPos));
        parent[i] = pi;
      }
    }
    std::vector<uint8_t> seen(n, 0);
    const uint8_t* positions = data_ + h_.headerSize;
    auto lookUpKey = [&](uint32_t j) {
      if (j + kAhead < n) starts_.PrefetchIndex(LoadU32(positions + 4 * (j + kAhead)));
      uint32_t at = starts_.IndexOf(LoadU32(positions + 4 * j));
      if (at != kNone) {
        __builtin_prefetch(&seen[at]);
        __builtin_prefetch(&keys_[at]);
      }
      ahead[j % kAhead] = at;
    };
    for (uint32_t j = 0; j < kAhead && j < n; ++j) lookUpKey(j);
    DirKey prevKey = 0;
    for (uint32_t k = 0; k < n; ++k) {
      uint32_t at = ahead[k % kAhead];
      if (k + kAhead < n) lookUpKey(k + kAhead);
      if (at == kNone || seen[at]) return Fail(Code::kBadFolderLinks);
      seen[at] = 1;
      DirKey key = keys_[at];
      if (k > 0 && key <= prevKey) return Fail(Code::kBadFolderLinks);
      prevKey = key;
      if (!app_.dirMap.Append(key, PosToRef(LoadU32(positions + 4 * k)))) return Fail(Code::kNoMemory);
    }
    Resolve(state, parent);
    for (uint8_t s : state)
      if (s != kGood) return Fail(Code::kBadFolderLinks);
    return true;
  }

  // The file records on this thread alone.
  bool LoadFiles() {
    qvFileRecordRuns::FileRun all;
    all.from = h_.fileOffset;
    all.to = size_;
    all.count = h_.fileCount;
    app_.fileList.ReservePages(RecordsAtMost(all));
    SealProgress progress(seal_);
    Code code = qvFileRecordRuns::Read(data_, all, starts_, app_.recordPool, app_.fileList, seal_ ? &progress : nullptr);
    return code == Code::kOk || Fail(code);
  }

  // The same work on two threads. A helper cuts the file records in two
  // while this thread reads the folders, then reads the second run into a
  // pool and list of its own while this one reads the first. The seal's
  // sum goes with the helper, which reaches every byte first and in file
  // order: the first run's as it walks to the cut, its own as it reads
  // them. The second run's pool and list then join the index without a
  // copy. The first run's reason wins, as it would on one thread, which
  // would have stopped there.
  bool LoadOnTwoThreads() {
    qvLoadHandoff handoff;
    qvFileRecordRuns::FileRun first, second;
    CMemoryPool secondPool(app_.heap, qvIndex::kRecordPoolTag);
    RecordList secondList(app_.heap);
    Code secondCode = Code::kOk;
    std::thread helper;
    try {
      helper = std::thread([&] { secondCode = ReadSecondRun(handoff, first, second, secondPool, secondList); });
    } catch (const std::system_error&) {
      return LoadFolders() && LinkFolders() && LoadFiles();
    }
    // The second run needs only the folders' starts: it begins while
    // this thread links the folders.
    bool folders = LoadFolders();
    handoff.SetFolders(folders);
    folders = folders && LinkFolders();
    if (!folders) handoff.Stop();
    bool split = handoff.WaitForSplit();
    if (!folders || !split) {
      helper.join();
      return folders && LoadFiles();
    }
    GiveBackProgress progress(seal_, 0);
    progress.Passed(h_.fileOffset);  // the header and the folders are done with
    app_.fileList.ReservePages(RecordsAtMost(first));  // what the helper had no time for
    Code firstCode =
        qvFileRecordRuns::Read(data_, first, starts_, app_.recordPool, app_.fileList, seal_ ? &progress : nullptr);
    if (firstCode != Code::kOk) handoff.Stop();
    helper.join();
    if (firstCode != Code::kOk) return Fail(firstCode);
    if (secondCode != Code::kOk) return Fail(secondCode);
    if (!app_.recordPool.Adopt(secondPool) || !app_.fileList.TakePages(secondList)) return Fail(Code::kNoMemory);
    return true;
  }

  // The helper's part: the cut, then, once the folders' starts are
  // known, the second run.
  Code ReadSecondRun(qvLoadHandoff& handoff, qvFileRecordRuns::FileRun& first, qvFileRecordRuns::FileRun& second,
                     CMemoryPool& pool, RecordList& list) {
    SumProgress walked(seal_, nullptr, nullptr);
    bool split = qvFileRecordRuns::Split(data_, h_.fileOffset, size_, h_.fileCount, kFirstShare, first, second,
                                         seal_ ? &walked : nullptr);
    if (split) MakeFirstRunPages(handoff, RecordsAtMost(first));
    handoff.SetSplit(split);
    if (!split || !handoff.WaitForFolders()) return Code::kOk;
    GiveBackProgress given(seal_, second.from);
    SumProgress read(seal_, &given, &handoff);
    list.ReservePages(RecordsAtMost(second));
    return qvFileRecordRuns::Read(data_, second, starts_, pool, list, &read);
  }

  // A run's count is the file's word (the cut checks the first run's
  // records only): never more pages than its bytes could fill.
  static uint32_t RecordsAtMost(const qvFileRecordRuns::FileRun& run) {
    return static_cast<uint32_t>(std::min<size_t>(run.count, (run.to - run.from) / kRecordFixedSize));
  }

  // Until the folders are in, the helper has nothing to read: it makes the
  // list pages the first run will fill (a fresh page's first touch costs
  // about as much as filling it), a few at a time, so as not to start its
  // own run late. The loading thread waits for the cut before it touches
  // the list.
  void MakeFirstRunPages(qvLoadHandoff& handoff, uint32_t records) {
    constexpr uint32_t kStep = 64 * RecordPage::kSlots;
    for (uint32_t made = 0; made < records && !handoff.FoldersSaid();) {
      made = std::min(records, made + kStep);
      app_.fileList.ReservePages(made);
    }
  }

  // The one reader tells the seal check where it is.
  struct SealProgress final : qvFileRecordRuns::Progress {
    explicit SealProgress(qvSealCheck* seal) : seal(seal) {}
    void Passed(size_t at) override { seal->Passed(at); }
    qvSealCheck* seal;
  };

  // Gives back the pages a reader passed, from `from` on.
  struct GiveBackProgress final : qvFileRecordRuns::Progress {
    GiveBackProgress(qvSealCheck* seal, size_t from) : seal(seal), from(from) {}
    void Passed(size_t at) override {
      if (!seal || at <= from) return;
      seal->GiveBack(from, at);
      from = at;
    }
    qvSealCheck* seal;
    size_t from;
  };

  // The helper sums what it passed; reading its own run, it gives back
  // what is summed, and stops when the loading thread failed.
  struct SumProgress final : qvFileRecordRuns::Progress {
    SumProgress(qvSealCheck* seal, GiveBackProgress* given, const qvLoadHandoff* handoff)
        : seal(seal), given(given), handoff(handoff) {}
    void Passed(size_t at) override {
      if (!seal) return;
      size_t summed = seal->SumAhead(at);
      if (given) given->Passed(summed);
    }
    bool Stopped() const override { return handoff && handoff->Stopped(); }
    qvSealCheck* seal;
    GiveBackProgress* given;
    const qvLoadHandoff* handoff;
  };

  // The first run's share of the file records: below half, since this
  // thread reads and links the folders first, but more than the helper's
  // share of the time alone would give, since the helper makes most of
  // this run's list pages while it waits.
  static constexpr double kFirstShare = 0.44;

  qvIndex& app_;
  const uint8_t* data_;
  size_t size_;
  const Header& h_;
  qvSealCheck* seal_;
  LoadThreads threads_;
  qvFolderStartIndex starts_;
  // Of the folders, in section order: keys, and stored parent positions.
  std::vector<DirKey> keys_;
  std::vector<uint32_t> parents_;
  Code failure_ = Code::kOk;
};

// The tables from the image, or empty tables and why; the stored journal
// positions in `h` for the caller to take over.
qvStatus LoadImage(qvIndex& app, const uint8_t* data, size_t size, Header& h, qvSealCheck* seal,
                   LoadThreads threads) {
  // Positions are places in a fresh record pool; and whatever happens,
  // a refusal leaves empty tables.
  app.ClearIndex();
  qvStatus status = ReadHeader(data, size, h);
  if (!status.ok()) return status;
  if (!IsCurrent(h, app.volumes)) return qvStatus::Error(Code::kStale, 0, "数据库已过期");
  IndexLoader loader(app, data, size, h, seal, threads);
  status = loader.Run();
  if (!status.ok()) app.ClearIndex();
  return status;
}

// The change monitors resume where the saved index ends.
void TakeJournalPositions(qvIndex& app, const Header& h) {
  for (int slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
    app.volumes.nextUsn[slot] = h.volumes[slot].held ? h.volumes[slot].nextUsn : 0;
}

}  // namespace

qvStatus LoadIndexImage(qvIndex& app, const uint8_t* data, size_t size) {
  return LoadIndexImage(app, data, size, LoadThreads::kTwo);
}

qvStatus LoadIndexImage(qvIndex& app, const uint8_t* data, size_t size, LoadThreads threads) {
  Header h;
  qvStatus status = LoadImage(app, data, size, h, nullptr, threads);
  if (status.ok()) TakeJournalPositions(app, h);
  return status;
}

qvStatus LoadIndex(qvIndex& app, IQvSearchNotify* sink, const qvSavedSet& set) {
  if (sink) sink->OnStatus(-1, "正在加载数据库...");
  app.ClearIndex();
  qvDbIo::HeapBuffer buffer(app.heap);
  int error = 0;
  using R = qvDbIo::ReadResult;
  R read = qvDbIo::ReadWholeFile(set.Path(app, kIndexFileName),
                                 set.Rule(qvDbSeal::kIndexFile, kMinHeaderSize, UINT32_MAX), buffer, error,
                                 qvDbIo::Pages::kAsRead);
  switch (read) {
    case R::kOk:
      break;
    case R::kOpenFailed:
      // No file is the normal first start; any other failure is a reason.
      if (error == ENOENT) return qvStatus::Error(Code::kNotFound, error, "没有数据库文件");
      return qvStatus::Error(Code::kIoError, error, "读文件失败");
    case R::kStatFailed:
    case R::kNotRegular:
    case R::kTooSmall:
    case R::kTooLarge:
      return qvStatus::Error(read == R::kNotRegular ? Code::kNotRegularFile
                             : read == R::kTooSmall ? Code::kTooSmall
                             : read == R::kTooLarge ? Code::kTooLarge
                                                    : Code::kIoError,
                             error, "获取文件大小失败");
    case R::kSizeMismatch:
      return qvStatus::Error(Code::kMismatch, error, "ntfsqs.db与seal.db不符(不是同一次保存的文件，或已损坏)");
    case R::kAllocFailed:
      return qvStatus::Error(Code::kNoMemory, error, "申请内存失败");
    case R::kReadFailed:
      return qvStatus::Error(Code::kIoError, error, "读文件失败");
  }
  // The file is summed as the loader passes through it, and each page
  // both are done with is given back: the whole file is never in memory
  // beside the tables made from it. A file that is not the sealed one is
  // refused for that, whatever the loader found.
  qvSealCheck seal(set, qvDbSeal::kIndexFile, kIndexFileName, buffer);
  Header h;
  qvStatus status = LoadImage(app, buffer.Data(), buffer.Size(), h, &seal, LoadThreads::kTwo);
  qvStatus sealed = seal.Finish();
  if (!sealed.ok()) {
    app.ClearIndex();
    return sealed;
  }
  if (status.ok()) TakeJournalPositions(app, h);
  return status;
}

}  // namespace qvDatabase
