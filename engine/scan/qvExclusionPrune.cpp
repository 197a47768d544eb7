#include "qvExclusionPrune.h"

#include <set>
#include <string>
#include <unordered_map>

#include "qvExclusions.h"
#include "qvIndex.h"
#include "qvIndexEdit.h"
#include "qvNameCodec.h"
#include "qvRecordPath.h"

namespace {

// The bytes of a record's name as the file system has it.
std::string NameBytes(const qvIndex& index, const uint8_t* record, bool isFolder) {
  qvChar name[2 * kMaxRecordNameBytes + 8];
  size_t n = qvBuildDisplayName(index, record, isFolder, name, sizeof name / sizeof name[0], nullptr, 0);
  return qvNameCodec::EncodeToString(std::u16string_view(name, n));
}

class Pruner {
 public:
  Pruner(qvIndex& index, const qvExclusions& rules) : index_(index), rules_(rules) {}

  size_t Run(std::vector<qvRemovedFolder>* removedFolders) {
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
      if (index_.volumes.indexed[slot]) LocateFolderRules(slot);
    std::vector<DirKey> gone;
    index_.folderList.RemoveIf([&](uint8_t* r) {
      if (DirRecord::Parent(r) == kNullRef) return false;  // a volume root
      RecordRef ref = index_.dirMap.FindRecord(DirRecord::Key(r));
      if (!Out(ref)) return false;
      gone.push_back(DirRecord::Key(r));
      return true;
    });
    index_.folderList.DropEmptyPages();
    for (DirKey key : gone) {
      index_.dirMap.ClearEntry(index_.dirMap.Find(key));
      if (removedFolders) removedFolders->push_back({DirKeySlot(key), key & QV_MAX_RECORD_NUMBER});
    }
    size_t files = 0;
    index_.fileList.RemoveIf([&](uint8_t* r) {
      RecordRef parent = FileRecord::Parent(r);
      bool out = Out(parent) || (rules_.HasNames() && rules_.ExcludesName(NameBytes(index_, r, false))) ||
                 (!filePaths_.empty() && filePaths_.count({parent, NameBytes(index_, r, false)}));
      if (!out) return false;
      index_.extCase.Erase(r);
      ++files;
      return true;
    });
    index_.fileList.DropEmptyPages();
    if (!gone.empty() || files) ++index_.generation;
    return gone.size() + files;
  }

 private:
  // Marks the folders that folder rules name on volume `slot`, found by
  // their names from the root; a rule naming a file is kept as (parent,
  // name) for the file pass.
  void LocateFolderRules(uint32_t slot) {
    if (!rules_.HasFolders()) return;
    std::string root = qvNameCodec::EncodeToString(index_.volumes.root[slot]);
    RecordRef rootRef = index_.dirMap.FindRecord(RootKey(slot));
    if (rootRef == kNullRef) return;
    qvExclusionScope scope(&rules_, root);
    if (scope.RootExcluded()) {
      rootOut_.insert(rootRef);
      return;
    }
    for (const std::string& relative : scope.Below()) {
      uint32_t parent = QV_ROOT_RECORD_NUMBER;
      size_t at = 0;
      for (;;) {
        size_t end = relative.find('/', at);
        qvString name = qvNameCodec::DecodeToString(relative.substr(at, end == std::string::npos ? end : end - at));
        if (end == std::string::npos) {
          uint32_t number = FindChildNumber(index_, slot, parent, name.data(), name.size(), true);
          if (number) marked_[index_.dirMap.FindRecord(MakeDirKey(slot, number))] = true;
          filePaths_.insert({index_.dirMap.FindRecord(MakeDirKey(slot, parent)), qvNameCodec::EncodeToString(name)});
          break;
        }
        parent = FindChildNumber(index_, slot, parent, name.data(), name.size(), true);
        if (!parent) break;
        at = end + 1;
      }
    }
  }

  // Whether folder `ref` is left out: by its own name or a folder rule, or
  // because a folder above it is. Remembered per folder, so each chain is
  // walked once.
  bool Out(RecordRef ref) {
    chain_.clear();
    bool verdict = false;
    for (size_t depth = 0; ref != kNullRef && depth < (1u << 16); ++depth) {
      auto it = verdict_.find(ref);
      if (it != verdict_.end()) {
        verdict = it->second;
        break;
      }
      chain_.push_back(ref);
      const uint8_t* r = index_.Resolve(ref);
      ref = r ? DirRecord::Parent(r) : kNullRef;
    }
    for (size_t i = chain_.size(); i-- > 0;) {
      verdict = verdict || OwnVerdict(chain_[i]);
      verdict_[chain_[i]] = verdict;
    }
    return verdict;
  }

  bool OwnVerdict(RecordRef ref) {
    if (marked_.count(ref)) return true;
    const uint8_t* r = index_.Resolve(ref);
    if (!r) return false;
    if (DirRecord::Parent(r) == kNullRef) return rootOut_.count(ref) != 0;  // roots go by path only
    return rules_.HasNames() && rules_.ExcludesName(NameBytes(index_, r, true));
  }

  qvIndex& index_;
  const qvExclusions& rules_;
  std::unordered_map<RecordRef, bool> marked_;
  std::set<RecordRef> rootOut_;
  std::set<std::pair<RecordRef, std::string>> filePaths_;
  std::unordered_map<RecordRef, bool> verdict_;
  std::vector<RecordRef> chain_;
};

}  // namespace

size_t qvPruneExcluded(qvIndex& index, const qvExclusions& rules, std::vector<qvRemovedFolder>* removedFolders) {
  if (rules.Empty()) return 0;
  return Pruner(index, rules).Run(removedFolders);
}
