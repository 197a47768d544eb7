// Applying change-journal records to the record store: folders and files
// added, renamed and removed in place, keeping both lists in order.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "qvCollation.h"
#include "qvFileBaseApp.h"
#include "qvJournal.h"
#include "qvKearchImpl.h"
#include "qvPackedName.h"
#include "qvPagedInsert.h"
#include "qvSearchDriver.h"
#include "qvStreamScan.h"

namespace {

constexpr size_t kMaxRecord = 16 + qvStreamScan::kMaxNameBytes;

bool FolderLess(uint8_t* a, uint8_t* b) { return qvCollation::CompareFolders(a, b) < 0; }
bool KeyLess(const DirMapEntry& a, const DirMapEntry& b) { return a.key < b.key; }

struct FileLess {
  const ExtTable& ext;
  bool operator()(uint8_t* a, uint8_t* b) const { return qvCollation::CompareFiles(a, b, ext) < 0; }
};

// The renamed-folder slot: carries a folder's identity from the record of
// its old name to the record of its new one.
struct RenamedFolder {
  RecordRef oldRef = kNullRef;
};
RenamedFolder g_renamed;

DirKey KeyOf(uint32_t slot, uint64_t ref) { return MakeDirKey(slot, static_cast<uint32_t>(ref)); }

bool Representable(const JournalRecord& r) {
  return static_cast<uint32_t>(r.fileRef) <= QV_MAX_RECORD_NUMBER &&
         static_cast<uint32_t>(r.parentRef) <= QV_MAX_RECORD_NUMBER && r.nameLength > 0 &&
         r.nameLength <= qvStreamScan::kMaxNameBytes;
}

// Puts (key, ref) into the folder map; an entry left by a removal takes
// the new record.
bool MapInsert(DirMap& map, DirKey key, RecordRef ref) {
  if (DirMapEntry* e = map.Find(key)) {
    if (e->record == kNullRef) map.AdjustCount(1);
    e->record = ref;
    return true;
  }
  return qvPaged::Insert(map, DirMapEntry{key, ref}, KeyLess);
}

// Builds a folder record in the second pool; returns its ref or kNullRef.
RecordRef AddFolder(qvFileBaseApp& app, uint32_t slot, const JournalRecord& r) {
  std::lock_guard<std::mutex> guard(app.folderList.Lock());
  RecordRef parent = app.dirMap.FindRecord(KeyOf(slot, r.parentRef));
  if (parent == kNullRef) return kNullRef;
  size_t bytes = PackedName::EncodedLength(r.name, r.nameLength);
  if (bytes > qvStreamScan::kMaxNameBytes) return kNullRef;
  RecordRef ref;
  uint8_t* rec = app.secondPool.Alloc(DirRecord::kHeaderSize + bytes, &ref);
  if (!rec) return kNullRef;
  DirKey key = KeyOf(slot, r.fileRef);
  uint8_t name[qvStreamScan::kMaxNameBytes];
  PackedName::Encode(r.name, r.nameLength, name);
  DirRecord::Write(rec, key, parent, name, static_cast<uint16_t>(bytes), bytes > r.nameLength);
  if (!MapInsert(app.dirMap, key, ref)) return kNullRef;
  if (!qvPaged::Insert(app.folderList, rec, FolderLess)) return kNullRef;
  return ref;
}

// Takes a folder out of the map and the list; returns its ref.
RecordRef RemoveFolder(qvFileBaseApp& app, uint32_t slot, uint64_t fileRef) {
  std::lock_guard<std::mutex> guard(app.folderList.Lock());
  DirMapEntry* e = app.dirMap.Find(KeyOf(slot, fileRef));
  if (!e || e->record == kNullRef) return kNullRef;
  RecordRef ref = e->record;
  uint8_t* rec = app.Resolve(ref);
  app.dirMap.ClearEntry(e);
  qvPaged::Remove(app.folderList, rec, FolderLess, [rec](uint8_t* x) { return x == rec; });
  return ref;
}

// A file record of the journal's name, written to `out` (kMaxRecord
// bytes). Returns its size, or 0 when the extension is unknown and
// `addExtension` is false.
size_t BuildFileRecord(qvFileBaseApp& app, uint32_t slot, const JournalRecord& r, RecordRef parent, bool addExtension,
                       uint8_t* out, bool* realCase) {
  (void)slot;
  long dot = qvFindExtensionDot(r.name, r.nameLength);
  size_t baseUnits = dot < 0 ? r.nameLength : static_cast<size_t>(dot);
  bool hasExt = dot >= 0;
  uint32_t extId = 0;
  *realCase = false;
  if (hasExt) {
    qvChar ext[qvStreamScan::kMaxNameBytes];
    size_t extUnits = r.nameLength - baseUnits - 1;
    std::copy(r.name + baseUnits + 1, r.name + r.nameLength, ext);
    *realCase = ExtCaseMap::NeedsEntry(ext, extUnits);
    if (addExtension) {
      extId = app.extTable.FindOrAdd(ext, extUnits);
      if (extId == UINT32_MAX) return 0;
    } else {
      for (size_t i = 0; i < extUnits; ++i) ext[i] = qvFoldUnit(ext[i]);
      int64_t found = app.extTable.Find(ext, extUnits);
      if (found < 0) return 0;
      extId = static_cast<uint32_t>(found);
    }
  }
  size_t bytes = PackedName::EncodedLength(r.name, baseUnits);
  if (bytes > qvStreamScan::kMaxNameBytes) return 0;
  uint8_t name[qvStreamScan::kMaxNameBytes];
  PackedName::Encode(r.name, baseUnits, name);
  uint32_t flags = FileRecord::MakeFlags(static_cast<uint32_t>(r.fileRef), bytes, bytes > baseUnits, hasExt, extId);
  FileRecord::Write(out, flags, parent, name, static_cast<uint16_t>(bytes), extId);
  return FileRecord::SizeFor(bytes, hasExt, extId);
}

bool AddFile(qvFileBaseApp& app, uint32_t slot, const JournalRecord& r) {
  std::lock_guard<std::mutex> guard(app.fileList.Lock());
  RecordRef parent = app.dirMap.FindRecord(KeyOf(slot, r.parentRef));
  if (parent == kNullRef) return false;
  uint8_t temp[kMaxRecord];
  bool realCase;
  size_t size = BuildFileRecord(app, slot, r, parent, true, temp, &realCase);
  if (size == 0) return false;
  uint8_t* rec = app.recordPool.Alloc(size);
  if (!rec) return false;
  std::memcpy(rec, temp, size);
  if (!qvPaged::Insert(app.fileList, rec, FileLess{app.extTable})) return false;
  if (realCase) {
    size_t dot = static_cast<size_t>(qvFindExtensionDot(r.name, r.nameLength));
    app.extCase.Set(rec, r.name + dot + 1, r.nameLength - dot - 1);
  }
  return true;
}

bool RemoveFile(qvFileBaseApp& app, uint32_t slot, const JournalRecord& r) {
  std::lock_guard<std::mutex> guard(app.fileList.Lock());
  uint8_t temp[kMaxRecord];
  uint8_t* probeRecord = temp;
  bool realCase;
  if (BuildFileRecord(app, slot, r, kNullRef, false, temp, &realCase) == 0) return false;
  uint32_t keyWord = FileRecord::Flags(temp);
  uint8_t* removed = nullptr;
  // Record numbers repeat across volumes, so the file must also sit in the
  // folder the record names; a delete under an unknown folder does nothing.
  RecordRef parent = app.dirMap.FindRecord(KeyOf(slot, r.parentRef));
  if (parent == kNullRef) return false;
  bool done = qvPaged::Remove(app.fileList, probeRecord, FileLess{app.extTable}, [&](uint8_t* x) {
    if (FileRecord::Flags(x) != keyWord || FileRecord::Parent(x) != parent) return false;
    removed = x;
    return true;
  });
  if (done) app.extCase.Erase(removed);
  return done;
}

// Every folder and file whose parent is `from` now has `to`.
void Reparent(qvFileBaseApp& app, RecordRef from, RecordRef to) {
  std::lock_guard<std::mutex> folders(app.folderList.Lock());
  for (size_t p = 0; p < app.folderList.PageCount(); ++p) {
    RecordPage* page = app.folderList.Page(p);
    for (uint32_t s = page->first; s < page->end; ++s)
      if (DirRecord::Parent(page->slots[s]) == from) DirRecord::SetParent(page->slots[s], to);
  }
  std::lock_guard<std::mutex> files(app.fileList.Lock());
  for (size_t p = 0; p < app.fileList.PageCount(); ++p) {
    RecordPage* page = app.fileList.Page(p);
    for (uint32_t s = page->first; s < page->end; ++s)
      if (FileRecord::Parent(page->slots[s]) == from) FileRecord::SetParent(page->slots[s], to);
  }
}

}  // namespace

bool ApplyJournalRecord([[maybe_unused]] qvKearchImpl& engine, uint32_t slot, const JournalRecord& r) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (!app || slot >= QV_VOLUME_SLOTS || !Representable(r)) return false;
  const uint32_t reason = r.reason;
  const bool folder = (r.attributes & QV_ATTR_DIRECTORY) != 0;
  const bool close = (reason & USN_REASON_CLOSE) != 0;
  const bool create = (reason & USN_REASON_FILE_CREATE) != 0;
  bool applied = false;
  if (create && close) {
    applied = folder ? AddFolder(*app, slot, r) != kNullRef : AddFile(*app, slot, r);
  } else if ((reason & USN_REASON_RENAME_NEW_NAME) && close) {
    if (folder) {
      RecordRef added = AddFolder(*app, slot, r);
      applied = added != kNullRef;
      if (applied && g_renamed.oldRef != kNullRef) Reparent(*app, g_renamed.oldRef, added);
      g_renamed.oldRef = kNullRef;
    } else {
      applied = AddFile(*app, slot, r);
    }
  } else if ((reason & USN_REASON_RENAME_OLD_NAME) && !create) {
    if (folder) {
      RecordRef old = RemoveFolder(*app, slot, r.fileRef);
      applied = old != kNullRef;
      if (applied) g_renamed.oldRef = old;
    } else {
      applied = RemoveFile(*app, slot, r);
    }
  } else if ((reason & USN_REASON_RENAME_OLD_NAME) && create) {
    applied = false;
  } else if ((reason & USN_REASON_FILE_DELETE) && close && !create) {
    applied = folder ? RemoveFolder(*app, slot, r.fileRef) != kNullRef : RemoveFile(*app, slot, r);
  }
  if (!applied || app->patternSet.Empty()) return false;
  std::vector<qvChar> name(r.name, r.name + r.nameLength);
  return app->patternSet.MatchName(name.data(), name.size());
}

void ApplyJournalBatch(qvKearchImpl& engine, uint32_t slot, const JournalRecord* records, size_t count) {
  bool searchDue = false;
  for (size_t i = 0; i < count; ++i) searchDue |= ApplyJournalRecord(engine, slot, records[i]);
  if (searchDue) RunSearch(engine);
}

uint32_t FindChildNumber(qvFileBaseApp& app, uint32_t slot, uint32_t parentNumber, const qvChar* name,
                         size_t nameLength, bool isFolder) {
  RecordRef parent = app.dirMap.FindRecord(MakeDirKey(slot, parentNumber));
  if (parent == kNullRef || nameLength == 0 || nameLength > qvStreamScan::kMaxNameBytes) return 0;
  JournalRecord probe{0, 0, 0, parentNumber, name, static_cast<uint32_t>(nameLength)};
  uint8_t temp[kMaxRecord];
  uint8_t* probeRecord = temp;
  if (isFolder) {
    size_t bytes = PackedName::EncodedLength(name, nameLength);
    if (bytes > qvStreamScan::kMaxNameBytes) return 0;
    uint8_t packed[qvStreamScan::kMaxNameBytes];
    PackedName::Encode(name, nameLength, packed);
    DirRecord::Write(temp, 0, parent, packed, static_cast<uint16_t>(bytes), bytes > nameLength);
    // Names that collate equal but differ in case are different folders
    // here: compare the bytes too.
    auto same = [&](uint8_t* x) {
      return DirRecord::Parent(x) == parent && DirRecord::NameLength(x) == bytes &&
             std::memcmp(DirRecord::Name(x), packed, bytes) == 0;
    };
    auto less = FolderLess;
    qvPaged::Position at = qvPaged::FindEqual(app.folderList, probeRecord, less, same);
    if (!at.found) return 0;
    return DirRecord::Key(app.folderList.Page(at.page)->slots[at.slot]) & QV_MAX_RECORD_NUMBER;
  }
  bool realCase;
  if (BuildFileRecord(app, slot, probe, parent, false, temp, &realCase) == 0) return 0;
  qvString wantedExt;
  long dot = qvFindExtensionDot(name, nameLength);
  if (dot >= 0) wantedExt.assign(name + dot + 1, name + nameLength);
  auto same = [&](uint8_t* x) {
    if (FileRecord::Parent(x) != parent || FileRecord::NameLength(x) != FileRecord::NameLength(temp) ||
        std::memcmp(FileRecord::Name(x), FileRecord::Name(temp), FileRecord::NameLength(temp)) != 0)
      return false;
    if (dot < 0) return true;
    const qvString* real = app.extCase.Get(x);
    return wantedExt == (real ? real->c_str() : app.extTable.Text(FileRecord::ExtId(x)));
  };
  FileLess less{app.extTable};
  qvPaged::Position at = qvPaged::FindEqual(app.fileList, probeRecord, less, same);
  if (!at.found) return 0;
  return FileRecord::RecordNumber(app.fileList.Page(at.page)->slots[at.slot]);
}

bool RemoveFolderTree(qvFileBaseApp& app, uint32_t slot, uint32_t folderNumber,
                      std::vector<uint32_t>* removedFolders) {
  RecordRef target = app.dirMap.FindRecord(MakeDirKey(slot, folderNumber));
  if (target == kNullRef) return false;
  // Whether a folder lies at or below the target, remembered per folder so
  // that each chain is walked once.
  std::unordered_map<RecordRef, bool> below;
  below[target] = true;
  std::vector<RecordRef> chain;
  auto isBelow = [&](RecordRef ref) {
    chain.clear();
    bool verdict = false;
    for (size_t depth = 0; ref != kNullRef && depth < (1u << 16); ++depth) {
      auto it = below.find(ref);
      if (it != below.end()) {
        verdict = it->second;
        break;
      }
      chain.push_back(ref);
      const uint8_t* r = app.Resolve(ref);
      ref = r ? DirRecord::Parent(r) : kNullRef;
    }
    for (RecordRef c : chain) below[c] = verdict;
    return verdict;
  };
  std::vector<DirKey> gone;
  {
    std::lock_guard<std::mutex> folders(app.folderList.Lock());
    const uint8_t* targetRecord = app.Resolve(target);
    app.folderList.RemoveIf([&](uint8_t* r) {
      if (DirKeySlot(DirRecord::Key(r)) != slot) return false;
      bool out = r == targetRecord || isBelow(DirRecord::Parent(r));
      if (out) {
        gone.push_back(DirRecord::Key(r));
        below[app.dirMap.FindRecord(DirRecord::Key(r))] = true;  // for the files inside it
      }
      return out;
    });
    app.folderList.DropEmptyPages();
    for (DirKey key : gone) {
      app.dirMap.ClearEntry(app.dirMap.Find(key));
      if (removedFolders) removedFolders->push_back(key & QV_MAX_RECORD_NUMBER);
    }
  }
  std::lock_guard<std::mutex> files(app.fileList.Lock());
  app.fileList.RemoveIf([&](uint8_t* r) {
    auto it = below.find(FileRecord::Parent(r));
    if (it == below.end() || !it->second) return false;
    app.extCase.Erase(r);
    return true;
  });
  app.fileList.DropEmptyPages();
  return true;
}

bool JournalRenamePending() { return g_renamed.oldRef != kNullRef; }

uint32_t MaxRecordNumber(qvFileBaseApp& app, uint32_t slot) {
  uint32_t most = QV_ROOT_RECORD_NUMBER;
  for (size_t p = 0; p < app.folderList.PageCount(); ++p) {
    RecordPage* page = app.folderList.Page(p);
    for (uint32_t s = page->first; s < page->end; ++s) {
      DirKey key = DirRecord::Key(page->slots[s]);
      if (DirKeySlot(key) == slot) most = std::max(most, key & QV_MAX_RECORD_NUMBER);
    }
  }
  for (size_t p = 0; p < app.fileList.PageCount(); ++p) {
    RecordPage* page = app.fileList.Page(p);
    for (uint32_t s = page->first; s < page->end; ++s) {
      const uint8_t* parent = app.Resolve(FileRecord::Parent(page->slots[s]));
      if (parent && DirKeySlot(DirRecord::Key(parent)) == slot)
        most = std::max(most, FileRecord::RecordNumber(page->slots[s]));
    }
  }
  return most;
}
