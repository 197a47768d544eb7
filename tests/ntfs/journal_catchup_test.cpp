// A saved index of a raw NTFS volume caught up from its change journal at
// start, and the cases that read the volume afresh instead.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "IQvSearch.h"
#include "ntfs_test_support.h"
#include "qvFileBaseApp.h"
#include "qvJournal.h"
#include "qvKearchImpl.h"
#include "qvNtfsVolumeSource.h"

using namespace ntfstest;

namespace {

// Changes what discovery reports, or the entries, of the real source.
class AlteredSource : public qvNtfsVolumeSource {
 public:
  using Alter = std::function<void(VolumeInfo&)>;
  AlteredSource(const std::string& image, Alter alter, bool rewind)
      : qvNtfsVolumeSource(nullptr, {{image, image, qvNtfsVolume::kFindPartition}}),
        alter_(std::move(alter)),
        rewind_(rewind) {}

  std::vector<VolumeInfo> Discover() override {
    std::vector<VolumeInfo> v = qvNtfsVolumeSource::Discover();
    if (alter_ && !v.empty()) alter_(v[0]);
    return v;
  }

  // With `rewind`, the entries as they were before the journal's first
  // record: each change the apply step would make is undone, last first.
  bool Enumerate(size_t index, const ScanSink& sink) override {
    if (!rewind_) return qvNtfsVolumeSource::Enumerate(index, sink);
    std::vector<Entry> entries;
    qvNtfsVolumeSource::Enumerate(index, [&](const ScanEntry* e, size_t n) {
      for (size_t i = 0; i < n; ++i)
        entries.push_back({e[i].fileRef, e[i].parentRef, e[i].attributes, std::u16string(e[i].name, e[i].nameLength)});
    });
    std::vector<UsnRecord> records;
    std::vector<std::u16string> names;
    ReadUsnJournal(*RawVolume(index), *Journal(index), 0, [&](const UsnRecord& r) {
      records.push_back(r);
      names.emplace_back(r.name);
    });
    for (size_t k = records.size(); k-- > 0;) {
      const UsnRecord& r = records[k];
      uint64_t ref = qvNtfs::RecordNumber(r.fileRef), parent = qvNtfs::RecordNumber(r.parentRef);
      uint32_t attrs = r.fileAttributes & QV_ATTR_DIRECTORY;
      bool close = r.reason & USN_REASON_CLOSE, create = r.reason & USN_REASON_FILE_CREATE;
      auto drop = [&] {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const Entry& e) { return e.ref == ref && e.name == names[k]; }),
                      entries.end());
      };
      if (create && close) drop();
      else if ((r.reason & USN_REASON_RENAME_NEW_NAME) && close) drop();
      else if ((r.reason & USN_REASON_RENAME_OLD_NAME) && !create) entries.push_back({ref, parent, attrs, names[k]});
      else if ((r.reason & USN_REASON_FILE_DELETE) && close && !create) entries.push_back({ref, parent, attrs, names[k]});
    }
    std::vector<ScanEntry> out;
    for (const Entry& e : entries)
      out.push_back({e.ref, e.parent, e.attributes, e.name.data(), static_cast<uint32_t>(e.name.size())});
    sink(out.data(), out.size());
    return true;
  }

 private:
  Alter alter_;
  bool rewind_;
};

struct EngineRun {
  bool loaded;
  std::set<std::string> rows;
};

// Starts an engine over `source` with the data folder, lists every row,
// and saves when asked.
EngineRun Start(std::unique_ptr<qvVolumeSource> source, const std::string& data, bool load, bool save) {
  IQvSearch* s = CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION);
  auto* engine = static_cast<qvKearchImpl*>(s);
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  config->SetDataFolder(qvNameCodec::DecodeToString(data).c_str());
  config->SetOption("offline", "0");
  if (!load) config->SetOption("no_load", "1");
  if (!save) config->SetOption("no_save", "1");
  config->SetOption("monitor", "off");
  engine->SetVolumeSource(std::move(source));
  engine->Initialize(nullptr);
  engine->WaitUntilInitialised();
  EngineRun run;
  run.loaded = config->QueryValue("loaded") == 1;
  engine->Search(u"*?", u"", 1);  // every name
  int32_t rows = engine->GetFolderResultCount() + engine->GetFileResultCount();
  std::vector<qvChar> path(QV_MAX_PATH), name(QV_MAX_PATH);
  for (int32_t r = 0; r < rows; ++r) {
    engine->GetItemText(r, path.data(), name.data(), nullptr);
    run.rows.insert(qvNameCodec::EncodeToString(path.data()) + "|" + qvNameCodec::EncodeToString(name.data()));
  }
  engine->Release();
  return run;
}

std::unique_ptr<qvVolumeSource> Source(AlteredSource::Alter alter = nullptr, bool rewind = false) {
  return std::make_unique<AlteredSource>(SharedImages::Get().Windows10(), std::move(alter), rewind);
}

class JournalCatchUp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SharedImages::Get().Ok()) GTEST_SKIP() << "the shared NTFS samples could not be decompressed";
  }
  TempDir data_;
};

}  // namespace

TEST_F(JournalCatchUp, TheWindows10JournalIsFoundAndTrusted) {
  AlteredSource source(SharedImages::Get().Windows10(), nullptr, false);
  std::vector<VolumeInfo> v = source.Discover();
  ASSERT_EQ(v.size(), 1u);
  ASSERT_TRUE(v[0].opened);
  const UsnJournalInfo* j = source.Journal(0);
  ASSERT_NE(j, nullptr);
  EXPECT_EQ(j->record, 42u);
  EXPECT_EQ(v[0].journalId, j->journalId);
  EXPECT_EQ(v[0].nextUsn, 20312);
  EXPECT_EQ(v[0].firstUsn, 0);
  UsnWalkStats stats;
  uint64_t count = 0;
  ASSERT_TRUE(ReadUsnJournal(*source.RawVolume(0), *j, 0, [&](const UsnRecord&) { ++count; }, &stats));
  EXPECT_EQ(count, 188u);
}

TEST_F(JournalCatchUp, ARewoundSavedIndexCatchesUpToAFreshRead) {
  EngineRun fresh = Start(Source(), data_.path(), false, false);
  ASSERT_FALSE(fresh.rows.empty());
  // The saved index of the volume as it was at USN 0.
  EngineRun rewound = Start(Source([](VolumeInfo& v) { v.nextUsn = 0; }, true), data_.path(), false, true);
  EXPECT_NE(rewound.rows, fresh.rows) << "the journal should have changed something";
  EngineRun caughtUp = Start(Source(), data_.path(), true, false);
  EXPECT_TRUE(caughtUp.loaded);
  EXPECT_EQ(caughtUp.rows, fresh.rows);
}

TEST_F(JournalCatchUp, AnotherJournalOrAJournalPastTheSaveIsReadAfresh) {
  Start(Source([](VolumeInfo& v) { v.nextUsn = 0; }, true), data_.path(), false, true);
  EXPECT_FALSE(Start(Source([](VolumeInfo& v) { v.journalId ^= 1; }), data_.path(), true, false).loaded);
  EXPECT_FALSE(Start(Source([](VolumeInfo& v) { v.firstUsn = 8; }), data_.path(), true, false).loaded);
  EXPECT_TRUE(Start(Source([](VolumeInfo& v) { v.firstUsn = 0; }), data_.path(), true, false).loaded);
}

TEST_F(JournalCatchUp, AVolumeWithoutJournalIsReadAfreshEachStart) {
  auto charlie = [] {
    return std::make_unique<AlteredSource>(SharedImages::Get().Charlie(), nullptr, false);
  };
  AlteredSource probe(SharedImages::Get().Charlie(), nullptr, false);
  std::vector<VolumeInfo> first = probe.Discover(), second = probe.Discover();
  EXPECT_EQ(probe.Journal(0), nullptr);
  EXPECT_NE(first[0].journalId, second[0].journalId);
  Start(charlie(), data_.path(), false, true);
  EngineRun again = Start(charlie(), data_.path(), true, false);
  EXPECT_FALSE(again.loaded);
  EXPECT_TRUE(again.rows.count(SharedImages::Get().Charlie() + "/|Nine.txt"));
}
