// "extcase.db" read against a loaded index: every entry finds its file by
// position, whatever pages the list came in, and a file whose entries are
// misplaced, cut short or not the files' own extensions is refused and
// leaves empty tables. Also the map the entries go into.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "database_fixture.h"
#include "qvDatabaseLoadThreads.h"
#include "qvExtCaseFile.h"
#include "qvFileRecordRuns.h"
#include "qvPackedName.h"
#include "qvWriteMgr.h"

namespace {

using dbtest::VolumeSpec;
using Code = qvStatus::Code;
using E = qvStreamVolumeSource;

std::vector<uint8_t> BytesOf(const CWriteMgr& out) {
  std::vector<uint8_t> bytes;
  out.ForEachChunk([&](const uint8_t* data, size_t size) { bytes.insert(bytes.end(), data, data + size); });
  return bytes;
}

struct Saved {
  std::vector<uint8_t> index, ext, extCase;
};

Saved Save(qvFileBaseApp& app) {
  CWriteMgr index(app.heap), ext(app.heap), extCase(app.heap);
  EXPECT_TRUE(qvDatabase::BuildIndexImage(app, index));
  EXPECT_TRUE(qvDatabase::BuildExtImage(app, ext));
  EXPECT_TRUE(qvExtCaseFile::BuildImage(app, extCase));
  return {BytesOf(index), BytesOf(ext), BytesOf(extCase)};
}

// The index and its dictionary loaded from `saved`, ready for the case file.
std::unique_ptr<qvFileBaseApp> LoadedIndex(const std::vector<VolumeSpec>& volumes, const Saved& saved,
                                           qvDatabase::LoadThreads threads) {
  auto app = dbtest::NewApp();
  dbtest::Discover(*app, volumes);
  EXPECT_TRUE(qvDatabase::LoadIndexImage(*app, saved.index.data(), saved.index.size(), threads).ok());
  EXPECT_TRUE(qvDatabase::LoadExtImage(*app, saved.ext.data(), saved.ext.size()).ok());
  return app;
}

// The real case of each file, in list order ("" for none).
std::vector<std::u16string> CaseByPosition(const qvFileBaseApp& app) {
  std::vector<std::u16string> texts;
  app.fileList.ForEach([&](const uint8_t* r) {
    const qvString* real = app.extCase.Get(r);
    texts.push_back(real ? std::u16string(real->begin(), real->end()) : u"");
  });
  return texts;
}

TEST(ExtCaseFile, EveryEntryFindsItsFileAcrossTheListsPages) {
  // 80,000 files, a third of them ".PDF": the list spans many pages, and
  // read on two threads it is joined from two lists, the first one's last
  // page only partly used.
  std::vector<VolumeSpec> volumes = dbtest::LargeVolume();
  ASSERT_GE(80000u, qvFileRecordRuns::kSplitFrom);
  auto scanned = dbtest::NewApp();
  dbtest::Scan(*scanned, volumes);
  const Saved saved = Save(*scanned);
  const std::vector<std::u16string> expected = CaseByPosition(*scanned);
  ASSERT_GT(scanned->extCase.Size(), 20000u);

  for (auto threads : {qvDatabase::LoadThreads::kOne, qvDatabase::LoadThreads::kTwo}) {
    auto app = LoadedIndex(volumes, saved, threads);
    if (threads == qvDatabase::LoadThreads::kTwo) {
      bool partPage = false;
      for (size_t p = 0; p + 1 < app->fileList.PageCount(); ++p)
        partPage |= app->fileList.Page(p)->Count() < RecordPage::kSlots;
      EXPECT_TRUE(partPage) << "the joined list has no part-used page before its last";
    }
    ASSERT_TRUE(qvExtCaseFile::LoadImage(*app, saved.extCase.data(), saved.extCase.size()).ok());
    EXPECT_EQ(app->extCase.Size(), scanned->extCase.Size());
    EXPECT_EQ(CaseByPosition(*app), expected);
  }
}

// A small index whose files are found by name, and case files written
// entry by entry.
class ExtCaseImage : public ::testing::Test {
 protected:
  void SetUp() override {
    volumes = {{0, "/", 1, 0, 0,
                {E::Folder(16, 5, u"d"), E::File(17, 16, u"a.JPG"), E::File(18, 16, u"b.jpg"), E::File(19, 5, u"c.Txt"),
                 E::File(20, 5, u"noext"), E::File(21, 16, u"e.TXT")}}};
    auto scanned = dbtest::NewApp();
    dbtest::Scan(*scanned, volumes);
    saved = Save(*scanned);
  }

  // The list position of the file whose stored name (without its
  // extension) is `name`.
  uint32_t PositionOf(const qvFileBaseApp& app, const char* name) {
    for (uint32_t i = 0; i < app.fileList.Count(); ++i) {
      const uint8_t* r = app.fileList.At(i);
      if (std::string(reinterpret_cast<const char*>(FileRecord::Name(r)), FileRecord::NameLength(r)) == name) return i;
    }
    ADD_FAILURE() << "no file " << name;
    return 0;
  }

  struct Entry {
    uint32_t position;
    std::u16string text;
  };
  static std::vector<uint8_t> Image(const std::vector<Entry>& entries, int64_t count = -1) {
    dbtest::Bytes b;
    b.U32(0x43455651);
    b.U32(count < 0 ? static_cast<uint32_t>(entries.size()) : static_cast<uint32_t>(count));
    for (const Entry& e : entries) {
      b.U32(e.position);
      b.U16(static_cast<uint16_t>(e.text.size()));
      for (char16_t u : e.text) b.U16(u);
    }
    return b.b;
  }

  // Loads `image` into a fresh copy of the index: the refusal's reason,
  // with every table emptied.
  Code Refusal(const std::vector<uint8_t>& image) {
    auto app = LoadedIndex(volumes, saved, qvDatabase::LoadThreads::kOne);
    qvStatus status = qvExtCaseFile::LoadImage(*app, image.data(), image.size());
    EXPECT_TRUE(dbtest::TablesEmpty(*app) || status.ok());
    EXPECT_EQ(app->extCase.Size(), 0u);
    return status.code();
  }

  std::vector<VolumeSpec> volumes;
  Saved saved;
};

TEST_F(ExtCaseImage, WellFormedEntriesAreTaken) {
  auto app = LoadedIndex(volumes, saved, qvDatabase::LoadThreads::kOne);
  const uint32_t a = PositionOf(*app, "a"), e = PositionOf(*app, "e");
  ASSERT_LT(a, e);
  // The saver's own file, and one written here that differs in its case.
  ASSERT_TRUE(qvExtCaseFile::LoadImage(*app, saved.extCase.data(), saved.extCase.size()).ok());
  EXPECT_EQ(app->extCase.Size(), 3u);
  std::vector<uint8_t> image = Image({{a, u"jPg"}, {e, u"Txt"}});
  ASSERT_TRUE(qvExtCaseFile::LoadImage(*app, image.data(), image.size()).ok());
  ASSERT_EQ(app->extCase.Size(), 2u);
  EXPECT_EQ(*app->extCase.Get(app->fileList.At(a)), u"jPg");
  EXPECT_EQ(*app->extCase.Get(app->fileList.At(e)), u"Txt");
  EXPECT_EQ(app->extCase.Get(app->fileList.At(PositionOf(*app, "b"))), nullptr);
  std::vector<uint8_t> none = Image({});
  EXPECT_TRUE(qvExtCaseFile::LoadImage(*app, none.data(), none.size()).ok());
  EXPECT_EQ(app->extCase.Size(), 0u);
}

TEST_F(ExtCaseImage, MisplacedOrShortEntriesAreRefused) {
  auto app = LoadedIndex(volumes, saved, qvDatabase::LoadThreads::kOne);
  const uint32_t a = PositionOf(*app, "a"), e = PositionOf(*app, "e");
  const uint32_t files = static_cast<uint32_t>(app->fileList.Count());
  ASSERT_LT(a, e);
  std::vector<uint8_t> good = Image({{a, u"JPG"}, {e, u"TXT"}});

  EXPECT_EQ(Refusal(Image({{e, u"TXT"}, {a, u"JPG"}})), Code::kBadExtCaseFile) << "descending";
  EXPECT_EQ(Refusal(Image({{a, u"JPG"}, {a, u"JPG"}})), Code::kBadExtCaseFile) << "twice";
  EXPECT_EQ(Refusal(Image({{a, u"JPG"}, {files, u"TXT"}})), Code::kBadExtCaseFile) << "past the last file";
  EXPECT_EQ(Refusal(Image({{a, u"JPG"}, {0xFFFFFFFFu, u"TXT"}})), Code::kBadExtCaseFile) << "far past it";
  EXPECT_EQ(Refusal(Image({{a, u"JPG"}, {e, u"TXT"}}, 3)), Code::kBadExtCaseFile) << "count above the entries";
  EXPECT_EQ(Refusal(Image({{a, u"JPG"}, {e, u"TXT"}}, 1)), Code::kBadExtCaseFile) << "bytes after the last";
  EXPECT_EQ(Refusal(Image({{a, u"JPG"}}, 0xFFFFFFFF)), Code::kBadExtCaseFile) << "a count no file could hold";
  for (size_t cut : {size_t{1}, size_t{2}, size_t{6}, size_t{7}}) {
    std::vector<uint8_t> shorter(good.begin(), good.end() - static_cast<ptrdiff_t>(cut));
    EXPECT_EQ(Refusal(shorter), Code::kBadExtCaseFile) << "cut by " << cut;
  }
  std::vector<uint8_t> badMagic = good;
  badMagic[0] ^= 1;
  EXPECT_EQ(Refusal(badMagic), Code::kBadExtCaseFile);
  EXPECT_EQ(Refusal(std::vector<uint8_t>(good.begin(), good.begin() + 7)), Code::kBadExtCaseFile);
  // A later entry's length that reaches past the end.
  std::vector<uint8_t> longLength = good;
  longLength[8 + 6 + 6 + 4] = 0xFF;
  EXPECT_EQ(Refusal(longLength), Code::kBadExtCaseFile);
}

TEST_F(ExtCaseImage, TextsThatAreNotTheFilesExtensionAreRefused) {
  auto app = LoadedIndex(volumes, saved, qvDatabase::LoadThreads::kOne);
  const uint32_t a = PositionOf(*app, "a"), c = PositionOf(*app, "c"), n = PositionOf(*app, "noext");
  EXPECT_EQ(Refusal(Image({{a, u"JPX"}})), Code::kBadExtCaseFile) << "another text";
  EXPECT_EQ(Refusal(Image({{a, u"JPGG"}})), Code::kBadExtCaseFile) << "longer";
  EXPECT_EQ(Refusal(Image({{a, u"JP"}})), Code::kBadExtCaseFile) << "shorter";
  EXPECT_EQ(Refusal(Image({{a, u""}})), Code::kBadExtCaseFile) << "empty";
  EXPECT_EQ(Refusal(Image({{n, u"JPG"}})), Code::kBadExtCaseFile) << "a file without an extension";
  // The last entry is checked as the first is.
  EXPECT_EQ(Refusal(Image({{a, u"JPG"}, {c, u"TXX"}})), Code::kBadExtCaseFile);
}

// The map against a plain one through random sets, erases and growth:
// an erase moves later entries of its probe run back, and every entry
// must still be found where the run now puts it.
TEST(ExtCaseMapTable, AgreesWithAPlainMapThroughSetsAndErases) {
  std::vector<uint8_t> records(4000);
  std::mt19937 random(7);
  ExtCaseMap map;
  std::map<const uint8_t*, std::u16string> plain;
  const std::u16string texts[] = {u"JPG", u"Pdf", u"TXT"};
  for (int step = 0; step < 60000; ++step) {
    const uint8_t* r = &records[random() % records.size()];
    if (random() % 3 == 0) {
      map.Erase(r);
      plain.erase(r);
    } else {
      const std::u16string& text = texts[random() % 3];
      map.Set(r, text.data(), text.size());
      plain[r] = text;
    }
    if (step % 5000 == 0 || step == 59999) {
      ASSERT_EQ(map.Size(), plain.size());
      for (const uint8_t& record : records) {
        const qvString* got = map.Get(&record);
        auto it = plain.find(&record);
        ASSERT_EQ(got != nullptr, it != plain.end()) << "step " << step;
        if (got) {
          EXPECT_EQ(std::u16string(got->begin(), got->end()), it->second);
        }
      }
      size_t visited = 0;
      map.ForEach([&](const uint8_t* record, const qvString& text) {
        ++visited;
        EXPECT_EQ(plain.at(record), std::u16string(text.begin(), text.end()));
      });
      EXPECT_EQ(visited, plain.size());
    }
  }
  map.Clear();
  EXPECT_EQ(map.Size(), 0u);
  EXPECT_EQ(map.Get(&records[0]), nullptr);
  map.Reserve(10);
  map.Erase(&records[0]);
  EXPECT_EQ(map.Get(&records[0]), nullptr);
}

}  // namespace
