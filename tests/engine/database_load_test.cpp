// Loading from the data folder: the currency test per volume slot, the
// size and read checks with their reasons and messages, and "ext.db".
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "database_fixture.h"
#include "engine_fixture.h"

using namespace dbtest;
using E = qvStreamVolumeSource;
using Code = qvStatus::Code;

namespace {

std::vector<VolumeSpec> TwoVolumes() {
  return {{0, "C:/", 0xC0C0, 10, 1000, {E::Folder(16, 5, u"Windows"), E::File(17, 16, u"win.ini")}},
          {1, "D:/", 0xD0D0, 20, 2000, {E::File(16, 5, u"photo.jpg")}}};
}

// Saves an index of the volumes into the folder.
void SaveIndexOf(const std::vector<VolumeSpec>& volumes, const std::string& folder) {
  auto app = NewApp(folder);
  Scan(*app, volumes);
  ASSERT_TRUE(qvDatabase::SaveIndex(*app).ok());
}

// Loads with the volumes as discovery finds them now; the reason is
// reported as the engine reports it.
qvStatus LoadWith(const std::vector<VolumeSpec>& now, const std::string& folder) {
  auto app = NewApp(folder);
  Discover(*app, now);
  qvStatus status = qvDatabase::LoadIndex(*app, nullptr, CurrentSet(*app));
  if (!status.ok()) {
    EXPECT_TRUE(TablesEmpty(*app));
  }
  qvDatabase::ReportDropped(status);
  return status;
}

}  // namespace

TEST(DatabaseLoad, CurrentOnlyForTheSameVolumesAndJournals) {
  TempDir dir;
  SaveIndexOf(TwoVolumes(), dir.Path());
  ErrorCapture errors;
  std::vector<VolumeSpec> now = TwoVolumes();
  EXPECT_TRUE(LoadWith(now, dir.Path()).ok());

  std::vector<VolumeSpec> dGone = {now[0]};
  EXPECT_EQ(LoadWith(dGone, dir.Path()).code(), Code::kStale);
  std::vector<VolumeSpec> eAdded = now;
  eAdded.push_back({2, "E:/", 0xE0E0, 0, 0, {}});
  EXPECT_EQ(LoadWith(eAdded, dir.Path()).code(), Code::kStale);
  std::vector<VolumeSpec> newJournal = now;
  newJournal[1].journalId = 0xD0D1;
  EXPECT_EQ(LoadWith(newJournal, dir.Path()).code(), Code::kStale);
  std::vector<VolumeSpec> moved = now;  // D's volume now in slot 2
  moved[1].slot = 2;
  EXPECT_EQ(LoadWith(moved, dir.Path()).code(), Code::kStale);

  // The journal must still hold the saved position (2000 for D).
  std::vector<VolumeSpec> wrapped = now;
  wrapped[1].firstUsn = 2001;
  EXPECT_EQ(LoadWith(wrapped, dir.Path()).code(), Code::kStale);
  std::vector<VolumeSpec> justHeld = now;
  justHeld[1].firstUsn = 2000;
  EXPECT_TRUE(LoadWith(justHeld, dir.Path()).ok());
  EXPECT_TRUE(errors.texts.empty());  // staleness is silent
}

TEST(DatabaseLoad, SavedPositionsReplaceTheDiscoveredOnes) {
  TempDir dir;
  SaveIndexOf(TwoVolumes(), dir.Path());
  auto app = NewApp(dir.Path());
  std::vector<VolumeSpec> now = TwoVolumes();
  now[0].nextUsn = 5555;  // the journal has moved on since the save
  Discover(*app, now);
  app->volumes.nextUsn[7] = 77;  // a slot without an entry gets 0
  RecordingSink sink;
  ASSERT_TRUE(qvDatabase::LoadIndex(*app, &sink, CurrentSet(*app)).ok());
  EXPECT_EQ(app->volumes.nextUsn[0], 1000);
  EXPECT_EQ(app->volumes.nextUsn[1], 2000);
  EXPECT_EQ(app->volumes.nextUsn[7], 0);
  ASSERT_EQ(sink.statuses.size(), 1u);
  EXPECT_EQ(sink.statuses[0], std::make_pair(-1, std::string("正在加载数据库...")));
}

TEST(DatabaseLoad, FileSizeAndReadChecks) {
  TempDir dir;
  std::string path = dir.Path("ntfsqs.db");
  {
    ErrorCapture errors;
    EXPECT_EQ(LoadWith({}, dir.Path()).code(), Code::kNotFound);  // no file: the normal first start
    EXPECT_TRUE(errors.texts.empty());
  }
  // 70 bytes: a header with an empty volume table, but no folders.
  HandDb empty;
  std::vector<uint8_t> header = empty.Build();
  ASSERT_EQ(header.size(), 70u);
  WriteFile(path, header);
  Reseal(dir.Path());
  {
    ErrorCapture errors;
    qvStatus status = LoadWith({}, dir.Path());
    EXPECT_EQ(status.code(), Code::kBadHeader);  // past the size test
    EXPECT_EQ(errors.texts, std::vector<std::string>{"数据库文件格式错误(文件头):" + std::to_string(EBADMSG)});
  }
  // Too short to be an index: the reason is the size, not "no error".
  for (size_t size : {size_t{69}, size_t{0}}) {
    header.resize(size);
    WriteFile(path, header);
    Reseal(dir.Path());
    ErrorCapture errors;
    EXPECT_EQ(LoadWith({}, dir.Path()).code(), Code::kTooSmall) << size;
    EXPECT_EQ(errors.texts, std::vector<std::string>{"获取文件大小失败:" + std::to_string(ENODATA)}) << size;
  }
  ::unlink(path.c_str());
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);  // something that has no file size
  {
    ErrorCapture errors;
    EXPECT_EQ(LoadWith({}, dir.Path()).code(), Code::kNotRegularFile);
    EXPECT_EQ(errors.texts, std::vector<std::string>{"获取文件大小失败:" + std::to_string(EISDIR)});
  }
}

TEST(DatabaseLoad, ExtensionFileIsNeededAndChecked) {
  TempDir dir;
  SaveIndexOf(TwoVolumes(), dir.Path());
  std::vector<uint8_t> ext = ReadFile(dir.Path("ext.db"));
  auto loadBoth = [&](std::vector<std::string>* texts) {
    ErrorCapture errors;
    auto app = NewApp(dir.Path());
    Discover(*app, TwoVolumes());
    qvStatus status = qvDatabase::LoadSavedIndex(*app, nullptr);
    if (!status.ok()) {
      EXPECT_TRUE(TablesEmpty(*app));
    }
    qvDatabase::ReportDropped(status);
    *texts = errors.texts;
    return status;
  };
  std::vector<std::string> texts;
  EXPECT_TRUE(loadBoth(&texts).ok());

  ::unlink(dir.Path("ext.db").c_str());
  EXPECT_EQ(loadBoth(&texts).code(), Code::kIoError);
  EXPECT_EQ(texts, std::vector<std::string>{"读扩展名文件失败:2"});

  // ini and jpg are ids 4 and 5: a dictionary without id 5 cannot serve
  // the loaded files.
  std::vector<HandExt> short4 = BuiltinExts();
  short4.insert(short4.begin() + 3, {4, -3, u"ini"});  // in text order, between ico and lnk
  WriteFile(dir.Path("ext.db"), BuildExt(short4));
  EXPECT_EQ(loadBoth(&texts).code(), Code::kMismatch);  // not the file of that save
  Reseal(dir.Path());
  EXPECT_EQ(loadBoth(&texts).code(), Code::kExtensionMissing);
  EXPECT_EQ(texts, std::vector<std::string>{"读扩展名文件失败:22"});
  WriteFile(dir.Path("ext.db"), ext);
  Reseal(dir.Path());
  EXPECT_TRUE(loadBoth(&texts).ok());
}

TEST(DatabaseLoad, ExtensionFileContents) {
  auto load = [](const std::vector<uint8_t>& bytes, qvFileBaseApp& app) {
    return qvDatabase::LoadExtImage(app, bytes.data(), bytes.size());
  };
  auto app = NewApp();
  std::vector<HandExt> good = BuiltinExts();
  good.push_back({5, -2, u""});  // "name." has the empty extension, sorted first
  good.push_back({4, 12345, u"zip"});
  std::rotate(good.begin(), good.end() - 2, good.end() - 1);
  ASSERT_TRUE(load(BuildExt(good), *app).ok());
  EXPECT_EQ(app->extTable.Count(), 6u);
  EXPECT_EQ(app->extTable.Sorted(0).id, 5u);
  EXPECT_EQ(app->extTable.Icon(5), -2);
  EXPECT_EQ(app->extTable.Icon(4), -3);  // an icon index of another run is looked up again
  EXPECT_EQ(app->extTable.Find(u"zip", 3), 4);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<HandExt> dupId = BuiltinExts();
  dupId.push_back({3, -3, u"txt"});
  std::vector<HandExt> idOutOfRange = BuiltinExts();
  idOutOfRange.push_back({5, -3, u"txt"});
  std::vector<HandExt> unsorted = BuiltinExts();
  std::swap(unsorted[1], unsorted[2]);
  std::vector<HandExt> dupText = BuiltinExts();
  dupText.push_back({4, -3, u"lnk"});
  std::vector<HandExt> upper = BuiltinExts();
  upper.push_back({4, -3, u"TXT"});
  std::vector<HandExt> noBuiltins = {{0, -3, u"a"}, {1, -3, u"b"}, {2, -3, u"c"}, {3, -3, u"d"}};
  std::vector<HandExt> swappedBuiltins = BuiltinExts();
  std::swap(swappedBuiltins[0].id, swappedBuiltins[1].id);
  std::vector<uint8_t> unterminated = BuildExt(BuiltinExts());
  unterminated.resize(unterminated.size() - 2);
  std::vector<uint8_t> trailing = BuildExt(BuiltinExts());
  trailing.push_back(0);
  std::vector<uint8_t> hugeCount = BuildExt(BuiltinExts());
  hugeCount[3] = 0xFF;
  std::vector<uint8_t> shortCount = BuildExt(BuiltinExts());
  shortCount[0] = 3;
  const Case cases[] = {
      {"empty file", {}},
      {"id twice", BuildExt(dupId)},
      {"id not below N", BuildExt(idOutOfRange)},
      {"texts out of order", BuildExt(unsorted)},
      {"text twice", BuildExt(dupText)},
      {"upper-case text", BuildExt(upper)},
      {"built-ins missing", BuildExt(noBuiltins)},
      {"built-ins under other ids", BuildExt(swappedBuiltins)},
      {"text not terminated", unterminated},
      {"bytes after the last record", trailing},
      {"count beyond the file", hugeCount},
      {"fewer than four entries", shortCount},
  };
  for (const Case& c : cases) {
    auto fresh = NewApp();
    fresh->extTable.FindOrAdd(std::u16string(u"kept").data(), 4);
    EXPECT_EQ(load(c.bytes, *fresh).code(), Code::kBadExtensionFile) << c.what;
    EXPECT_TRUE(TablesEmpty(*fresh)) << c.what;
  }
}

TEST(DatabaseLoad, LargeExtensionFileGrowsTheTable) {
  auto app = NewApp();
  ASSERT_EQ(app->extTable.Capacity(), 512u);
  std::vector<HandExt> exts = BuiltinExts();
  for (uint32_t id = 4; id < 600; ++id) {
    std::string t = "x" + std::to_string(id);
    exts.push_back({id, -3, std::u16string(t.begin(), t.end())});
  }
  std::sort(exts.begin(), exts.end(), [](const HandExt& a, const HandExt& b) { return a.text < b.text; });
  std::vector<uint8_t> bytes = BuildExt(exts);
  ASSERT_TRUE(qvDatabase::LoadExtImage(*app, bytes.data(), bytes.size()).ok());
  EXPECT_EQ(app->extTable.Count(), 600u);
  EXPECT_EQ(app->extTable.Capacity(), 664u);
  EXPECT_EQ(app->extTable.Find(u"x599", 4), 599);
  // A new extension still goes in after them.
  std::u16string more = u"new";
  EXPECT_EQ(app->extTable.FindOrAdd(more.data(), more.size()), 600u);
}
