// Save then load: the tables come back as they were, whatever the names,
// widths and pools; records that cannot be linked again are left out; the
// engine saves at release and loads at its next start.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>

#include "database_fixture.h"
#include "engine_fixture.h"

using namespace dbtest;
using E = qvStreamVolumeSource;

namespace {

// A volume of `count` entries: a folder tree, names mixing case, CJK,
// accents and lengths up to what the index holds, files with `exts`
// distinct extensions (more than 255 gives two-byte ids, more than 65535
// four-byte ones).
std::vector<Entry> Varied(uint32_t seed, size_t count, uint32_t exts) {
  std::mt19937 rng(seed);
  const std::u16string parts[] = {u"Program Files", u"program", u"报告", u"报表", u"résumé", u"a", u"A", u"x86",
                                  u" (x86)", u"Data", u"数据库", u"z"};
  std::vector<Entry> out;
  std::vector<uint64_t> folders = {5};
  for (size_t i = 0; i < count; ++i) {
    std::u16string name;
    for (uint32_t n = 1 + rng() % 3; n > 0; --n) name += parts[rng() % 12];
    if (rng() % 50 == 0) name.assign(250 + rng() % 100, u'l');  // around the 256-byte length switch
    if (rng() % 500 == 0) name.assign(1023, u'm');               // the longest name
    uint64_t parent = folders[rng() % folders.size()];
    uint64_t ref = 16 + i;
    if (rng() % 5 == 0) {
      out.push_back(E::Folder(ref, parent, name));
      folders.push_back(ref);
    } else {
      if (name.size() < 1000 && rng() % 4) {
        uint32_t e = rng() % (exts + 4);
        std::string ext = e < 4 ? std::string(e < 2 ? (e ? "EXE" : "cur") : (e == 2 ? "ico" : "lnk"))
                                : "e" + std::to_string(e);
        name += u'.';
        name += std::u16string(ext.begin(), ext.end());
      }
      out.push_back(E::File(ref, parent, name));
    }
  }
  return out;
}

std::vector<VolumeSpec> VariedVolumes(uint32_t exts, size_t count) {
  return {{0, "/", 0x100, 0, 111, Varied(1, count, exts)},
          {1, "/data/", 0x200, 0, 222, Varied(2, count / 2, exts)},
          {3, "/mnt/报告/", 0x300, 0, 333, Varied(3, count / 4, exts)}};
}

Picture SaveAndLoad(qvFileBaseApp* saved, const std::vector<VolumeSpec>& now, const std::string& folder,
                    bool* ok) {
  *ok = qvDatabase::SaveIndex(*saved).ok();
  auto app = NewApp(folder);
  Discover(*app, now);
  *ok = *ok && qvDatabase::LoadSavedIndex(*app, nullptr).ok();
  return Take(*app);
}

}  // namespace

TEST(DatabaseRoundTrip, TablesComeBackAsSaved) {
  for (uint32_t exts : {20u, 400u}) {
    TempDir dir;
    auto app = NewApp(dir.Path());
    std::vector<VolumeSpec> volumes = VariedVolumes(exts, 20000);
    Scan(*app, volumes);
    Picture before = Take(*app);
    ASSERT_GT(before.folders.size(), 4000u);
    bool ok;
    Picture after = SaveAndLoad(app.get(), volumes, dir.Path(), &ok);
    ASSERT_TRUE(ok) << exts;
    EXPECT_EQ(after.folders, before.folders) << exts;
    EXPECT_EQ(after.files, before.files) << exts;
    EXPECT_EQ(after.mapKeys, before.mapKeys) << exts;
  }
}

TEST(DatabaseRoundTrip, FourByteExtensionIds) {
  TempDir dir;
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < 66000; ++i) {
    std::string name = "f." + std::to_string(i);
    entries.push_back(E::File(16 + i, 5, std::u16string(name.begin(), name.end())));
  }
  std::vector<VolumeSpec> volumes = {{0, "C:/", 1, 0, 0, entries}};
  auto app = NewApp(dir.Path());
  Scan(*app, volumes);
  Picture before = Take(*app);
  bool ok;
  Picture after = SaveAndLoad(app.get(), volumes, dir.Path(), &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(after, before);
  size_t fourByte = 0;
  for (const auto& f : after.files) fourByte += (f.flags & FileRecord::kExtWidthMask) == (3u << 28);
  EXPECT_EQ(fourByte, 66000u + 4 - 65536);
}

TEST(DatabaseRoundTrip, RecordsOfTheSecondPoolAreSaved) {
  TempDir dir;
  std::vector<VolumeSpec> volumes = {{0, "C:/", 9, 0, 0, {E::Folder(16, 5, u"old"), E::File(17, 16, u"old.txt")}}};
  auto app = NewApp(dir.Path());
  Scan(*app, volumes);
  // A folder and a file made by a live change, under the root.
  RecordRef folderRef;
  uint8_t* folder = app->secondPool.Alloc(DirRecord::kHeaderSize + 3, &folderRef);
  DirRecord::Write(folder, MakeDirKey(0, 100), app->dirMap.FindRecord(RootKey(0)),
                   reinterpret_cast<const uint8_t*>("new"), 3, false);
  ASSERT_TRUE(app->folderList.Append(folder));
  ASSERT_TRUE(app->dirMap.Append(MakeDirKey(0, 100), folderRef));
  uint32_t flags = FileRecord::MakeFlags(101, 4, false, true, 1);
  uint8_t* file = app->secondPool.Alloc(FileRecord::SizeFor(4, true, 1));
  FileRecord::Write(file, flags, folderRef, reinterpret_cast<const uint8_t*>("file"), 4, 1);
  ASSERT_TRUE(app->fileList.Append(file));

  Picture before = Take(*app);
  bool ok;
  Picture after = SaveAndLoad(app.get(), volumes, dir.Path(), &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(after, before);
  ASSERT_EQ(after.folders.size(), 3u);
}

TEST(DatabaseRoundTrip, RecordsThatCannotBeLinkedAreLeftOut) {
  TempDir dir;
  std::vector<VolumeSpec> volumes = {{0, "C:/", 9, 0, 0,
                                      {E::Folder(16, 5, u"gone"), E::Folder(17, 16, u"below"),
                                       E::File(18, 17, u"deep.txt"), E::File(19, 16, u"inside"),
                                       E::File(20, 5, u"kept.txt")}}};
  auto app = NewApp(dir.Path());
  Scan(*app, volumes);
  // "gone" leaves the lists and the map; what is below it stays behind.
  uint8_t* gone = app->Resolve(app->dirMap.FindRecord(MakeDirKey(0, 16)));
  app->folderList.RemoveIf([&](const uint8_t* r) { return r == gone; });
  app->dirMap.ClearEntry(app->dirMap.Find(MakeDirKey(0, 16)));
  // A file whose parent record is in no table at all.
  RecordRef strayRef;
  uint8_t* stray = app->secondPool.Alloc(DirRecord::kHeaderSize + 1, &strayRef);
  DirRecord::Write(stray, MakeDirKey(0, 50), kNullRef, reinterpret_cast<const uint8_t*>("s"), 1, false);
  uint8_t* orphan = app->secondPool.Alloc(FileRecord::SizeFor(1, false, 0));
  FileRecord::Write(orphan, FileRecord::MakeFlags(51, 1, false, false, 0), strayRef,
                    reinterpret_cast<const uint8_t*>("o"), 1, 0);
  app->fileList.Append(orphan);

  bool ok;
  Picture after = SaveAndLoad(app.get(), volumes, dir.Path(), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(after.folders.size(), 1u);
  EXPECT_EQ(after.folders[0].name, "C:");
  ASSERT_EQ(after.files.size(), 1u);
  EXPECT_EQ(after.files[0].name, "kept");
}

TEST(DatabaseRoundTrip, EngineSavesAtReleaseAndLoadsAtStart) {
  TempDir dir;
  auto volumes = [](uint64_t journal) {
    return std::vector<qvStreamVolumeSource::Volume>{
        MakeVolume("/", {E::Folder(16, 5, u"home"), E::File(17, 16, u"a.txt"), E::File(18, 5, u"b.exe")}, journal)};
  };
  auto run = [&](uint64_t journal, RecordingSink& sink, int64_t* loaded, int64_t* files) {
    auto* engine = MakeEngine(volumes(journal), &sink, dir.Path());
    ASSERT_NE(engine, nullptr);
    auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    *loaded = config->QueryValue("loaded");
    *files = config->QueryValue("files");
    engine->Release();
  };
  auto scanned = [](RecordingSink& sink) {
    for (auto& s : sink.statuses)
      if (s.second.rfind("正在扫描", 0) == 0) return true;
    return false;
  };
  int64_t loaded, files;
  RecordingSink first;
  run(0x77, first, &loaded, &files);
  EXPECT_EQ(loaded, 0);
  EXPECT_TRUE(scanned(first));

  RecordingSink second;
  run(0x77, second, &loaded, &files);
  EXPECT_EQ(loaded, 1);
  EXPECT_EQ(files, 2);
  EXPECT_FALSE(scanned(second));

  RecordingSink replaced;  // a new journal: the saved index is stale
  run(0x78, replaced, &loaded, &files);
  EXPECT_EQ(loaded, 0);
  EXPECT_TRUE(scanned(replaced));

  ::unlink(dir.Path("ext.db").c_str());
  ErrorCapture errors;
  RecordingSink noExt;
  run(0x78, noExt, &loaded, &files);
  EXPECT_EQ(loaded, 0);
  EXPECT_EQ(files, 2);  // scanned instead
  EXPECT_TRUE(scanned(noExt));
  EXPECT_EQ(errors.texts, std::vector<std::string>{"读扩展名文件失败:2"});
}
