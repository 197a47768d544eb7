// The pool rebuilt in list order: every row, path, folder link and real
// extension case survives it, live changes go on working after it, and a
// half-applied folder rename holds it off.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_fixture.h"
#include "qvCollation.h"
#include "qvCompact.h"
#include "journal_reasons.h"
#include "qvIndexEdit.h"
#include "qvJournal.h"
#include "qvStreamScan.h"

using E = qvStreamVolumeSource;

namespace {

// A tree of folders in several levels with files of many shapes: plain,
// upper-case extensions (kept aside by record), CJK, long names.
std::vector<E::Entry> Tree(size_t folders, size_t filesPerFolder) {
  // Folders take 16, 17, ...: folder f sits in folder (f / 3) - 1, the
  // first three in the root.
  std::vector<E::Entry> out;
  for (size_t f = 0; f < folders; ++f) {
    uint64_t parent = f < 3 ? 5 : 16 + f / 3 - 1;
    out.push_back(E::Folder(16 + f, parent,
                            u"dir" + std::u16string(1, u'a' + f % 26) + qvNameCodec::DecodeToString(std::to_string(f))));
  }
  uint64_t next = 16 + folders;
  for (size_t f = 0; f < folders; ++f) {
    for (size_t i = 0; i < filesPerFolder; ++i) {
      std::u16string n = qvNameCodec::DecodeToString(std::to_string(f * 1000 + i));
      std::u16string name;
      switch (i % 5) {
        case 0: name = u"report" + n + u".txt"; break;
        case 1: name = u"Photo" + n + u".JPG"; break;
        case 2: name = u"报告" + n + u".doc"; break;
        case 3: name = std::u16string(200, u'l') + n; break;
        default: name = u"x" + n; break;
      }
      out.push_back(E::File(next++, 16 + f, name));
    }
  }
  return out;
}

struct Compact : ::testing::Test {
  void SetUp() override {
    ranks = qvCollation::RankTable();
    engine = MakeEngine({MakeVolume("/", Tree(60, 40)), MakeVolume("/mnt/b/", Tree(20, 10), 0x99)}, &sink,
                        "/nonexistent-qv-data/");
    ASSERT_NE(engine, nullptr);
    app = qvFileBaseApp::Instance();
  }
  void TearDown() override {
    if (engine) engine->Release();
    qvCollation::SetRankTable(ranks);  // the engine installs the pinyin ranks for the process
  }
  void Apply(uint32_t reason, bool folder, uint64_t ref, uint64_t parent, const std::u16string& name) {
    JournalRecord r{reason, folder ? QV_ATTR_DIRECTORY : QV_ATTR_NORMAL, ref, parent, name.data(),
                    static_cast<uint32_t>(name.size())};
    std::lock_guard<std::mutex> g(engine->lock);
    engine->ApplyJournalLocked(0, &r, 1);
  }
  bool CompactNow() {
    std::lock_guard<std::mutex> g(engine->lock);
    return qvCompactRecords(*app);
  }
  std::vector<std::string> Rows(const std::u16string& query) {
    engine->Search(query.c_str(), u"", 1);
    std::vector<std::string> out;
    int32_t n = engine->GetFolderResultCount() + engine->GetFileResultCount();
    for (int32_t r = 0; r < n; ++r) out.push_back(RowText(engine, r));
    return out;
  }
  void ExpectConsistent() {
    for (size_t i = 1; i < app->fileList.Count(); ++i)
      ASSERT_LE(qvCollation::CompareFiles(app->fileList.At(i - 1), app->fileList.At(i), app->extTable), 0);
    ASSERT_EQ(app->dirMap.Count(), app->folderList.Count());
    // Every folder is found under its own key.
    for (size_t i = 0; i < app->folderList.Count(); ++i) {
      uint8_t* r = app->folderList.At(i);
      ASSERT_EQ(app->Resolve(app->dirMap.FindRecord(DirRecord::Key(r))), r);
    }
  }
  // Places where the next file record lies below the one before it: one
  // per chunk of pages at most once the pool is in list order.
  size_t Descents() const {
    size_t n = 0;
    for (size_t i = 1; i < app->fileList.Count(); ++i) n += app->fileList.At(i) < app->fileList.At(i - 1);
    return n;
  }

  RecordingSink sink;
  qvKearchImpl* engine = nullptr;
  qvFileBaseApp* app = nullptr;
  const uint16_t* ranks = nullptr;
};

const std::vector<std::u16string> kQueries = {u"*?", u"report", u"photo jpg", u"报告", u"lll", u"dira"};

}  // namespace

TEST_F(Compact, ScanLeavesRecordsInListOrderWithEveryRowIntact) {
  // The scan compacted already; a second pass must change nothing visible.
  EXPECT_LE(Descents(), 16u);
  std::vector<std::vector<std::string>> before;
  for (const auto& q : kQueries) before.push_back(Rows(q));
  ASSERT_TRUE(CompactNow());
  for (size_t i = 0; i < kQueries.size(); ++i) EXPECT_EQ(Rows(kQueries[i]), before[i]);
  ExpectConsistent();
  // The real case of the extensions is still found for the moved records.
  auto photos = Rows(u"photo");
  ASSERT_FALSE(photos.empty());
  EXPECT_NE(photos.front().find(".JPG"), std::string::npos) << photos.front();
}

TEST_F(Compact, LiveChangesBeforeAndAfter) {
  // A folder added live (second pool) with files below it, a file added in
  // a scanned folder, a scanned folder renamed: then the pool is rebuilt.
  Apply(kCreate, true, 90000, 16, u"livefolder");
  Apply(kCreate, false, 90001, 90000, u"livefile.TXT");
  Apply(kCreate, true, 90002, 90000, u"livesub");
  Apply(kCreate, false, 90003, 90002, u"deeplive.c");
  Apply(kCreate, false, 90004, 17, u"addedlater.txt");
  Apply(kOld, true, 17, 5, u"dirb1");
  Apply(kNew, true, 17, 5, u"renamedfolder");
  std::vector<std::vector<std::string>> before;
  const std::vector<std::u16string> queries = {u"*?", u"live", u"deeplive", u"addedlater", u"renamedfolder"};
  for (const auto& q : queries) before.push_back(Rows(q));
  ASSERT_EQ(Rows(u"deeplive"), std::vector<std::string>{"/dira0/livefolder/livesub/|deeplive.c"});

  ASSERT_TRUE(CompactNow());
  for (size_t i = 0; i < queries.size(); ++i) EXPECT_EQ(Rows(queries[i]), before[i]) << i;
  ExpectConsistent();
  EXPECT_LE(Descents(), 16u);

  // And the index goes on changing: the moved records are found by their
  // parents and names.
  ASSERT_EQ(Rows(u"addedlater"), std::vector<std::string>{"/renamedfolder/|addedlater.txt"});
  Apply(kDelete, false, 90004, 17, u"addedlater.txt");
  EXPECT_TRUE(Rows(u"addedlater").empty());
  Apply(kOld, true, 90000, 16, u"livefolder");
  Apply(kNew, true, 90000, 16, u"moved");
  EXPECT_EQ(Rows(u"deeplive"), std::vector<std::string>{"/dira0/moved/livesub/|deeplive.c"});
  {
    std::lock_guard<std::mutex> g(engine->lock);
    ASSERT_TRUE(qvIndexEdit::RemoveTree(*app, 0, 16, nullptr));
  }
  EXPECT_TRUE(Rows(u"deeplive").empty());
  ExpectConsistent();
}

TEST_F(Compact, WaitsWhileAFolderRenameIsHalfApplied) {
  Apply(kOld, true, 17, 5, u"dirb1");
  std::vector<uint8_t*> slots;
  for (size_t i = 0; i < app->fileList.Count(); ++i) slots.push_back(app->fileList.At(i));
  EXPECT_FALSE(CompactNow());
  for (size_t i = 0; i < slots.size(); ++i) ASSERT_EQ(app->fileList.At(i), slots[i]);
  Apply(kNew, true, 17, 5, u"dirb1again");
  EXPECT_TRUE(CompactNow());
  EXPECT_FALSE(Rows(u"dirb1again").empty());
}

TEST_F(Compact, RescannedVolumeGivesItsOldRecordsBack) {
  size_t blocks = app->recordPool.BlockCount();
  size_t files = app->fileList.Count();
  std::vector<E::Entry> again = Tree(20, 10);
  std::vector<ScanEntry> entries;
  for (const auto& e : again)
    entries.push_back({e.fileRef, e.parentRef, e.attributes, e.name.data(), static_cast<uint32_t>(e.name.size())});
  for (int round = 0; round < 5; ++round) {
    std::lock_guard<std::mutex> g(engine->lock);
    qvStreamScan::RemoveVolume(*app, 1);
    qvStreamScan scan(*app, nullptr);
    ASSERT_TRUE(scan.BeginVolume(1, app->volumes.root[1]));
    scan.AddEntries(entries.data(), entries.size());
    scan.EndVolume();
    ASSERT_TRUE(scan.Finish());
  }
  EXPECT_EQ(app->fileList.Count(), files);
  // Without the rebuild every round would leave a volume's worth behind.
  EXPECT_LE(app->recordPool.BlockCount(), blocks + 1);
  ExpectConsistent();
}

// Folders that no list holds but files still name (the layout copies them
// on first sight, among the files): every file keeps its name and finds
// its folder's key, wherever those copies fall between the file copies.
TEST(CompactUnlisted, FoldersCopiedAmongTheFilesKeepTheirFiles) {
  const uint16_t* ranks = qvCollation::RankTable();
  auto app = std::make_unique<qvFileBaseApp>();
  app->extTable.Reset();
  auto entries = Tree(300, 30);
  qvStreamScan scan(*app, nullptr);
  ASSERT_TRUE(scan.BeginVolume(0, u"/"));
  std::vector<ScanEntry> stream;
  for (const auto& e : entries)
    stream.push_back({e.fileRef, e.parentRef, e.attributes, e.name.data(), static_cast<uint32_t>(e.name.size())});
  scan.AddEntries(stream.data(), stream.size());
  scan.EndVolume();
  ASSERT_TRUE(scan.Finish());
  // One folder in seven leaves the folder list; its record, its files and
  // its map entry stay.
  size_t index = 0;
  app->folderList.RemoveIf([&](const uint8_t* r) { return DirRecord::Parent(r) != kNullRef && index++ % 7 == 3; });
  ASSERT_LT(app->folderList.Count(), 300u);
  auto picture = [&] {
    std::vector<std::pair<std::string, DirKey>> out;
    for (size_t i = 0; i < app->fileList.Count(); ++i) {
      const uint8_t* r = app->fileList.At(i);
      const uint8_t* parent = app->Resolve(FileRecord::Parent(r));
      EXPECT_NE(parent, nullptr);
      out.push_back({std::string(reinterpret_cast<const char*>(FileRecord::Name(r)), FileRecord::NameLength(r)),
                     parent ? DirRecord::Key(parent) : 0});
    }
    return out;
  };
  auto before = picture();
  ASSERT_TRUE(qvCompactRecords(*app));
  EXPECT_EQ(picture(), before);
  for (size_t i = 0; i < app->folderList.Count(); ++i) {
    const uint8_t* r = app->folderList.At(i);
    EXPECT_EQ(app->Resolve(app->dirMap.FindRecord(DirRecord::Key(r))), r);
  }
  qvCollation::SetRankTable(ranks);
}
