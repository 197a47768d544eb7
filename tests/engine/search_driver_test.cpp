// The search driver end to end: outcomes and what the sink and the list
// window are told, the extension filter, appending searches, result pages,
// searching before the index is ready, and the rows it leaves.
#include <gtest/gtest.h>

#include <future>

#include "search_helpers.h"

namespace {

using qvsearchtest::E;
using qvsearchtest::FlatEntries;
using qvsearchtest::SearchEngine;
using Statuses = std::vector<std::pair<int32_t, std::string>>;
using Calls = std::vector<std::string>;

TEST(SearchDriver, NullEmptyAndBlankQueries) {
  SearchEngine s(FlatEntries({u"abc"}, {u"abc.txt", u"zzz"}));
  s.TakeStatuses();
  s.Search(u"abc");
  EXPECT_EQ(s.Names(), (std::vector<std::string>{"abc", "abc.txt"}));
  EXPECT_EQ(s.TakeListCalls(), Calls{"count 2"});
  EXPECT_EQ(s.TakeStatuses(), (Statuses{{2, "<null>"}}));

  s.engine->Search(nullptr, u"", 1);
  EXPECT_TRUE(s.TakeListCalls().empty());
  EXPECT_TRUE(s.TakeStatuses().empty());
  EXPECT_EQ(s.RowCount(), 2);

  for (const char16_t* empty : {u"", u"   "}) {
    s.Search(u"abc");
    s.TakeListCalls();
    s.TakeStatuses();
    s.Search(empty);
    EXPECT_EQ(s.RowCount(), 0);
    EXPECT_EQ(s.TakeListCalls(), (Calls{"count 0", "redraw"}));
    EXPECT_EQ(s.TakeStatuses(), (Statuses{{-1, ""}}));
  }
}

TEST(SearchDriver, StarOnlyQueryRunsNoScan) {
  SearchEngine s(FlatEntries({u"abc"}, {u"abc.txt"}));
  s.Search(u"abc");
  s.TakeListCalls();
  s.TakeStatuses();
  s.Search(u"*", u"", 0);  // appends nothing to what is there
  EXPECT_EQ(s.RowCount(), 2);
  EXPECT_EQ(s.TakeListCalls(), Calls{"count 2"});
  EXPECT_EQ(s.TakeStatuses(), (Statuses{{2, "<null>"}}));
  s.Search(u"** *", u"", 1);
  EXPECT_EQ(s.RowCount(), 0);
  EXPECT_EQ(s.TakeListCalls(), Calls{"count 0"});
  EXPECT_EQ(s.TakeStatuses(), (Statuses{{0, "<null>"}}));
}

TEST(SearchDriver, ContradictoryQueriesEmptyTheList) {
  SearchEngine s(FlatEntries({}, {u"abc", u"abd", u"xbc", u"abxy", u"bcd"}));
  s.TakeStatuses();
  for (const char16_t* q : {u"a?c b?d", u"ab?? xyz"}) {
    s.Search(u"ab");
    s.TakeListCalls();
    s.Search(q);
    EXPECT_EQ(s.RowCount(), 0);
    EXPECT_EQ(s.TakeListCalls(), (Calls{"count 0", "redraw"}));
  }
  s.Search(u"a?c ?bc");
  EXPECT_EQ(s.Names(), std::vector<std::string>{"abc"});
  s.Search(u"ab?? xy");
  EXPECT_EQ(s.Names(), std::vector<std::string>{"abxy"});
}

TEST(SearchDriver, FilesAreTestedByTheirBaseNameFoldersByTheWholeName) {
  SearchEngine s(FlatEntries({u"report.pdf"}, {u"report.pdf", u"summary.pdf"}));
  s.Search(u"report.pdf");
  EXPECT_EQ(s.Names(), std::vector<std::string>{"report.pdf"});
  EXPECT_EQ(s.engine->GetFolderResultCount(), 1);
  s.Search(u"pdf");
  EXPECT_EQ(s.engine->GetFileResultCount(), 0);
  s.Search(u"REPORT");
  EXPECT_EQ(s.Names(), (std::vector<std::string>{"report.pdf", "report.pdf"}));
  EXPECT_EQ(s.engine->GetFileResultCount(), 1);
}

TEST(SearchDriver, ExtensionFilter) {
  SearchEngine s(FlatEntries({u"x.jpg", u"jpg"}, {u"a.jpg", u"b.JPG", u"c.png", u"d.gif", u"jpg", u"e.jpg.txt"}));
  s.TakeStatuses();
  s.Search(u"*?", u"jpg");  // one id for both cases; names keep their own
  EXPECT_EQ(s.Names(), (std::vector<std::string>{"a.jpg", "b.JPG"}));
  EXPECT_EQ(s.engine->GetFolderResultCount(), 0);
  s.Search(u"*?", u"JPG jpg");
  EXPECT_EQ(s.Names(), (std::vector<std::string>{"a.jpg", "b.JPG"}));
  s.Search(u"*?", u"xyz jpg");
  EXPECT_EQ(s.Names(), (std::vector<std::string>{"a.jpg", "b.JPG"}));
  s.Search(u"b", u"jpg");
  EXPECT_EQ(s.Names(), std::vector<std::string>{"b.JPG"});
  s.TakeListCalls();
  s.TakeStatuses();
  s.Search(u"*?", u"xyz");  // no known extension: nothing, whatever the query
  EXPECT_EQ(s.RowCount(), 0);
  EXPECT_EQ(s.TakeListCalls(), (Calls{"count 0", "redraw"}));
  EXPECT_EQ(s.TakeStatuses(), (Statuses{{-1, ""}}));
  s.Search(u"jpg", u"  ");  // blanks are no filter: folders come too
  EXPECT_EQ(s.Names(), (std::vector<std::string>{"jpg", "x.jpg", "e.jpg.txt", "jpg"}));
}

TEST(SearchDriver, FilterKeepsTheFirst64DistinctExtensions) {
  std::vector<std::u16string> files;
  std::u16string all, repeated;
  for (int i = 0; i < 70; ++i) {
    std::u16string ext = u"e" + qvNameCodec::DecodeToString(std::to_string(100 + i));
    files.push_back(u"f." + ext);
    all += ext + u" ";
    if (i < 63) repeated += ext + u" " + ext + u" ";
  }
  repeated += u"e169";
  SearchEngine s(FlatEntries({}, files));
  s.Search(u"*?", all);
  EXPECT_EQ(s.RowCount(), 64);
  s.Search(u"*?", repeated);  // repeats are not counted: e169 is the 64th
  EXPECT_EQ(s.RowCount(), 64);
  bool found169 = false;
  for (const std::string& name : s.Names()) found169 |= name == "f.e169";
  EXPECT_TRUE(found169);
}

TEST(SearchDriver, CategoryCallsAppendExtensionByExtension) {
  SearchEngine s(FlatEntries({}, {u"z.jpg", u"a.png", u"m.gif", u"b.JPG", u"y.png", u"c.txt"}));
  s.TakeStatuses();
  s.Search(u"*?", u"jpg", 1);
  s.Search(u"*?", u"png", 0);
  s.Search(u"*?", u"gif", 0);
  EXPECT_EQ(s.Names(), (std::vector<std::string>{"b.JPG", "z.jpg", "a.png", "y.png", "m.gif"}));
  EXPECT_EQ(s.TakeListCalls(), (Calls{"count 2", "count 4", "count 5"}));
  EXPECT_EQ(s.TakeStatuses(), (Statuses{{2, "<null>"}, {4, "<null>"}, {5, "<null>"}}));
  s.Search(u"*?", u"png", 1);  // a new list
  EXPECT_EQ(s.Names(), (std::vector<std::string>{"a.png", "y.png"}));
}

std::vector<std::u16string> NumberedNames(int count) {
  std::vector<std::u16string> names;
  char text[16];
  for (int i = 0; i < count; ++i) {
    std::snprintf(text, sizeof text, "dir%05d", i);
    names.push_back(qvNameCodec::DecodeToString(text));
  }
  return names;
}

TEST(SearchDriver, FolderHitsFillResultPages) {
  {
    SearchEngine s(FlatEntries(NumberedNames(16384), {}));
    s.Search(u"dir");
    EXPECT_EQ(s.RowCount(), 16384);
    EXPECT_EQ(qvFileBaseApp::Instance()->folderResults.PageCount(), 1u);
    EXPECT_EQ(RowText(s.engine, 16383), "/|dir16383");
    EXPECT_EQ(RowText(s.engine, 16384), "|");
  }
  SearchEngine s(FlatEntries(NumberedNames(16385), {u"dir.txt"}));
  s.Search(u"dir");
  COutVector& folders = qvFileBaseApp::Instance()->folderResults;
  EXPECT_EQ(s.RowCount(), 16386);
  EXPECT_EQ(folders.PageCount(), 2u);
  EXPECT_EQ(RowText(s.engine, 16384), "/|dir16384");  // slot 0 of page 1
  EXPECT_EQ(RowText(s.engine, 16385), "/|dir.txt");
  s.Search(u"dir1638");  // a reset keeps the pages
  EXPECT_EQ(s.RowCount(), 5);
  EXPECT_EQ(folders.PageCount(), 2u);
  s.Search(u"dir");
  EXPECT_EQ(RowText(s.engine, 16384), "/|dir16384");
  s.Search(u"");  // the empty outcome frees all but the first
  EXPECT_EQ(folders.PageCount(), 1u);
}

// Holds enumeration back until the test lets it go.
class GatedSource : public qvStreamVolumeSource {
 public:
  GatedSource(std::vector<Volume> volumes, std::shared_future<void> gate)
      : qvStreamVolumeSource(std::move(volumes)), gate_(std::move(gate)) {}
  bool Enumerate(size_t index, const ScanSink& sink) override {
    gate_.wait();
    return qvStreamVolumeSource::Enumerate(index, sink);
  }

 private:
  std::shared_future<void> gate_;
};

TEST(SearchDriver, SearchBeforeReadyIsAnsweredWhenLoadingEnds) {
  std::promise<void> open;
  RecordingSink sink;
  RecordingList list;
  auto* engine = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
  ASSERT_NE(engine, nullptr);
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  config->SetDataFolder(u"/nonexistent-qv-data/");
  config->SetOption("no_save", "1");
  engine->SetVolumeSource(std::make_unique<GatedSource>(
      std::vector<qvStreamVolumeSource::Volume>{MakeVolume("/", FlatEntries({}, {u"abc", u"abd", u"x"}))},
      open.get_future().share()));
  engine->SetListWindow(&list);
  engine->Initialize(&sink);
  engine->Search(u"ab", u"", 1);
  bool readyBefore = engine->ready.load() != 0;
  size_t callsBefore;
  {
    std::lock_guard<std::mutex> g(list.lock);
    callsBefore = list.calls.size();
  }
  open.set_value();
  engine->WaitUntilInitialised();
  EXPECT_FALSE(readyBefore);
  EXPECT_EQ(callsBefore, 0u);
  EXPECT_EQ(list.calls, Calls{"count 2"});
  EXPECT_EQ(engine->GetFileResultCount(), 2);
  int counts = 0;
  for (auto& st : sink.statuses) counts += st.first >= 0;
  EXPECT_EQ(counts, 1);
  engine->Release();
}

TEST(SearchDriver, RowsAreFoldersThenFilesWithPathsAndExtensions) {
  SearchEngine s({E::Folder(16, 5, u"docs"), E::Folder(17, 16, u"sub"), E::File(18, 17, u"Report.PDF"),
                  E::File(19, 5, u"notes"), E::File(20, 16, u".profile")},
                 "/data/");
  s.Search(u"o");
  EXPECT_EQ(s.Rows(), (std::vector<std::string>{"/data/|docs", "/data/docs/|.profile", "/data/|notes",
                                                "/data/docs/sub/|Report.PDF"}));
  EXPECT_EQ(s.engine->GetFolderResultCount(), 1);
  std::vector<qvChar> path(QV_MAX_PATH), name(QV_MAX_PATH), ext(QV_MAX_PATH);
  EXPECT_EQ(s.engine->GetItemText(3, path.data(), name.data(), ext.data()), 15);
  EXPECT_EQ(std::u16string(ext.data()), u"PDF");
  EXPECT_EQ(std::u16string(name.data()), u"Report.PDF");
  s.engine->GetItemText(1, path.data(), name.data(), ext.data());
  EXPECT_EQ(std::u16string(name.data()), u".profile");
  EXPECT_EQ(std::u16string(ext.data()), u"");
  s.engine->GetItemText(4, path.data(), name.data(), ext.data());  // past the rows
  EXPECT_EQ(std::u16string(name.data()), u"");
  // The root row: named by its root text, in no folder.
  s.Search(u"data");
  EXPECT_EQ(s.Rows(), std::vector<std::string>{"|/data"});
}

}  // namespace
