#include "qvCompact.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "qvIndex.h"

namespace {

class Compactor {
 public:
  explicit Compactor(qvIndex& app)
      : app_(app), fresh_(app.heap, qvIndex::kRecordPoolTag), moved_(app.folderList.Count()) {
    const CMemoryPool& pool = app_.recordPool;
    for (size_t b = 0; b < pool.BlockCount(); ++b)
      blocks_.push_back({pool.Block(b), static_cast<uint32_t>(b)});
    std::sort(blocks_.begin(), blocks_.end());
  }

  bool Run(qvRefMoves* moves) {
    if (app_.detachedFolder != kNullRef) return false;
    // Folders first, then files: every file's parent has its new ref by then.
    if (!MoveFolders() || !MoveFiles() || !LinkFolders()) return false;
    // Everything is copied: only now do the live tables change.
    RemapMap();
    ApplySlots();
    fresh_.Trim();
    app_.folderResults.Reset();
    app_.fileResults.Reset();
    app_.recordPool.Swap(fresh_);  // fresh_ now holds the old blocks, freed with it
    ++app_.generation;
    if (moves) moves->Swap(moved_);
    return true;
  }

 private:
  // The first-pool ref of a record pointer, or kNullRef when the record
  // lies in no block of the first pool (the second pool's folders).
  RecordRef RefOf(const uint8_t* r) const {
    auto it = std::upper_bound(blocks_.begin(), blocks_.end(), std::pair<const uint8_t*, uint32_t>(r, UINT32_MAX));
    if (it == blocks_.begin()) return kNullRef;
    --it;
    size_t offset = static_cast<size_t>(r - it->first);
    if (offset >= CMemoryPool::kBlockSize) return kNullRef;
    return qvIndex::kRecordPoolTag | (it->second << 12) | static_cast<uint32_t>(offset);
  }

  // Copies a first-pool folder record on first sight; its new ref.
  bool MoveFolder(RecordRef old, const uint8_t* record, RecordRef* out) {
    *out = moved_.Find(old);
    if (*out != kNullRef) return true;
    size_t size = DirRecord::Size(record);
    uint8_t* copy = fresh_.Alloc(size, out);
    if (!copy) return false;
    std::memcpy(copy, record, size);
    moved_.Insert(old, *out);
    copies_.push_back(copy);
    copyRefs_.push_back(*out);
    return true;
  }

  // The ref a parent field or map entry must hold once the pool is
  // swapped. A parent that no list holds (it should not happen) moves as
  // well, or its children would point into freed blocks.
  bool NewRef(RecordRef ref, RecordRef* out) {
    *out = ref;
    if (ref == kNullRef || (ref & qvIndex::kSecondPoolTag)) return true;
    RecordRef found = moved_.Find(ref);
    if (found != kNullRef) {
      *out = found;
      return true;
    }
    const uint8_t* old = app_.recordPool.Resolve(ref);
    return !old || MoveFolder(ref, old, out);  // a dangling ref is left as it was
  }

  bool MoveFolders() {
    const RecordList& list = app_.folderList;
    for (size_t p = 0; p < list.PageCount(); ++p) {
      const RecordPage* page = list.Page(p);
      for (uint32_t s = page->first; s < page->end; ++s) {
        uint8_t* r = page->slots[s];
        RecordRef old = RefOf(r), fresh;
        if (old == kNullRef) {
          secondPoolFolders_.push_back(r);
          continue;
        }
        if (!MoveFolder(old, r, &fresh)) return false;
        folderSlots_.push_back(fresh);
      }
    }
    return true;
  }

  // The copies follow each other in the fresh pool in list order, so
  // ApplySlots finds each one again from the one before: only where a
  // block starts, and where a folder no list holds was copied in between,
  // is anything noted. A large index would otherwise keep a ref per file.
  bool MoveFiles() {
    const RecordList& list = app_.fileList;
    // The old records lie all over the pool, and so do their parents'
    // slots in the table: each record is fetched 32 files ahead, and its
    // parent's slot 16 files ahead, once the record has come in.
    constexpr uint32_t kAhead = 16;
    size_t index = 0;
    RecordRef lastBlock = kNullRef;
    for (size_t p = 0; p < list.PageCount(); ++p) {
      const RecordPage* page = list.Page(p);
      for (uint32_t s = page->first; s < page->end; ++s, ++index) {
        if (s + 2 * kAhead < page->end) __builtin_prefetch(page->slots[s + 2 * kAhead]);
        if (s + kAhead < page->end) moved_.Prefetch(FileRecord::Parent(page->slots[s + kAhead]));
        const uint8_t* r = page->slots[s];
        RecordRef parent;
        size_t copiedBefore = copies_.size();
        if (!NewRef(FileRecord::Parent(r), &parent)) return false;
        for (size_t k = copiedBefore; k < copies_.size(); ++k) strayRefs_.push_back(copyRefs_[k]);
        size_t size = FileRecord::Size(r);
        RecordRef ref;
        uint8_t* copy = fresh_.Alloc(size, &ref);
        if (!copy) return false;
        std::memcpy(copy, r, size);
        FileRecord::SetParent(copy, parent);
        if ((ref & ~RecordRef{0xFFF}) != lastBlock) {
          lastBlock = ref & ~RecordRef{0xFFF};
          fileBlockStarts_.push_back({index, ref});
        }
      }
    }
    return true;
  }

  // The fresh pool's copy of the file at list index `index`, after the
  // one at `previous` (kNullRef for the first).
  RecordRef NextFileCopy(size_t index, RecordRef previous) {
    if (nextStart_ < fileBlockStarts_.size() && fileBlockStarts_[nextStart_].first == index) {
      RecordRef at = fileBlockStarts_[nextStart_++].second;
      while (nextStray_ < strayRefs_.size() && strayRefs_[nextStray_] < at) ++nextStray_;
      return at;
    }
    RecordRef at = previous + static_cast<RecordRef>(FileRecord::Size(fresh_.Resolve(previous)));
    while (nextStray_ < strayRefs_.size() && strayRefs_[nextStray_] == at) {
      at += static_cast<RecordRef>(DirRecord::Size(fresh_.Resolve(at)));
      ++nextStray_;
    }
    return at;
  }

  // The copies take their new parents at once (a parent first met here is
  // copied and linked in turn); the second pool's folders, which are live,
  // only once everything is copied.
  bool LinkFolders() {
    for (size_t i = 0; i < copies_.size(); ++i) {
      RecordRef parent;
      if (!NewRef(DirRecord::Parent(copies_[i]), &parent)) return false;
      DirRecord::SetParent(copies_[i], parent);
    }
    for (uint8_t* r : secondPoolFolders_) {
      RecordRef parent;
      if (!NewRef(DirRecord::Parent(r), &parent)) return false;
      secondPoolParents_.push_back(parent);
    }
    return true;
  }

  void RemapMap() {
    DirMap& map = app_.dirMap;
    for (size_t p = 0; p < map.PageCount(); ++p) {
      DirMapPage* page = map.Page(p);
      for (uint32_t k = page->first; k < page->end; ++k) {
        RecordRef& ref = page->entries[k].record;
        if (ref == kNullRef || (ref & qvIndex::kSecondPoolTag)) continue;
        // An entry whose folder was not copied names nothing that stays.
        ref = moved_.Find(ref);
      }
    }
  }

  void ApplySlots() {
    for (size_t i = 0; i < secondPoolFolders_.size(); ++i)
      DirRecord::SetParent(secondPoolFolders_[i], secondPoolParents_[i]);
    size_t next = 0;
    RecordList& folders = app_.folderList;
    folders.ForEachSlot([&](uint8_t*& slot) {
      if (RefOf(slot) != kNullRef) slot = fresh_.Resolve(folderSlots_[next++]);
    });
    next = 0;
    // Only files of an extension that some real-case entry has can hold
    // one: the others skip the map.
    std::vector<bool> caseExt;
    app_.extCase.ForEach([&](const uint8_t* record, const qvString&) {
      uint32_t id = FileRecord::HasExtension(record) ? FileRecord::ExtId(record) : 0;
      if (id >= caseExt.size()) caseExt.resize(id + 1);
      caseExt[id] = true;
    });
    RecordList& files = app_.fileList;
    RecordRef at = kNullRef;
    files.ForEachSlot([&](uint8_t*& slot) {
      at = NextFileCopy(next++, at);
      uint8_t* copy = fresh_.Resolve(at);
      uint32_t id = FileRecord::HasExtension(copy) ? FileRecord::ExtId(copy) : 0;
      if (id < caseExt.size() && caseExt[id]) {
        if (const qvString* ext = app_.extCase.Get(slot)) {
          qvString text = *ext;
          app_.extCase.Erase(slot);
          app_.extCase.Set(copy, text.data(), text.size());
        }
      }
      slot = copy;
    });
  }

  qvIndex& app_;
  CMemoryPool fresh_;
  qvRefMoves moved_;
  std::vector<std::pair<const uint8_t*, uint32_t>> blocks_;  // first pool's blocks by address
  std::vector<uint8_t*> copies_;                             // every folder copy, in the order made
  std::vector<RecordRef> folderSlots_;  // the copy for each first-pool folder slot
  std::vector<RecordRef> copyRefs_;     // the ref of each of copies_
  // Where the file copies are: the list index and ref of the first file
  // copied into each block, and the folders copied among the files.
  std::vector<std::pair<size_t, RecordRef>> fileBlockStarts_;
  std::vector<RecordRef> strayRefs_;
  size_t nextStart_ = 0;
  size_t nextStray_ = 0;
  std::vector<uint8_t*> secondPoolFolders_;
  std::vector<RecordRef> secondPoolParents_;
};

}  // namespace

qvRefMoves::qvRefMoves(size_t expected) {
  size_t n = 64;
  while (n < expected * 2) n <<= 1;
  slots_.assign(n, {kNullRef, kNullRef});
  mask_ = n - 1;
}

RecordRef qvRefMoves::Find(RecordRef old) const {
  for (size_t i = Hash(old);; i = (i + 1) & mask_) {
    if (slots_[i].first == old) return slots_[i].second;
    if (slots_[i].first == kNullRef) return kNullRef;
  }
}

void qvRefMoves::Insert(RecordRef old, RecordRef fresh) {
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  Place(old, fresh);
}

void qvRefMoves::Swap(qvRefMoves& other) {
  slots_.swap(other.slots_);
  std::swap(mask_, other.mask_);
  std::swap(count_, other.count_);
}

void qvRefMoves::Place(RecordRef old, RecordRef fresh) {
  size_t i = Hash(old);
  while (slots_[i].first != kNullRef && slots_[i].first != old) i = (i + 1) & mask_;
  if (slots_[i].first == kNullRef) ++count_;
  slots_[i] = {old, fresh};
}

void qvRefMoves::Grow() {
  std::vector<std::pair<RecordRef, RecordRef>> old;
  old.swap(slots_);
  slots_.assign(old.size() * 2, {kNullRef, kNullRef});
  mask_ = slots_.size() - 1;
  count_ = 0;
  for (const auto& s : old)
    if (s.first != kNullRef) Place(s.first, s.second);
}

bool qvCompactRecords(qvIndex& app, qvRefMoves* moves) {
  try {
    return Compactor(app).Run(moves);
  } catch (const std::bad_alloc&) {
    return false;  // the live tables are untouched until every copy is made
  }
}
