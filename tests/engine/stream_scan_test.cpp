// Building the index from entry streams: roots, the extension split,
// parent resolution and dropping, and the list orders.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "qvCollation.h"
#include "qvErrorBox.h"
#include "qvPackedName.h"
#include "qvRecordPath.h"
#include "qvStreamScan.h"

using E = qvStreamVolumeSource;

namespace {

std::vector<std::string> AllFiles(qvFileBaseApp* app) {
  std::vector<std::string> out;
  for (size_t i = 0; i < app->fileList.Count(); ++i) {
    qvChar name[QV_MAX_PATH], ext[QV_MAX_PATH];
    qvBuildDisplayName(*app, app->fileList.At(i), false, name, QV_MAX_PATH, ext, QV_MAX_PATH);
    out.push_back(qvNameCodec::EncodeToString(name) + "|" + qvNameCodec::EncodeToString(ext));
  }
  return out;
}

std::vector<std::string> AllFolders(qvFileBaseApp* app) {
  std::vector<std::string> out;
  for (size_t i = 0; i < app->folderList.Count(); ++i) {
    qvChar name[QV_MAX_PATH], path[QV_MAX_PATH];
    const uint8_t* r = app->folderList.At(i);
    qvBuildDisplayName(*app, r, true, name, QV_MAX_PATH, nullptr, 0);
    qvBuildFolderPath(*app, DirRecord::Parent(r), path, QV_MAX_PATH);
    out.push_back(qvNameCodec::EncodeToString(path) + qvNameCodec::EncodeToString(name));
  }
  return out;
}

}  // namespace

TEST(StreamScanTest, ExtensionSplit) {
  auto dot = [](const std::u16string& s) { return qvFindExtensionDot(s.data(), s.size()); };
  EXPECT_EQ(dot(u"README"), -1);
  EXPECT_EQ(dot(u"Makefile."), 8);
  EXPECT_EQ(dot(u"a.txt"), 1);
  EXPECT_EQ(dot(u".profile"), -1);
  EXPECT_EQ(dot(u"archive.tar.gz"), 11);
  EXPECT_EQ(dot(u"my file.txt v2"), -1);
  EXPECT_EQ(dot(u"a b.txt"), 3);
  EXPECT_EQ(dot(u"a.b c"), -1);

  auto* engine = MakeEngine({MakeVolume("/", {E::File(16, 5, u"README"), E::File(17, 5, u"Makefile."),
                                              E::File(18, 5, u"photo.JPG"), E::File(19, 5, u".profile"),
                                              E::File(20, 5, u"archive.tar.gz")})},
                            nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  // The name shown keeps its real case; the id is the lower-case text.
  std::vector<std::string> expected = {".profile|", "archive.tar.gz|gz", "Makefile.|", "photo.JPG|JPG", "README|"};
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  EXPECT_EQ(AllFiles(app), expected);
  EXPECT_EQ(std::u16string(app->extTable.Text(FileRecord::ExtId(app->fileList.At(3)))), u"jpg");
  engine->Release();
}

TEST(StreamScanTest, OrphansCyclesAndTheirFilesAreDropped) {
  auto* engine = MakeEngine(
      {MakeVolume("/", {E::Folder(16, 5, u"home"),
                        E::Folder(17, 16, u"user"),
                        E::File(18, 17, u"kept.txt"),
                        E::File(19, 40, u"early-child.txt"),  // enumerated before its missing parent's child
                        E::Folder(40, 99, u"orphan"),          // parent 99 never enumerated
                        E::Folder(41, 40, u"under-orphan"),
                        E::File(42, 41, u"deep.txt"),
                        E::Folder(50, 51, u"loopA"),           // a parent cycle
                        E::Folder(51, 50, u"loopB"),
                        E::File(52, 50, u"in-loop.txt"),
                        E::Folder(60, 60, u"self")}),
       MakeVolume("/data/", {E::Folder(16, 5, u"docs"), E::File(17, 16, u"b.txt")})},
      nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  std::vector<std::string> folders = {"", "/data", "/data/docs", "/home", "/home/user"};
  std::vector<std::string> got = AllFolders(app);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, folders);
  std::vector<std::string> files = {"b.txt|txt", "kept.txt|txt"};
  EXPECT_EQ(AllFiles(app), files);
  // Every remaining folder is found by its key, each root by slot << 27 | 5;
  // dropped ones keep an entry without a record.
  EXPECT_NE(app->dirMap.FindRecord(RootKey(0)), kNullRef);
  EXPECT_NE(app->dirMap.FindRecord(RootKey(1)), kNullRef);
  EXPECT_NE(app->dirMap.FindRecord(MakeDirKey(1, 16)), kNullRef);
  for (uint32_t gone : {40u, 41u, 50u, 51u, 60u}) {
    EXPECT_NE(app->dirMap.Find(MakeDirKey(0, gone)), nullptr);
    EXPECT_EQ(app->dirMap.FindRecord(MakeDirKey(0, gone)), kNullRef);
  }
  EXPECT_EQ(app->dirMap.Count(), app->folderList.Count());
  for (size_t p = 0; p < app->dirMap.PageCount(); ++p) {
    DirMapPage* page = app->dirMap.Page(p);
    for (uint32_t k = page->first + 1; k < page->end; ++k) EXPECT_LT(page->entries[k - 1].key, page->entries[k].key);
  }
  engine->Release();
}

TEST(StreamScanTest, OversizedNumbersAreSkippedAndReportedOnce) {
  std::vector<std::string> errors;
  auto* reporter = +[](void* ctx, const char* text) { static_cast<std::vector<std::string>*>(ctx)->push_back(text); };
  SetErrorBoxReporter(reporter, &errors);
  std::vector<E::Entry> entries = {E::Folder(16, 5, u"ok")};
  for (uint64_t i = 0; i < 50; ++i) entries.push_back(E::File(0x8000000 + i, 16, u"big"));
  entries.push_back(E::File(20, 0x8000005, u"bad-parent"));
  auto* engine = MakeEngine({MakeVolume("/", entries)}, nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  EXPECT_EQ(app->fileList.Count(), 0u);
  EXPECT_EQ(app->folderList.Count(), 2u);
  engine->Release();
  SetErrorBoxReporter(nullptr, nullptr);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("51"), std::string::npos);
}

TEST(StreamScanTest, ListsComeOutInCollationOrder) {
  std::vector<E::Entry> entries;
  const char16_t* names[] = {u"b", u"A", u"赵", u"张", u"a", u"\u00E9", u"Zeta", u"报告", u"abc", u"ab"};
  uint64_t ref = 16;
  for (const char16_t* n : names) entries.push_back(E::Folder(ref++, 5, n));
  for (const char16_t* n : names) entries.push_back(E::File(ref++, 5, std::u16string(n) + u".txt"));
  entries.push_back(E::File(ref++, 5, u"a"));
  entries.push_back(E::File(ref++, 5, u"a.doc"));
  auto* engine = MakeEngine({MakeVolume("/", entries)}, nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  for (size_t i = 1; i < app->folderList.Count(); ++i)
    EXPECT_LE(qvCollation::CompareFolders(app->folderList.At(i - 1), app->folderList.At(i)), 0) << i;
  for (size_t i = 1; i < app->fileList.Count(); ++i)
    EXPECT_LE(qvCollation::CompareFiles(app->fileList.At(i - 1), app->fileList.At(i), app->extTable), 0) << i;
  // On equal base names: with an extension first, then by extension text.
  auto files = AllFiles(app);
  auto at = [&](const std::string& s) { return std::find(files.begin(), files.end(), s) - files.begin(); };
  EXPECT_LT(at("a.doc|doc"), at("a.txt|txt"));
  EXPECT_LT(at("a.txt|txt"), at("a|"));
  engine->Release();
}

TEST(StreamScanTest, OneVolumeScannedAgainReplacesOnlyItsRecords) {
  auto* engine = MakeEngine({MakeVolume("/", {E::Folder(16, 5, u"home"), E::File(17, 16, u"a.txt")}),
                             MakeVolume("/data/", {E::Folder(16, 5, u"old"), E::File(17, 16, u"gone.txt")})},
                            nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  {
    std::lock_guard<std::mutex> g(engine->lock);
    qvStreamScan::RemoveVolume(*app, 1);
    qvStreamScan scan(*app, nullptr);
    ASSERT_TRUE(scan.BeginVolume(1, u"/data/"));
    std::vector<std::u16string> names = {u"new", u"x.JPG", u"b.txt"};
    ScanEntry entries[] = {{16, 5, QV_ATTR_DIRECTORY, names[0].data(), 3},
                           {20, 16, QV_ATTR_NORMAL, names[1].data(), 5},
                           {21, 5, QV_ATTR_NORMAL, names[2].data(), 5}};
    scan.AddEntries(entries, 3);
    scan.EndVolume();
    ASSERT_TRUE(scan.Finish());
  }
  std::vector<std::string> folders = AllFolders(app);
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"", "/data", "/data/new", "/home"}));
  EXPECT_EQ(AllFiles(app), (std::vector<std::string>{"a.txt|txt", "b.txt|txt", "x.JPG|JPG"}));
  EXPECT_EQ(app->dirMap.Count(), 4u);
  EXPECT_NE(app->dirMap.FindRecord(MakeDirKey(0, 16)), kNullRef);
  EXPECT_NE(app->dirMap.FindRecord(MakeDirKey(1, 16)), kNullRef);
  engine->Search(u"new", u"", 1);
  EXPECT_EQ(RowText(engine, 0), "/data/|new");
  engine->Release();
}

// Extensions of one length that end alike, in both cases, and ones too
// long to be remembered, interleaved and repeated: every file keeps its
// own extension, its id names the lower-case text, and its real case
// shows.
TEST(StreamScanTest, AlikeExtensionsKeepTheirOwnIds) {
  static const char16_t* const kExts[] = {u"txt", u"ext", u"TXT", u"Ext", u"t", u"T", u"markdown~t", u"MARKDOWN~T",
                                          u"\u9879t"};
  std::vector<qvStreamVolumeSource::Entry> entries;
  std::vector<std::string> expected;
  for (uint64_t i = 0; i < 60; ++i) {
    const std::u16string ext = kExts[(i * 7) % std::size(kExts)];
    const std::u16string name = u"f" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) +
                                std::u16string(1, static_cast<char16_t>(u'a' + i / 26)) + u"." + ext;
    entries.push_back(E::File(16 + i, 5, name));
    expected.push_back(qvNameCodec::EncodeToString(name));
  }
  auto* engine = MakeEngine({MakeVolume("/", entries)}, nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  ASSERT_EQ(app->fileList.Count(), 60u);
  std::vector<std::string> shown;
  for (size_t i = 0; i < app->fileList.Count(); ++i) {
    const uint8_t* r = app->fileList.At(i);
    qvChar name[QV_MAX_PATH], ext[QV_MAX_PATH];
    qvBuildDisplayName(*app, r, false, name, QV_MAX_PATH, ext, QV_MAX_PATH);
    std::u16string real = ext, lowered = real;
    for (auto& c : lowered) c = qvFoldUnit(c);
    ASSERT_TRUE(FileRecord::HasExtension(r)) << i;
    EXPECT_EQ(std::u16string(app->extTable.Text(FileRecord::ExtId(r))), lowered) << i;
    EXPECT_TRUE(std::u16string(name).ends_with(u"." + real)) << i;
    shown.push_back(qvNameCodec::EncodeToString(name));
  }
  std::sort(shown.begin(), shown.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(shown, expected);
  engine->Release();
}
