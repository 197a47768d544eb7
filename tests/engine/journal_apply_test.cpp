// Live changes applied from journal records: the decision table, renames,
// the search they trigger, and the order of both lists after each step.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "qvCollation.h"
#include "journal_reasons.h"
#include "qvIndexEdit.h"
#include "qvJournal.h"

using E = qvStreamVolumeSource;

namespace {

struct Journal : ::testing::Test {
  void SetUp() override {
    engine = MakeEngine({MakeVolume("/", {E::Folder(16, 5, u"docs"), E::File(17, 16, u"notes.txt"),
                                          E::Folder(18, 16, u"sub"), E::File(19, 18, u"deep.c")})},
                        &sink, "/nonexistent-qv-data/");
    ASSERT_NE(engine, nullptr);
    engine->SetListWindow(&list);
    app = qvFileBaseApp::Instance();
  }
  void TearDown() override {
    if (engine) engine->Release();
  }
  // Applies one record under the engine lock, as the monitor does.
  void Apply(uint32_t reason, bool folder, uint64_t ref, uint64_t parent, const std::u16string& name,
             bool check = true) {
    JournalRecord r{reason, folder ? QV_ATTR_DIRECTORY : QV_ATTR_NORMAL, ref, parent, name.data(),
                    static_cast<uint32_t>(name.size())};
    std::lock_guard<std::mutex> g(engine->lock);
    engine->ApplyJournalLocked(0, &r, 1);
    if (check) CheckOrder();
  }
  void CheckOrder() {
    for (size_t i = 1; i < app->folderList.Count(); ++i)
      ASSERT_LE(qvCollation::CompareFolders(app->folderList.At(i - 1), app->folderList.At(i)), 0);
    for (size_t i = 1; i < app->fileList.Count(); ++i)
      ASSERT_LE(qvCollation::CompareFiles(app->fileList.At(i - 1), app->fileList.At(i), app->extTable), 0);
    ASSERT_EQ(app->dirMap.Count(), app->folderList.Count());
  }
  std::vector<std::string> Rows(const std::u16string& query) {
    engine->Search(query.c_str(), u"", 1);
    std::vector<std::string> out;
    int32_t n = engine->GetFolderResultCount() + engine->GetFileResultCount();
    for (int32_t r = 0; r < n; ++r) out.push_back(RowText(engine, r));
    return out;
  }
  size_t SearchCount() {
    std::lock_guard<std::mutex> g(list.lock);
    return list.calls.size();
  }

  RecordingSink sink;
  RecordingList list;
  qvKearchImpl* engine = nullptr;
  qvFileBaseApp* app = nullptr;
};

}  // namespace

TEST_F(Journal, CreateNeedsCloseAndAddsOnce) {
  Apply(USN_REASON_FILE_CREATE, false, 30, 16, u"new.txt");
  EXPECT_TRUE(Rows(u"new").empty());
  Apply(kCreate, false, 30, 16, u"new.txt");
  EXPECT_EQ(Rows(u"new"), std::vector<std::string>{"/docs/|new.txt"});
  Apply(kCreate, true, 31, 16, u"newdir");
  EXPECT_EQ(Rows(u"new"), (std::vector<std::string>{"/docs/|newdir", "/docs/|new.txt"}));
}

TEST_F(Journal, FileRenameRemovesOldAndAddsNew) {
  Apply(kOld, false, 17, 16, u"notes.txt");
  Apply(kNew, false, 17, 16, u"zeta.txt");
  EXPECT_TRUE(Rows(u"notes").empty());
  EXPECT_EQ(Rows(u"zeta"), std::vector<std::string>{"/docs/|zeta.txt"});
}

TEST_F(Journal, RenamedFolderKeepsItsChildren) {
  Apply(kOld, true, 18, 16, u"sub");
  Apply(kNew, true, 18, 16, u"renamed");
  EXPECT_EQ(Rows(u"deep"), std::vector<std::string>{"/docs/renamed/|deep.c"});
  EXPECT_TRUE(Rows(u"sub").empty());
  // The folder is found under its key again.
  EXPECT_NE(app->dirMap.FindRecord(MakeDirKey(0, 18)), kNullRef);
}

TEST_F(Journal, NameSplitsAndDeletes) {
  Apply(kCreate, false, 40, 5, u".profile");
  Apply(kCreate, false, 41, 5, u"a b.txt");
  Apply(kCreate, false, 42, 5, u"a.b c");
  EXPECT_EQ(Rows(u"profile"), std::vector<std::string>{"/|.profile"});
  EXPECT_EQ(Rows(u"a b"), (std::vector<std::string>{"/|a b.txt", "/|a.b c"}));
  Apply(kDelete, false, 41, 5, u"a b.txt");
  EXPECT_EQ(Rows(u"a b"), std::vector<std::string>{"/|a.b c"});
  // A delete under an unknown parent, or of an unknown extension, changes nothing.
  size_t files = app->fileList.Count();
  Apply(kDelete, false, 42, 999, u"a.b c");
  Apply(kDelete, false, 17, 16, u"notes.unknownext");
  EXPECT_EQ(app->fileList.Count(), files);
  Apply(kDelete, true, 18, 16, u"sub");
  EXPECT_TRUE(Rows(u"sub").empty());
  EXPECT_EQ(app->dirMap.FindRecord(MakeDirKey(0, 18)), kNullRef);
}

TEST_F(Journal, WholeNameDecidesTheSearch) {
  Rows(u"x");
  size_t before = SearchCount();
  Apply(kCreate, false, 50, 16, u"xyz.doc");
  EXPECT_GT(SearchCount(), before);  // 'x' matches: the list was told again
  Rows(u"doc");
  before = SearchCount();
  Apply(kCreate, false, 51, 16, u"abc.doc");
  EXPECT_GT(SearchCount(), before);  // the whole name holds 'doc' ...
  EXPECT_EQ(Rows(u"doc"), std::vector<std::string>{"/|docs"});  // ... though no base name does
  before = SearchCount();
  Apply(kCreate, false, 52, 16, u"other.txt");
  EXPECT_EQ(SearchCount(), before);  // no match, no search
}

TEST_F(Journal, ManyChangesKeepOrderAcrossPages) {
  // Enough records to fill and split pages of the file list.
  for (uint64_t i = 0; i < 9000; ++i) {
    std::u16string name = u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                          qvNameCodec::DecodeToString(std::to_string(i * 7919 % 10007)) + u".txt";
    Apply(kCreate, false, 1000 + i, 16, name, i % 500 == 0);
  }
  CheckOrder();
  EXPECT_EQ(app->fileList.Count(), 9002u);
  EXPECT_GT(app->fileList.PageCount(), 2u);
  for (uint64_t i = 0; i < 9000; i += 2) {
    std::u16string name = u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                          qvNameCodec::DecodeToString(std::to_string(i * 7919 % 10007)) + u".txt";
    Apply(kDelete, false, 1000 + i, 16, name, i % 500 == 0);
  }
  CheckOrder();
  EXPECT_EQ(app->fileList.Count(), 4502u);
}

TEST_F(Journal, FindsChildrenByParentAndExactName) {
  std::lock_guard<std::mutex> g(engine->lock);
  EXPECT_EQ(FindChildNumber(*app, 0, 16, u"notes.txt", 9, false), 17u);
  EXPECT_EQ(FindChildNumber(*app, 0, 16, u"NOTES.txt", 9, false), 0u);  // case matters on Linux
  EXPECT_EQ(FindChildNumber(*app, 0, 16, u"sub", 3, true), 18u);
  EXPECT_EQ(FindChildNumber(*app, 0, 5, u"sub", 3, true), 0u);
  EXPECT_EQ(FindChildNumber(*app, 0, 16, u"notes.doc", 9, false), 0u);
}

TEST_F(Journal, FolderLeavingTheIndexTakesItsSubtree) {
  Apply(kCreate, true, 60, 18, u"inner");
  Apply(kCreate, false, 61, 60, u"leaf.txt");
  Apply(kCreate, false, 62, 5, u"leaf-outside.txt");
  std::vector<uint32_t> removed;
  {
    std::lock_guard<std::mutex> g(engine->lock);
    EXPECT_EQ(MaxRecordNumber(*app, 0), 62u);
    ASSERT_TRUE(qvIndexEdit::RemoveTree(*app, 0, 18, &removed));
    EXPECT_FALSE(qvIndexEdit::RemoveTree(*app, 0, 18, nullptr));
  }
  CheckOrder();
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<uint32_t>{18, 60}));
  EXPECT_TRUE(Rows(u"deep").empty());
  EXPECT_TRUE(Rows(u"inner").empty());
  EXPECT_EQ(Rows(u"leaf"), std::vector<std::string>{"/|leaf-outside.txt"});
  EXPECT_EQ(app->fileList.Count(), 2u);  // notes.txt and leaf-outside.txt
  EXPECT_EQ(Rows(u"notes"), std::vector<std::string>{"/docs/|notes.txt"});
}
