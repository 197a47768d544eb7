// The "exclude" option of the engine object: the rules parsed and put in
// force, the scan and the load made to obey them, and a change once the
// index is ready: what the rules now leave out is removed at once under the
// engine lock, and what they let back in is walked in outside it (by the
// live monitor where there is one, else by scanning its volume again).
#include <algorithm>
#include <string>
#include <vector>

#include "qvErrorBox.h"
#include "qvExclusionPrune.h"
#include "qvFileBaseApp.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"
#include "qvStreamScan.h"

namespace {

using Reinclusion = qvVolumeMonitor::Reinclusion;

bool Holds(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

bool IsBelow(const std::string& path, const std::string& root) {
  std::string prefix = root;
  if (prefix.empty() || prefix.back() != '/') prefix.push_back('/');
  return prefix == "/" ? path.size() > 1 : path.compare(0, prefix.size(), prefix) == 0 && path.size() > prefix.size();
}

// What volume `slot` (root text `root`) gets back when the rules go from
// `before` to `now`: the whole volume when its root or a name pattern is
// no longer excluded, else each folder rule dropped below the root.
void Returning(const qvExclusions& before, const qvExclusions& now, uint32_t slot, const std::string& root,
               std::vector<Reinclusion>* back) {
  bool rootBack = before.CoversPath(root) && !now.CoversPath(root);
  bool nameBack = std::any_of(before.Names().begin(), before.Names().end(),
                              [&](const std::string& n) { return !Holds(now.Names(), n); });
  if (now.CoversPath(root)) return;
  if (rootBack || nameBack) {
    back->push_back({slot, std::string()});
    return;
  }
  for (const std::string& folder : before.Folders())
    if (!Holds(now.Folders(), folder) && IsBelow(folder, root) && !now.CoversPath(folder))
      back->push_back({slot, folder});
}

// Entries of one volume copied out of the source's batches.
struct Listing {
  std::vector<ScanEntry> entries;
  std::vector<qvString> names;
};

}  // namespace

bool qvKearchImpl::SetExclusions(const char* text) {
  qvExclusions parsed;
  std::string bad;
  if (!qvExclusions::Parse(text ? text : "", &parsed, &bad)) {
    ShowErrorBox("排除规则无效：%s", bad.c_str());
    return false;
  }
  exclusions_.rules.Set(std::make_shared<const qvExclusions>(std::move(parsed)));
  // Before the index is ready the start catches up by itself.
  if (ready.load()) CatchUpExclusions();
  return true;
}

// At the start of a scan: true when the source leaves out what the rules
// exclude itself, false when the scan's result must be pruned.
bool qvKearchImpl::GiveSourceExclusions() {
  std::shared_ptr<const qvExclusions> rules = Exclusions();
  std::lock_guard<std::mutex> change(exclusions_.changing);
  exclusions_.applied = rules;
  return source_ && source_->SetExclusions(rules);
}

void qvKearchImpl::PruneToExclusions(std::shared_ptr<const qvExclusions> rules) {
  std::lock_guard<std::mutex> change(exclusions_.changing);
  {
    qvMutexLock guard(lock);
    qvPruneExcluded(IndexLocked(), *rules, nullptr);
  }
  exclusions_.applied = std::move(rules);
}

void qvKearchImpl::CatchUpExclusions() {
  std::lock_guard<std::mutex> change(exclusions_.changing);
  std::shared_ptr<const qvExclusions> now = Exclusions();
  std::shared_ptr<const qvExclusions> before = exclusions_.applied;
  if (!before) before = std::make_shared<const qvExclusions>();
  exclusions_.applied = now;
  if (*now == *before) return;
  bool filtered = source_ && source_->SetExclusions(now);

  std::vector<Reinclusion> back;
  std::vector<qvRemovedFolder> removed;
  {
    qvMutexLock guard(lock);
    qvFileBaseApp& app = IndexLocked();
    for (uint32_t slot = 0; slot < QV_VOLUME_SLOTS; ++slot)
      if (app.volumes.indexed[slot])
        Returning(*before, *now, slot, qvNameCodec::EncodeToString(app.volumes.root[slot]), &back);
    qvPruneExcluded(app, *now, &removed);
    RunSearchLocked();
  }
  // The folders that left are no longer followed (the monitor's own lock).
  for (uint32_t slot = 0; monitor_ && slot < QV_VOLUME_SLOTS; ++slot) {
    std::vector<uint32_t> numbers;
    for (const qvRemovedFolder& f : removed)
      if (f.first == slot) numbers.push_back(f.second);
    if (!numbers.empty()) monitor_->ForgetFolders(slot, numbers);
  }
  if (back.empty() || offline_ || !source_) return;
  if (monitor_) {
    monitor_->WalkIn(std::move(back));
    return;
  }
  // Without a monitor the volumes that get something back are scanned
  // again on this thread, then swapped in under the lock.
  std::vector<uint32_t> slots;
  for (const Reinclusion& r : back)
    if (std::find(slots.begin(), slots.end(), r.slot) == slots.end()) slots.push_back(r.slot);
  for (uint32_t slot : slots) {
    int sourceIndex;
    qvString root;
    {
      qvMutexLock guard(lock);
      sourceIndex = IndexLocked().volumes.sourceIndex[slot];
      root = IndexLocked().volumes.root[slot];
    }
    Listing listing;
    bool read = source_->Enumerate(static_cast<size_t>(sourceIndex), [&](const ScanEntry* e, size_t n) {
      for (size_t i = 0; i < n; ++i) {
        listing.entries.push_back(e[i]);
        listing.names.emplace_back(e[i].name, e[i].nameLength);
      }
    });
    if (!read || stopping_) continue;
    for (size_t i = 0; i < listing.entries.size(); ++i) listing.entries[i].name = listing.names[i].data();
    qvMutexLock guard(lock);
    qvFileBaseApp& app = IndexLocked();
    qvStreamScan::RemoveVolume(app, slot);
    qvStreamScan scan(app, nullptr);
    if (scan.BeginVolume(slot, root)) {
      scan.AddEntries(listing.entries.data(), listing.entries.size());
      scan.EndVolume();
      scan.Finish();
    }
    if (!filtered) qvPruneExcluded(app, *now, nullptr);
    ++app.volumes.nextUsn[slot];
    RunSearchLocked();
  }
}
