#include "qvIndexEdit.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "qvCollation.h"
#include "qvIndex.h"
#include "qvPackedName.h"
#include "qvPagedInsert.h"

namespace qvIndexEdit {
namespace {

constexpr size_t kMaxNameBytes = kMaxRecordNameBytes;
constexpr size_t kMaxRecord = 16 + kMaxNameBytes;

bool FolderLess(uint8_t* a, uint8_t* b) { return qvCollation::CompareFolders(a, b) < 0; }
bool KeyLess(const DirMapEntry& a, const DirMapEntry& b) { return a.key < b.key; }

struct FileLess {
  const ExtTable& ext;
  bool operator()(uint8_t* a, uint8_t* b) const { return qvCollation::CompareFiles(a, b, ext) < 0; }
};

bool Storable(uint32_t number, uint32_t parent, Name name) {
  return number <= QV_MAX_RECORD_NUMBER && parent <= QV_MAX_RECORD_NUMBER && !name.empty() &&
         name.size() <= kMaxNameBytes;
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

// Builds a folder record in the second pool and puts it into the map and
// the list; returns its ref or kNullRef.
RecordRef InsertFolder(qvIndex& index, uint32_t slot, uint32_t parentNumber, uint32_t number, Name name) {
  RecordRef parent = index.dirMap.FindRecord(MakeDirKey(slot, parentNumber));
  if (parent == kNullRef) return kNullRef;
  size_t bytes = PackedName::EncodedLength(name.data(), name.size());
  if (bytes > kMaxNameBytes) return kNullRef;
  RecordRef ref;
  uint8_t* rec = index.secondPool.Alloc(DirRecord::kHeaderSize + bytes, &ref);
  if (!rec) return kNullRef;
  DirKey key = MakeDirKey(slot, number);
  uint8_t packed[kMaxNameBytes];
  PackedName::Encode(name.data(), name.size(), packed);
  DirRecord::Write(rec, key, parent, packed, static_cast<uint16_t>(bytes), bytes > name.size());
  if (!MapInsert(index.dirMap, key, ref)) return kNullRef;
  if (!qvPaged::Insert(index.folderList, rec, FolderLess)) return kNullRef;
  return ref;
}

// A file record for `name`, written to `out` (kMaxRecord bytes). Returns
// its size, or 0 when the extension is unknown and `addExtension` is
// false (no such file can be in the index).
size_t BuildFileRecord(qvIndex& index, uint32_t number, Name name, RecordRef parent, bool addExtension, uint8_t* out,
                       bool* realCase) {
  long dot = qvFindExtensionDot(name.data(), name.size());
  size_t baseUnits = dot < 0 ? name.size() : static_cast<size_t>(dot);
  bool hasExt = dot >= 0;
  uint32_t extId = 0;
  *realCase = false;
  if (hasExt) {
    qvChar ext[kMaxNameBytes];
    size_t extUnits = name.size() - baseUnits - 1;
    std::copy(name.begin() + baseUnits + 1, name.end(), ext);
    *realCase = ExtCaseMap::NeedsEntry(ext, extUnits);
    if (addExtension) {
      extId = index.extTable.FindOrAdd(ext, extUnits);
      if (extId == UINT32_MAX) return 0;
    } else {
      for (size_t i = 0; i < extUnits; ++i) ext[i] = qvFoldUnit(ext[i]);
      int64_t found = index.extTable.Find(ext, extUnits);
      if (found < 0) return 0;
      extId = static_cast<uint32_t>(found);
    }
  }
  size_t bytes = PackedName::EncodedLength(name.data(), baseUnits);
  if (bytes > kMaxNameBytes) return 0;
  uint8_t packed[kMaxNameBytes];
  PackedName::Encode(name.data(), baseUnits, packed);
  uint32_t flags = FileRecord::MakeFlags(number, bytes, bytes > baseUnits, hasExt, extId);
  FileRecord::Write(out, flags, parent, packed, static_cast<uint16_t>(bytes), extId);
  return FileRecord::SizeFor(bytes, hasExt, extId);
}

bool InsertFile(qvIndex& index, uint32_t slot, uint32_t parentNumber, uint32_t number, Name name) {
  RecordRef parent = index.dirMap.FindRecord(MakeDirKey(slot, parentNumber));
  if (parent == kNullRef) return false;
  uint8_t temp[kMaxRecord];
  bool realCase;
  size_t size = BuildFileRecord(index, number, name, parent, true, temp, &realCase);
  if (size == 0) return false;
  uint8_t* rec = index.recordPool.Alloc(size);
  if (!rec) return false;
  std::memcpy(rec, temp, size);
  if (!qvPaged::Insert(index.fileList, rec, FileLess{index.extTable})) return false;
  if (realCase) {
    size_t dot = static_cast<size_t>(qvFindExtensionDot(name.data(), name.size()));
    index.extCase.Set(rec, name.data() + dot + 1, name.size() - dot - 1);
  }
  return true;
}

// Every folder and file whose parent is `from` now has `to`.
void Reparent(qvIndex& index, RecordRef from, RecordRef to) {
  index.folderList.ForEach([&](uint8_t* r) {
    if (DirRecord::Parent(r) == from) DirRecord::SetParent(r, to);
  });
  index.fileList.ForEach([&](uint8_t* r) {
    if (FileRecord::Parent(r) == from) FileRecord::SetParent(r, to);
  });
}

}  // namespace

bool AddEntry(qvIndex& index, uint32_t slot, uint32_t parent, uint32_t number, Name name, bool isFolder) {
  if (slot >= QV_VOLUME_SLOTS || !Storable(number, parent, name)) return false;
  return isFolder ? InsertFolder(index, slot, parent, number, name) != kNullRef
                  : InsertFile(index, slot, parent, number, name);
}

bool RemoveFile(qvIndex& index, uint32_t slot, uint32_t parentNumber, uint32_t number, Name name) {
  if (slot >= QV_VOLUME_SLOTS || !Storable(number, parentNumber, name)) return false;
  // Record numbers repeat across volumes, so the file must also sit in the
  // folder named; a removal under an unknown folder does nothing.
  RecordRef parent = index.dirMap.FindRecord(MakeDirKey(slot, parentNumber));
  if (parent == kNullRef) return false;
  uint8_t temp[kMaxRecord];
  uint8_t* probe = temp;
  bool realCase;
  if (BuildFileRecord(index, number, name, kNullRef, false, temp, &realCase) == 0) return false;
  uint32_t keyWord = FileRecord::Flags(temp);
  uint8_t* removed = nullptr;
  bool done = qvPaged::Remove(index.fileList, probe, FileLess{index.extTable}, [&](uint8_t* x) {
    if (FileRecord::Flags(x) != keyWord || FileRecord::Parent(x) != parent) return false;
    removed = x;
    return true;
  });
  if (done) {
    index.extCase.Erase(removed);
    ++index.generation;
  }
  return done;
}

RecordRef DetachFolder(qvIndex& index, uint32_t slot, uint32_t number) {
  if (slot >= QV_VOLUME_SLOTS || number > QV_MAX_RECORD_NUMBER) return kNullRef;
  DirMapEntry* e = index.dirMap.Find(MakeDirKey(slot, number));
  if (!e || e->record == kNullRef) return kNullRef;
  RecordRef ref = e->record;
  uint8_t* rec = index.Resolve(ref);
  ++index.generation;
  index.dirMap.ClearEntry(e);
  qvPaged::Remove(index.folderList, rec, FolderLess, [rec](uint8_t* x) { return x == rec; });
  return ref;
}

bool AttachFolder(qvIndex& index, uint32_t slot, uint32_t parent, uint32_t number, Name name, RecordRef detached) {
  if (slot >= QV_VOLUME_SLOTS || !Storable(number, parent, name)) return false;
  RecordRef added = InsertFolder(index, slot, parent, number, name);
  if (added == kNullRef) return false;
  if (detached != kNullRef) Reparent(index, detached, added);
  return true;
}

bool RemoveFolder(qvIndex& index, uint32_t slot, uint32_t number) {
  return DetachFolder(index, slot, number) != kNullRef;
}

bool MoveEntry(qvIndex& index, uint32_t slot, uint32_t number, uint32_t parent, Name name, uint32_t toParent,
               Name toName, bool isFolder) {
  if (slot >= QV_VOLUME_SLOTS || !Storable(number, toParent, toName) || parent > QV_MAX_RECORD_NUMBER) return false;
  if (index.dirMap.FindRecord(MakeDirKey(slot, toParent)) == kNullRef) return false;
  if (!isFolder) {
    // The real case of the extension goes with the name: the new name
    // brings its own.
    return RemoveFile(index, slot, parent, number, name) && InsertFile(index, slot, toParent, number, toName);
  }
  // A folder cannot move below itself.
  for (RecordRef r = index.dirMap.FindRecord(MakeDirKey(slot, toParent)); r != kNullRef;) {
    const uint8_t* rec = index.Resolve(r);
    if (!rec) break;
    if (DirRecord::Key(rec) == MakeDirKey(slot, number)) return false;
    RecordRef up = DirRecord::Parent(rec);
    if (up == r) break;
    r = up;
  }
  RecordRef old = DetachFolder(index, slot, number);
  if (old == kNullRef) return false;
  return AttachFolder(index, slot, toParent, number, toName, old);
}

uint32_t FindChildNumber(qvIndex& index, uint32_t slot, uint32_t parentNumber, const qvChar* name,
                         size_t nameLength, bool isFolder) {
  if (slot >= QV_VOLUME_SLOTS || parentNumber > QV_MAX_RECORD_NUMBER) return 0;
  RecordRef parent = index.dirMap.FindRecord(MakeDirKey(slot, parentNumber));
  if (parent == kNullRef || nameLength == 0 || nameLength > kMaxNameBytes) return 0;
  Name wanted(name, nameLength);
  uint8_t temp[kMaxRecord];
  uint8_t* probe = temp;
  if (isFolder) {
    size_t bytes = PackedName::EncodedLength(name, nameLength);
    if (bytes > kMaxNameBytes) return 0;
    uint8_t packed[kMaxNameBytes];
    PackedName::Encode(name, nameLength, packed);
    DirRecord::Write(temp, 0, parent, packed, static_cast<uint16_t>(bytes), bytes > nameLength);
    // Names that collate equal but differ in case are different folders
    // here: compare the bytes too.
    auto same = [&](uint8_t* x) {
      return DirRecord::Parent(x) == parent && DirRecord::NameLength(x) == bytes &&
             std::memcmp(DirRecord::Name(x), packed, bytes) == 0;
    };
    auto less = FolderLess;
    qvPaged::Position at = qvPaged::FindEqual(index.folderList, probe, less, same);
    if (!at.found) return 0;
    return DirRecord::Key(index.folderList.Page(at.page)->slots[at.slot]) & QV_MAX_RECORD_NUMBER;
  }
  bool realCase;
  if (BuildFileRecord(index, 0, wanted, parent, false, temp, &realCase) == 0) return 0;
  qvString wantedExt;
  long dot = qvFindExtensionDot(name, nameLength);
  if (dot >= 0) wantedExt.assign(name + dot + 1, name + nameLength);
  auto same = [&](uint8_t* x) {
    if (FileRecord::Parent(x) != parent || FileRecord::NameLength(x) != FileRecord::NameLength(temp) ||
        std::memcmp(FileRecord::Name(x), FileRecord::Name(temp), FileRecord::NameLength(temp)) != 0)
      return false;
    if (dot < 0) return true;
    const qvString* real = index.extCase.Get(x);
    return wantedExt == (real ? real->c_str() : index.extTable.Text(FileRecord::ExtId(x)));
  };
  FileLess less{index.extTable};
  qvPaged::Position at = qvPaged::FindEqual(index.fileList, probe, less, same);
  if (!at.found) return 0;
  return FileRecord::RecordNumber(index.fileList.Page(at.page)->slots[at.slot]);
}

bool RemoveTree(qvIndex& index, uint32_t slot, uint32_t number, std::vector<uint32_t>* removedFolders) {
  if (slot >= QV_VOLUME_SLOTS || number > QV_MAX_RECORD_NUMBER) return false;
  RecordRef target = index.dirMap.FindRecord(MakeDirKey(slot, number));
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
      const uint8_t* r = index.Resolve(ref);
      ref = r ? DirRecord::Parent(r) : kNullRef;
    }
    for (RecordRef c : chain) below[c] = verdict;
    return verdict;
  };
  ++index.generation;
  std::vector<DirKey> gone;
  const uint8_t* targetRecord = index.Resolve(target);
  index.folderList.RemoveIf([&](uint8_t* r) {
    if (DirKeySlot(DirRecord::Key(r)) != slot) return false;
    bool out = r == targetRecord || isBelow(DirRecord::Parent(r));
    if (out) {
      gone.push_back(DirRecord::Key(r));
      below[index.dirMap.FindRecord(DirRecord::Key(r))] = true;  // for the files inside it
    }
    return out;
  });
  index.folderList.DropEmptyPages();
  for (DirKey key : gone) {
    index.dirMap.ClearEntry(index.dirMap.Find(key));
    if (removedFolders) removedFolders->push_back(key & QV_MAX_RECORD_NUMBER);
  }
  index.fileList.RemoveIf([&](uint8_t* r) {
    auto it = below.find(FileRecord::Parent(r));
    if (it == below.end() || !it->second) return false;
    index.extCase.Erase(r);
    return true;
  });
  index.fileList.DropEmptyPages();
  return true;
}

uint32_t MaxRecordNumber(const qvIndex& index, uint32_t slot) {
  uint32_t most = QV_ROOT_RECORD_NUMBER;
  index.folderList.ForEach([&](const uint8_t* r) {
    DirKey key = DirRecord::Key(r);
    if (DirKeySlot(key) == slot) most = std::max(most, key & QV_MAX_RECORD_NUMBER);
  });
  index.fileList.ForEach([&](const uint8_t* r) {
    const uint8_t* parent = index.Resolve(FileRecord::Parent(r));
    if (parent && DirKeySlot(DirRecord::Key(parent)) == slot) most = std::max(most, FileRecord::RecordNumber(r));
  });
  return most;
}

}  // namespace qvIndexEdit
