#include "qvKearchImpl.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "qvCollation.h"
#include "qvDatabase.h"
#include "qvErrorBox.h"
#include "qvExtCaseFile.h"
#include "qvFileBaseApp.h"
#include "qvNameCodec.h"
#include "qvNtfsVolumeSource.h"
#include "qvOfflineReader.h"
#include "qvRecordPath.h"
#include "qvResource.h"
#include "qvSearchDriver.h"
#include "qvStreamScan.h"
#include "qvUtils.h"

bool qvNotNull(const void* p) { return p != nullptr; }

namespace {

// Copies a search text into a fixed field, cut to 1023 units (never in the
// middle of a surrogate pair).
void StoreText(qvChar* field, const qvChar* text) {
  std::memset(field, 0, QV_QUERY_MAX * sizeof(qvChar));
  if (!text) return;
  size_t n = 0;
  while (n < QV_QUERY_MAX - 1 && text[n]) ++n;
  if (n == QV_QUERY_MAX - 1 && text[n]) n = qvCharBoundary(text, n);
  std::memcpy(field, text, n * sizeof(qvChar));
}

std::string Utf8(const qvString& s) { return qvNameCodec::EncodeToString(s); }

int32_t ClampRows(size_t n) { return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n); }

}  // namespace

qvKearchImpl::qvKearchImpl() : config_(*this), results_(*this) {
  std::memset(query, 0, sizeof query);
  std::memset(extFilter, 0, sizeof extFilter);
}

qvKearchImpl::~qvKearchImpl() = default;

IUnknownEx* qvKearchImpl::QueryInterface(const qvGUID* iid, uint32_t version) {
  if (!iid || !IsAcceptedQvVersion(version)) return nullptr;
  if (IsEqualQvGUID(*iid, IID_IQvSearch) || IsEqualQvGUID(*iid, IID_IUnknownEx)) return this;
  if (IsEqualQvGUID(*iid, IID_IQvSearchConfig)) return &config_;
  if (IsEqualQvGUID(*iid, IID_IQvSearchResults)) return &results_;
  return nullptr;
}

int32_t qvKearchImpl::Initialize(IQvSearchNotify* notify) {
  if (notify) sink = notify;
  size_t size = 0;
  const void* ranks = qvFindResource("ZISORT", QV_RESOURCE_ZISORT, &size);
  if (ranks && size >= qvCollation::kRankCount * 2)
    qvCollation::SetRankTable(static_cast<const uint16_t*>(ranks));
  if (!initThread_.joinable()) initThread_ = std::thread([this] { InitThreadMain(); });
  rootIconIndex = qvUtils::QV_GetDirectoryIconIndex(u"/", 0);
  folderIconIndex = qvUtils::QV_GetDirectoryIconIndex(u"/", 3);
  return folderIconIndex;
}

void qvKearchImpl::Search(const qvChar* text, const qvChar* filter, int32_t reset) {
  if (!text) return;
  qvMutexLock guard(lock);
  StoreText(query, text);
  StoreText(extFilter, filter);
  resetFlag = reset;
  // Kept before the driver compiles the query in place.
  constexpr size_t kMaxCalls = 256;
  if (reset) {
    searchCalls.clear();
    resultSort.ForgetFacts();
  }
  if (searchCalls.size() < kMaxCalls) searchCalls.emplace_back(query, extFilter);
  RunStoredCallLocked();
  if (ready.load()) resultSort.ApplyLocked(IndexLocked());
}

void qvKearchImpl::RunStoredCallLocked() {
  if (!ready.load()) return;
  qvFileBaseApp& app = IndexLocked();
  RunSearch(app, app.patternSet, {query, extFilter, resetFlag, &matchOptions, &queryError}, {sink, listWindow});
}

// Only the last call tells the listeners, so a rebuilt category shows its
// whole union at once and never its last extension twice.
void qvKearchImpl::RunSearchLocked() {
  if (!ready.load()) return;
  qvFileBaseApp& app = IndexLocked();
  if (searchCalls.empty()) return RunStoredCallLocked();
  for (size_t i = 0; i < searchCalls.size(); ++i) {
    StoreText(query, searchCalls[i].first.c_str());
    StoreText(extFilter, searchCalls[i].second.c_str());
    resetFlag = i == 0 ? 1 : 0;
    bool last = i + 1 == searchCalls.size();
    RunSearch(app, app.patternSet, {query, extFilter, resetFlag, &matchOptions, &queryError},
              last ? qvSearchListeners{sink, listWindow} : qvSearchListeners{nullptr, nullptr});
  }
  resultSort.ApplyLocked(app);
}

qvFileBaseApp& qvKearchImpl::IndexLocked() { return *qvFileBaseApp::Instance(); }

void qvKearchImpl::ApplyJournalLocked(uint32_t slot, const JournalRecord* records, size_t count) {
  qvFileBaseApp& app = IndexLocked();
  if (ApplyJournalBatch(app, app.patternSet, slot, records, count)) RunSearchLocked();
}

void qvKearchImpl::SetListWindow(IQvListWindow* list) {
  qvMutexLock guard(lock);
  listWindow = list;
}

int32_t qvKearchImpl::GetFolderResultCount() {
  qvMutexLock guard(lock);
  return ClampRows(IndexLocked().folderResults.Count());
}

int32_t qvKearchImpl::GetFileResultCount() {
  qvMutexLock guard(lock);
  return ClampRows(IndexLocked().fileResults.Count());
}

int32_t qvKearchImpl::GetItemText(int32_t row, qvChar* folderPath, qvChar* name, qvChar* ext) {
  if (folderPath) folderPath[0] = 0;
  if (name) name[0] = 0;
  if (ext) ext[0] = 0;
  qvMutexLock guard(lock);
  qvFileBaseApp& app = IndexLocked();
  if (row < 0) return 0;
  bool isFolder;
  const uint8_t* record = app.RowRecord(static_cast<size_t>(row), &isFolder);
  if (!record) return 0;
  if (name) qvBuildDisplayName(app, record, isFolder, name, QV_MAX_PATH, ext, ext ? QV_MAX_PATH : 0);
  RecordRef parent = isFolder ? DirRecord::Parent(record) : FileRecord::Parent(record);
  qvChar scratch[1];
  return static_cast<int32_t>(folderPath ? qvBuildFolderPath(app, parent, folderPath, QV_MAX_PATH)
                                         : qvBuildFolderPath(app, parent, scratch, 1));
}

void qvKearchImpl::SetVolumeSource(std::unique_ptr<qvVolumeSource> source) { source_ = std::move(source); }

void qvKearchImpl::WaitUntilInitialised() {
  std::unique_lock<std::mutex> guard(initDoneLock_);
  initDoneCv_.wait(guard, [this] { return initDone_; });
}

static int64_t MicrosSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
}

void qvKearchImpl::InitThreadMain() {
  if (sink) sink->OnStatus(-1, "初始化...");
  DiscoverVolumes();
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (source_ && !offline_) {
    monitor_ = qvMakeDefaultMonitor(*this, *source_, monitorTier_.c_str());
    if (monitor_) source_->SetFolderHook(monitor_->Hook());
  }
  auto loadStart = std::chrono::steady_clock::now();
  bool loaded = !stopping_ && !noLoad_ && LoadDatabase();
  if (loaded) qvNtfsCatchUp(*app, source_.get());  // raw NTFS volumes: their journals since the save
  if (loaded) PruneToExclusions(Exclusions());  // saved before the rules were what they are
  if (loaded) loadMicros_ = MicrosSince(loadStart);
  if (!loaded && !stopping_) {
    app->ClearIndex();
    if (!offline_) FullScan();
  }
  loadedFromDatabase_ = loaded;
  if (!stopping_) {
    ready.store(1);
    {
      qvMutexLock guard(lock);
      RunSearchLocked();
    }
    if (monitor_) monitor_->Start(loaded);
    CatchUpExclusions();  // the rules may have changed while the index was made
  }
  std::lock_guard<std::mutex> guard(initDoneLock_);
  initDone_ = true;
  initDoneCv_.notify_all();
}

void qvKearchImpl::DiscoverVolumes() {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (!source_) source_ = qvMakeDefaultVolumeSource(roots_);
  if (!source_) return;
  std::vector<VolumeInfo> found = source_->Discover();
  int ordinal = 0;
  for (size_t i = 0; i < found.size() && ordinal < QV_VOLUME_SLOTS; ++i) {
    const VolumeInfo& v = found[i];
    int slot = ordinal;
    if (sink) sink->OnVolumeFound(ordinal, v.root.c_str());
    ++ordinal;
    app->volumes.root[slot] = v.root;
    if (!v.opened) {
      ShowErrorBox("创建卷%s失败 代码%d", Utf8(v.root).c_str(), v.errorCode);
      continue;
    }
    app->volumes.indexed[slot] = true;
    app->volumes.sourceIndex[slot] = static_cast<int>(i);
    app->volumes.journalId[slot] = v.journalId;
    app->volumes.firstUsn[slot] = v.firstUsn;
    app->volumes.nextUsn[slot] = v.nextUsn;
  }
}

void qvKearchImpl::FullScan() {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  qvStreamScan scan(*app, sink);
  bool excludedBySource = GiveSourceExclusions();
  auto start = std::chrono::steady_clock::now();
  for (int slot = 0; slot < QV_VOLUME_SLOTS && !stopping_; ++slot) {
    if (!app->volumes.indexed[slot]) continue;
    if (sink) sink->OnStatus(-1, "正在扫描(%s)盘，请稍候...", Utf8(app->volumes.root[slot]).c_str());
    if (!scan.BeginVolume(static_cast<uint32_t>(slot), app->volumes.root[slot])) continue;
    scanSlot_ = slot;
    source_->Enumerate(static_cast<size_t>(app->volumes.sourceIndex[slot]),
                       [&](const ScanEntry* entries, size_t count) {
                         if (!stopping_) scan.AddEntries(entries, count);
                         scanEntries_ += static_cast<int64_t>(count);
                       });
    scan.EndVolume();
  }
  readMicros_ = MicrosSince(start);
  start = std::chrono::steady_clock::now();
  if (!stopping_) scan.Finish();
  linkMicros_ = scan.phases().linkMicros;
  sortMicros_ = scan.phases().sortMicros;
  layoutMicros_ = scan.phases().layoutMicros;
  sortWhileReadingMicros_ = scan.phases().sortWhileReadingMicros;
  if (!excludedBySource) PruneToExclusions(exclusions_.applied);  // the rules the scan began with
  buildMicros_ = MicrosSince(start);
}

bool qvKearchImpl::LoadDatabase() {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (offline_ && answerOnly_ && ReadSavedInPlace()) {
    readInPlace_ = true;
    return true;
  }
  qvStatus status = qvDatabase::LoadSavedIndex(*app, sink);
  if (!status.ok()) {
    qvDatabase::ReportDropped(status);  // once, and never for a first start
    return false;
  }
  app->recordPool.Trim();  // the loaded index is complete: no slack kept
  return true;
}

// Only the records the stored queries may find, with their folders: no
// other query will come. A raw NTFS volume's journal, caught up after the
// load, may touch any folder, so it needs the whole index.
bool qvKearchImpl::ReadSavedInPlace() {
  if (dynamic_cast<qvNtfsVolumeSource*>(source_.get())) return false;
  std::vector<qvOfflineReader::Query> queries;
  qvMatchOptions options;
  {
    qvMutexLock guard(lock);
    for (const auto& [text, filter] : searchCalls) queries.push_back({text, filter});
    if (queries.empty()) queries.push_back({query, extFilter});
    options = matchOptions;
  }
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  return qvOfflineReader::LoadForQueries(*app, sink, queries, options, &trigramsWanted_) ==
         qvOfflineReader::Outcome::kLoaded;
}

int qvKearchImpl::SaveDatabase() {
  if (noSave_) return 0;
  // Part of the saved index, read for one answer: saved, it would replace the whole.
  if (readInPlace_) return EPERM;
  qvStatus status = qvDatabase::SaveIndex(*qvFileBaseApp::Instance());
  return status.ok() ? 0 : status.error() ? status.error() : EIO;
}

void qvKearchImpl::Release() {
  stopping_ = true;
  if (source_) source_->Stop();
  if (initThread_.joinable()) initThread_.join();
  // No change may reach the tables while or after they are saved.
  if (monitor_) monitor_->Stop();
  if (ready.load()) {
    qvMutexLock guard(lock);
    SaveDatabase();
  }
  // The answer is out: the next one need not read the whole saved set.
  if (trigramsWanted_) qvOfflineReader::WriteTrigramIndex(*qvFileBaseApp::Instance());
  FlushErrorBox();
  monitor_.reset();
  source_.reset();
  delete qvFileBaseApp::Instance();
  if (IsValid()) delete this;
}

// --- configuration ---------------------------------------------------------

IUnknownEx* qvSearchConfigImpl::QueryInterface(const qvGUID* iid, uint32_t version) {
  return owner_.QueryInterface(iid, version);
}

void qvSearchConfigImpl::SetDataFolder(const qvChar* folder) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (!app || !folder) return;
  app->dataFolder = folder;
  if (app->dataFolder.empty() || app->dataFolder.back() != u'/') app->dataFolder += u'/';
}

bool qvSearchConfigImpl::AddRoot(const qvChar* root) {
  if (!root || !root[0] || owner_.roots_.size() >= QV_VOLUME_SLOTS) return false;
  qvString r = root;
  if (r.back() != u'/') r += u'/';
  // The root's name is stored like any folder name and must fit one.
  if (r.size() > qvStreamScan::kMaxNameBytes / 3) return false;
  owner_.roots_.push_back(r);
  return true;
}

void qvSearchConfigImpl::SetErrorReporter(qvErrorReporter reporter, void* context) {
  SetErrorBoxReporter(reporter, context);
}

bool qvSearchConfigImpl::SetOption(const char* name, const char* value) {
  if (!name) return false;
  bool on = value && std::strcmp(value, "0") != 0 && value[0];
  if (std::strcmp(name, "offline") == 0) owner_.offline_ = on;
  else if (std::strcmp(name, "no_save") == 0) owner_.noSave_ = on;
  else if (std::strcmp(name, "no_load") == 0) owner_.noLoad_ = on;
  else if (std::strcmp(name, "answer_only") == 0) owner_.answerOnly_ = on;
  else if (std::strcmp(name, "monitor") == 0) owner_.monitorTier_ = value ? value : "";
  else if (std::strcmp(name, "exclude") == 0) return owner_.SetExclusions(value);
  else return SetMatchOption(name, on);
  return true;
}

bool qvSearchConfigImpl::SetMatchOption(const char* name, bool on) {
  qvMutexLock guard(owner_.lock);
  qvMatchOptions& o = owner_.matchOptions;
  if (std::strcmp(name, "whole_name") == 0) o.wholeName = on;
  else if (std::strcmp(name, "match_case") == 0) o.matchCase = on;
  else if (std::strcmp(name, "pinyin") == 0) o.pinyin = on;
  else if (std::strcmp(name, "show_hidden") == 0) o.showHidden = on;
  else if (std::strcmp(name, "regex") == 0) o.regex = on;
  else if (std::strcmp(name, "path_terms") == 0) o.pathTerms = on;
  else if (std::strcmp(name, "query_prefixes") == 0) o.prefixes = on;
  else return false;
  // The next search uses them; the caller searches again to show them.
  return true;
}

int64_t qvSearchConfigImpl::QueryValue(const char* name) {
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (!name || !app) return -1;
  if (std::strcmp(name, "ready") == 0) return owner_.ready.load();
  if (std::strcmp(name, "following") == 0) return owner_.monitor_ ? owner_.monitor_->Following() : 0;
  if (std::strcmp(name, "rescans") == 0) return owner_.monitor_ ? owner_.monitor_->Rescans() : 0;
  if (std::strcmp(name, "monitor_tier") == 0) return owner_.monitor_ ? owner_.monitor_->Kind() : 0;
  if (std::strcmp(name, "scan_entries") == 0) return owner_.scanEntries_.load();
  if (std::strcmp(name, "scan_volume") == 0) return owner_.scanSlot_.load();
  qvMutexLock guard(owner_.lock);
  if (std::strcmp(name, "loaded") == 0) return owner_.loadedFromDatabase_ ? 1 : 0;
  // Saves now, as Release would, and answers 0 or the system error code of
  // the failure (its reason went to the error reporter); -1 before ready.
  if (std::strcmp(name, "save") == 0) return owner_.ready.load() ? owner_.SaveDatabase() : -1;
  if (std::strcmp(name, "folders") == 0) return static_cast<int64_t>(app->folderList.Count());
  if (std::strcmp(name, "files") == 0) return static_cast<int64_t>(app->fileList.Count());
  if (std::strcmp(name, "index_bytes") == 0) return static_cast<int64_t>(app->IndexBytes());
  if (std::strcmp(name, "read_us") == 0) return owner_.readMicros_;
  if (std::strcmp(name, "build_us") == 0) return owner_.buildMicros_;
  if (std::strcmp(name, "load_us") == 0) return owner_.loadMicros_;
  if (std::strcmp(name, "link_us") == 0) return owner_.linkMicros_;
  if (std::strcmp(name, "sort_us") == 0) return owner_.sortMicros_;
  if (std::strcmp(name, "layout_us") == 0) return owner_.layoutMicros_;
  if (std::strcmp(name, "sort_reading_us") == 0) return owner_.sortWhileReadingMicros_;
  if (std::strcmp(name, "query_error") == 0) return owner_.queryError.empty() ? 0 : 1;
  if (std::strcmp(name, "whole_name") == 0) return owner_.matchOptions.wholeName;
  if (std::strcmp(name, "match_case") == 0) return owner_.matchOptions.matchCase;
  if (std::strcmp(name, "pinyin") == 0) return owner_.matchOptions.pinyin;
  if (std::strcmp(name, "show_hidden") == 0) return owner_.matchOptions.showHidden;
  if (std::strcmp(name, "regex") == 0) return owner_.matchOptions.regex;
  if (std::strcmp(name, "path_terms") == 0) return owner_.matchOptions.pathTerms;
  if (std::strcmp(name, "query_prefixes") == 0) return owner_.matchOptions.prefixes;
  return -1;
}

// --- the current answer, read consistently ----------------------------------

IUnknownEx* qvSearchResultsImpl::QueryInterface(const qvGUID* iid, uint32_t version) {
  return owner_.QueryInterface(iid, version);
}

uint64_t qvSearchResultsImpl::GetAnswer(int32_t* folders, int32_t* files) {
  qvMutexLock guard(owner_.lock);
  qvFileBaseApp& app = owner_.IndexLocked();
  if (folders) *folders = ClampRows(app.folderResults.Count());
  if (files) *files = ClampRows(app.fileResults.Count());
  return app.generation;
}

int32_t qvSearchResultsImpl::CopyRows(uint64_t answer, int32_t first, int32_t count, IQvRowSink* sink) {
  constexpr int32_t kMaxRowsPerCall = 4096;
  if (!sink || first < 0 || count < 0) return 0;
  count = std::min(count, kMaxRowsPerCall);
  qvString folder;
  qvChar name[QV_MAX_PATH];
  qvChar ext[QV_MAX_PATH];
  qvMutexLock guard(owner_.lock);
  qvFileBaseApp& app = owner_.IndexLocked();
  if (app.generation != answer) return -1;
  int32_t handed = 0;
  for (int32_t row = first; handed < count; ++row, ++handed) {
    bool isFolder;
    const uint8_t* record = app.RowRecord(static_cast<size_t>(row), &isFolder);
    if (!record) break;
    size_t nameLength = qvBuildDisplayName(app, record, isFolder, name, QV_MAX_PATH, ext, QV_MAX_PATH);
    folder.clear();
    qvAppendFolderPath(app, isFolder ? DirRecord::Parent(record) : FileRecord::Parent(record), &folder);
    QvRowText text{folder.data(), folder.size(), name, nameLength, ext, qvStrLen(ext), isFolder ? 1 : 0};
    sink->OnRow(row, text);
  }
  return handed;
}

// The facts a sort needs are read without the lock; when the answer
// changes meanwhile the new rows are read too, a bounded number of times.
int32_t qvSearchResultsImpl::SortResults(int32_t column, int32_t reverse) {
  constexpr int kReadThreads = 4;
  constexpr int kReadRounds = 3;
  if (column < 0 || column >= kSortColumnCount) return -1;
  if (!owner_.ready.load()) return 0;
  auto order = static_cast<qvSortColumn>(column);
  for (int round = 0;; ++round) {
    std::vector<qvFactRequest> missing;
    {
      qvMutexLock guard(owner_.lock);
      qvFileBaseApp& app = owner_.IndexLocked();
      owner_.resultSort.SetOrder(order, reverse != 0);
      if (order == qvSortColumn::kStore) owner_.RunSearchLocked();
      if (owner_.resultSort.NeedsFacts() && round < kReadRounds) missing = owner_.resultSort.MissingLocked(app);
      if (missing.empty()) {
        owner_.resultSort.ApplyLocked(app);
        return ClampRows(app.folderResults.Count() + app.fileResults.Count());
      }
    }
    std::vector<qvItemFacts> facts = qvResultSort::ReadFacts(missing, kReadThreads);
    qvMutexLock guard(owner_.lock);
    owner_.resultSort.AddFacts(missing, facts);
  }
}
