// The object behind IQvSearch: the search texts, the engine lock, the
// ready flag, the initialisation thread and the sink.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "IQvSearch.h"
#include "qvJournal.h"
#include "qvKearchExclusions.h"
#include "qvMatchOptions.h"
#include "qvMutex.h"
#include "qvResultSort.h"
#include "qvVolumeMonitor.h"
#include "qvVolumeSource.h"

class qvFileBaseApp;
class qvKearchImpl;

// IsValid's test, out of line so that the compiler does not fold it.
bool qvNotNull(const void* p);

// The configuration interface, a part of the engine object that the
// engine owns (its Release does nothing).
class qvSearchConfigImpl final : public IQvSearchConfig {
 public:
  explicit qvSearchConfigImpl(qvKearchImpl& owner) : owner_(owner) {}
  void Release() override {}
  IUnknownEx* QueryInterface(const qvGUID* iid, uint32_t version) override;
  void SetDataFolder(const qvChar* folder) override;
  bool AddRoot(const qvChar* root) override;
  void SetErrorReporter(qvErrorReporter reporter, void* context) override;
  bool SetOption(const char* name, const char* value) override;
  int64_t QueryValue(const char* name) override;
  bool IsValid() override { return qvNotNull(this); }

 private:
  bool SetMatchOption(const char* name, bool on);
  qvKearchImpl& owner_;
};

// The consistent reading of the current answer (IQvSearchResults), a part
// of the engine object like the configuration.
class qvSearchResultsImpl final : public IQvSearchResults {
 public:
  explicit qvSearchResultsImpl(qvKearchImpl& owner) : owner_(owner) {}
  void Release() override {}
  IUnknownEx* QueryInterface(const qvGUID* iid, uint32_t version) override;
  uint64_t GetAnswer(int32_t* folders, int32_t* files) override;
  int32_t CopyRows(uint64_t answer, int32_t first, int32_t count, IQvRowSink* sink) override;
  bool IsValid() override { return qvNotNull(this); }
  int32_t SortResults(int32_t column, int32_t reverse) override;

 private:
  qvKearchImpl& owner_;
};

class qvKearchImpl final : public IQvSearch {
 public:
  qvKearchImpl();

  // IUnknownEx
  void Release() override;
  IUnknownEx* QueryInterface(const qvGUID* iid, uint32_t version) override;
  // IQvSearch
  int32_t Initialize(IQvSearchNotify* sink) override;
  void Search(const qvChar* query, const qvChar* extFilter, int32_t reset) override;
  void SetListWindow(IQvListWindow* list) override;
  int32_t GetItemDetails(ItemDetails* details, int32_t row) override;
  int32_t GetItemText(int32_t row, qvChar* folderPath, qvChar* name, qvChar* ext) override;
  int32_t GetFolderResultCount() override;
  int32_t GetFileResultCount() override;
  virtual ~qvKearchImpl();
  bool IsValid() { return qvNotNull(this); }

  // Runs the current search again: every call since the one that started
  // its result (a category is one call per extension), in the chosen
  // order. What the initialisation and the live changes use.
  void RunSearchLocked() QV_REQUIRES(lock);

  // The index, for code that holds the engine lock.
  qvFileBaseApp& IndexLocked() QV_REQUIRES(lock);

  // Applies change-journal records to volume `slot` and searches again
  // when an applied name matches the query.
  void ApplyJournalLocked(uint32_t slot, const JournalRecord* records, size_t count) QV_REQUIRES(lock);

  // For tests and embedders that link the engine directly: the source of
  // volumes to index (instead of the machine's volumes or AddRoot folders).
  void SetVolumeSource(std::unique_ptr<qvVolumeSource> source);
  // The source in use once the volumes were discovered (the live monitor asks it).
  qvVolumeSource* VolumeSource() const { return source_.get(); }
  // Blocks until the initialisation thread has finished (tests, tools).
  void WaitUntilInitialised();
  // The exclusion rules in force (qvKearchExclusions.cpp). Any thread.
  std::shared_ptr<const qvExclusions> Exclusions() const { return exclusions_.rules.Get(); }

  // The engine lock: it serialises searches, changes of the index, the
  // row operations and the save. Never held around disk work.
  qvMutex lock;
  // Search state.
  qvChar query[QV_QUERY_MAX] QV_GUARDED_BY(lock);
  qvChar extFilter[QV_QUERY_MAX] QV_GUARDED_BY(lock);
  int32_t resetFlag QV_GUARDED_BY(lock) = 0;
  std::atomic<int32_t> ready{0};
  IQvListWindow* listWindow QV_GUARDED_BY(lock) = nullptr;
  int32_t rootIconIndex = 7;
  int32_t folderIconIndex = 0;
  IQvSearchNotify* sink = nullptr;
  // The calls (query, filter) since the last one that started a new
  // result, and the order the user chose for the results.
  std::vector<std::pair<qvString, qvString>> searchCalls QV_GUARDED_BY(lock);
  qvResultSort resultSort QV_GUARDED_BY(lock);
  // How searches test names, and why the last query was refused (empty
  // when it was not).
  qvMatchOptions matchOptions QV_GUARDED_BY(lock);
  std::string queryError QV_GUARDED_BY(lock);

 private:
  friend class qvSearchConfigImpl;
  friend class qvSearchResultsImpl;
  // Runs the search driver once with the stored texts and reset flag.
  void RunStoredCallLocked() QV_REQUIRES(lock);
  void InitThreadMain();
  void DiscoverVolumes();
  void FullScan();
  bool LoadDatabase();
  bool ReadSavedInPlace();
  int SaveDatabase();  // 0, or the system error code of the failure
  // The "exclude" option, and what makes the index obey it: the scan's
  // rules, the prune after a scan or a load, a change once ready.
  bool SetExclusions(const char* text);
  bool GiveSourceExclusions();
  void PruneToExclusions(std::shared_ptr<const qvExclusions> rules);
  void CatchUpExclusions();

  qvSearchConfigImpl config_;
  qvSearchResultsImpl results_;
  std::unique_ptr<qvVolumeSource> source_;
  std::unique_ptr<qvVolumeMonitor> monitor_;
  std::string monitorTier_;
  std::vector<qvString> roots_;
  qvString dataFolder_;
  bool offline_ = false;
  bool noSave_ = false;
  bool noLoad_ = false;
  // With offline_: only the queries stored before Initialize will be asked
  // (qvsearch), so the saved index is read in place for them.
  bool answerOnly_ = false;
  bool readInPlace_ = false;  // the index holds only what those queries need
  // Read in place from the whole set, for want of a trigram index of it:
  // one is written at release (set by the initialisation thread, read
  // after it was joined).
  bool trigramsWanted_ = false;
  bool loadedFromDatabase_ = false;
  // How long the start took, in microseconds: reading the volumes into
  // records, then linking and sorting them (or loading the database).
  int64_t readMicros_ = 0;
  int64_t buildMicros_ = 0;
  int64_t loadMicros_ = 0;
  // The build's phases, from the scan: link, sort, layout.
  int64_t linkMicros_ = 0;
  int64_t sortMicros_ = 0;
  int64_t layoutMicros_ = 0;
  int64_t sortWhileReadingMicros_ = 0;  // runs of files sorted on a helper during the read
  std::thread initThread_;
  std::atomic<bool> stopping_{false};
  // The progress of the scan: entries read so far, the volume being read.
  std::atomic<int64_t> scanEntries_{0};
  std::atomic<int32_t> scanSlot_{-1};
  std::mutex initDoneLock_;
  bool initDone_ = false;
  std::condition_variable initDoneCv_;
  qvEngineExclusions exclusions_;
};
