// A large saved index has its file records cut in two and read on two
// threads. The index must come out as one thread makes it (the same
// records in the same order, the same folder refs), and a file damaged in
// either run must be refused as one thread refuses it, with empty tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "database_fixture.h"
#include "qvDatabaseFormat.h"
#include "qvDatabaseLoadThreads.h"
#include "qvFileRecordRuns.h"
#include "qvPackedName.h"

using namespace dbtest;
using Code = qvStatus::Code;
using qvDatabase::LoadThreads;

namespace {

std::u16string Digits(uint64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

std::u16string ExtText(uint64_t n) {
  std::u16string text;
  for (int i = 0; i < 3; ++i, n /= 9) text += static_cast<char16_t>(u'b' + n % 9);
  return text;
}

// 15,000 folders of 27 files: some names non-ASCII, some of 256 bytes or
// more (the long length), extensions from 700 texts (ids of one and two
// bytes) and none.
std::vector<VolumeSpec> SplitVolume() {
  using E = qvStreamVolumeSource;
  std::vector<Entry> entries;
  uint64_t ref = 16;
  for (int d = 0; d < 15000; ++d) {
    uint64_t folder = ref++;
    std::u16string name = u"dir " + std::u16string(1, static_cast<char16_t>(u'a' + d % 26)) +
                          std::u16string(d % 97 == 0 ? u"文件夹" : u"") + Digits(d * 7919 % 15000);
    uint64_t parent = d % 8 == 0 ? 5 : folder - 28;  // the root, or the folder made before
    entries.push_back(E::Folder(folder, parent, name));
    for (int f = 0; f < 27; ++f) {
      const uint64_t n = (uint64_t(d) * 27 + f) * 104729ull % 405000;
      std::u16string file = (f % 5 ? u"report " : u"Photo_") + Digits(n);
      if (n % 101 == 0) file += u" 报告";
      if (n % 997 == 0) file += std::u16string(300, u'x');
      if (f % 9 != 4) file += u"." + ExtText(n % 700);
      entries.push_back(E::File(ref++, folder, file));
    }
  }
  return {{0, "/", 0x200, 0, 333, entries}};
}

qvStatus LoadImage(qvFileBaseApp& app, const std::vector<uint8_t>& bytes, LoadThreads threads) {
  return qvDatabase::LoadIndexImage(app, bytes.data(), bytes.size(), threads);
}

// Every ref the index shows: each folder's parent, each file's parent,
// each map entry, in list and map order.
std::vector<RecordRef> Refs(const qvFileBaseApp& app) {
  std::vector<RecordRef> refs;
  app.folderList.ForEach([&](const uint8_t* r) { refs.push_back(DirRecord::Parent(r)); });
  app.fileList.ForEach([&](const uint8_t* r) { refs.push_back(FileRecord::Parent(r)); });
  for (size_t p = 0; p < app.dirMap.PageCount(); ++p) {
    const DirMapPage* page = app.dirMap.Page(p);
    for (uint32_t e = page->first; e < page->end; ++e) refs.push_back(page->entries[e].record);
  }
  return refs;
}

class SplitLoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = new Shared;
    auto app = NewApp(shared_->dir.Path());
    Scan(*app, shared_->volumes);
    shared_->saved = Take(*app);
    ASSERT_TRUE(qvDatabase::SaveIndex(*app).ok());
    shared_->bytes = ReadFile(shared_->dir.Path("ntfsqs.db"));
    shared_->ext = ReadFile(shared_->dir.Path("ext.db"));
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }

  void SetUp() override {
    ASSERT_FALSE(shared_->bytes.empty());
    ASSERT_GE(shared_->saved.files.size(), size_t{4} * qvFileRecordRuns::kSplitFrom) << "too small to be cut";
  }

  // An index to load into, its volumes discovered as saved.
  std::unique_ptr<qvFileBaseApp> Fresh() {
    auto app = NewApp(shared_->dir.Path());
    Discover(*app, shared_->volumes);
    return app;
  }

  // The cut the two-thread load makes in `bytes`.
  static bool CutOf(const std::vector<uint8_t>& bytes, qvFileRecordRuns::FileRun& first,
                    qvFileRecordRuns::FileRun& second) {
    return qvFileRecordRuns::Split(bytes.data(), LoadU32(bytes.data() + qvDbFormat::kFileOffsetAt), bytes.size(),
                                   LoadU32(bytes.data() + qvDbFormat::kFileCountAt), 0.5, first, second);
  }

  struct Shared {
    TempDir dir;
    std::vector<VolumeSpec> volumes = SplitVolume();
    Picture saved;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> ext;
  };
  static Shared* shared_;
};

SplitLoad::Shared* SplitLoad::shared_ = nullptr;

TEST_F(SplitLoad, TwoThreadsLoadWhatOneLoads) {
  const std::vector<uint8_t>& bytes = shared_->bytes;
  qvFileRecordRuns::FileRun first, second;
  ASSERT_TRUE(CutOf(bytes, first, second));
  EXPECT_EQ(first.to, second.from);
  EXPECT_EQ(second.to, bytes.size());
  EXPECT_EQ(first.count + second.count, shared_->saved.files.size());
  EXPECT_GT(first.count, shared_->saved.files.size() / 3);
  EXPECT_GT(second.count, shared_->saved.files.size() / 3);

  auto one = Fresh();
  ASSERT_TRUE(LoadImage(*one, bytes, LoadThreads::kOne).ok());
  ASSERT_TRUE(qvDatabase::LoadExtImage(*one, shared_->ext.data(), shared_->ext.size()).ok());
  // The walk carries the name of the record before the cut, which the
  // second run's first prefix comes from.
  const uint8_t* before = one->fileList.At(first.count - 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(FileRecord::Name(before)), FileRecord::NameLength(before)),
            std::string(reinterpret_cast<const char*>(second.prevName), second.prevLength));

  // From memory, and from the sealed files through the mapping.
  auto two = Fresh();
  ASSERT_TRUE(LoadImage(*two, bytes, LoadThreads::kTwo).ok());
  ASSERT_TRUE(qvDatabase::LoadExtImage(*two, shared_->ext.data(), shared_->ext.size()).ok());
  auto sealed = Fresh();
  ASSERT_TRUE(qvDatabase::LoadSavedIndex(*sealed, nullptr).ok());

  EXPECT_EQ(Take(*one), shared_->saved);
  EXPECT_EQ(Take(*two), shared_->saved);
  EXPECT_EQ(Take(*sealed), shared_->saved);
  EXPECT_EQ(Refs(*two), Refs(*one));
  EXPECT_EQ(Refs(*sealed), Refs(*one));
  EXPECT_EQ(CheckLoaded(*sealed, true), "");
  EXPECT_EQ(sealed->volumes.nextUsn[0], 333);
}

// A record of either run broken, the file sealed again so that the
// records themselves are judged: both loads give the same reason, from
// memory and from the file, and leave nothing behind.
TEST_F(SplitLoad, DamagedRunIsRefusedAsOneThreadRefusesIt) {
  ErrorCapture errors;
  qvFileRecordRuns::FileRun first, second;
  ASSERT_TRUE(CutOf(shared_->bytes, first, second));
  const size_t firstRecord = first.from;
  const size_t secondRecord = second.from;
  struct Damage {
    const char* what;
    size_t at;  // a record's start
    size_t field;
    uint32_t value;
    Code code;
  };
  const Damage damages[] = {
      {"the second run's first parent", secondRecord, 4, 0x0000FFF0u, Code::kBadFileRecord},
      {"the second run's first flags", secondRecord, 0, FileRecord::kLongLength, Code::kBadFileRecord},
      {"the first run's first parent", firstRecord, 4, 0x0000FFF0u, Code::kBadFileRecord},
  };
  for (const Damage& d : damages) {
    std::vector<uint8_t> changed = shared_->bytes;
    uint32_t word = LoadU32(changed.data() + d.at + d.field);
    StoreU32(changed.data() + d.at + d.field, d.field == 0 ? word ^ d.value : d.value);
    for (LoadThreads threads : {LoadThreads::kOne, LoadThreads::kTwo}) {
      auto app = Fresh();
      EXPECT_EQ(LoadImage(*app, changed, threads).code(), d.code) << d.what;
      EXPECT_TRUE(TablesEmpty(*app)) << d.what;
    }
    WriteFile(shared_->dir.Path("ntfsqs.db"), changed);
    Reseal(shared_->dir.Path());
    auto app = Fresh();
    app->volumes.nextUsn[0] = 444;
    EXPECT_EQ(qvDatabase::LoadSavedIndex(*app, nullptr).code(), d.code) << d.what;
    EXPECT_TRUE(TablesEmpty(*app)) << d.what;
    EXPECT_EQ(app->volumes.nextUsn[0], 444) << d.what;
  }

  // A name byte in the second run turned into a lone wide marker.
  std::vector<uint8_t> badName = shared_->bytes;
  const uint32_t word = qvDbFormat::Load24(badName.data() + secondRecord + 8);
  ASSERT_GT(qvDbFormat::WordSuffix(word), 0u);
  badName[secondRecord + qvDbFormat::kRecordFixedSize] = QV_WIDE_MARKER;
  for (LoadThreads threads : {LoadThreads::kOne, LoadThreads::kTwo}) {
    auto app = Fresh();
    EXPECT_EQ(LoadImage(*app, badName, threads).code(), Code::kBadName);
    EXPECT_TRUE(TablesEmpty(*app));
  }

  WriteFile(shared_->dir.Path("ntfsqs.db"), shared_->bytes);
  Reseal(shared_->dir.Path());
}

// A byte flipped anywhere the second thread reads makes a file that is not
// the sealed one: refused as such, whatever the runs found, with no table
// and no journal position taken.
TEST_F(SplitLoad, UnsealedChangeInTheSecondRunIsRefused) {
  ErrorCapture errors;
  qvFileRecordRuns::FileRun first, second;
  ASSERT_TRUE(CutOf(shared_->bytes, first, second));
  for (size_t at : {second.from + 20, second.from + (second.to - second.from) / 2, second.to - 1}) {
    std::vector<uint8_t> changed = shared_->bytes;
    changed[at] ^= 0x10;
    WriteFile(shared_->dir.Path("ntfsqs.db"), changed);
    auto app = Fresh();
    app->volumes.nextUsn[0] = 444;
    EXPECT_EQ(qvDatabase::LoadSavedIndex(*app, nullptr).code(), Code::kMismatch) << at;
    EXPECT_TRUE(TablesEmpty(*app)) << at;
    EXPECT_EQ(app->volumes.nextUsn[0], 444) << at;
  }
  WriteFile(shared_->dir.Path("ntfsqs.db"), shared_->bytes);
}

// The walk to the cut trusts no length: one that runs past the section or
// breaks the prefix rule before the cut leaves the file to one thread,
// which refuses it.
TEST_F(SplitLoad, WalkStopsWhereLengthsFail) {
  const std::vector<uint8_t>& bytes = shared_->bytes;
  const size_t from = LoadU32(bytes.data() + qvDbFormat::kFileOffsetAt);
  const uint32_t count = LoadU32(bytes.data() + qvDbFormat::kFileCountAt);
  qvFileRecordRuns::FileRun first, second;
  // The first record claims a prefix of a name it has none before.
  std::vector<uint8_t> prefixed = bytes;
  prefixed[from + 8] |= 0x01;
  EXPECT_FALSE(qvFileRecordRuns::Split(prefixed.data(), from, prefixed.size(), count, 0.5, first, second));
  // The first record's suffix runs past the section's end.
  std::vector<uint8_t> overlong = bytes;
  overlong[from + 9] |= 0xFC;  // bits 10 to 19 of the word: the suffix length
  overlong[from + 10] |= 0x0F;
  EXPECT_FALSE(qvFileRecordRuns::Split(overlong.data(), from, from + 600, count, 0.5, first, second));
  // Too few records to reach the point.
  EXPECT_FALSE(qvFileRecordRuns::Split(bytes.data(), from, bytes.size(), 1000, 0.5, first, second));
  auto app = Fresh();
  EXPECT_EQ(LoadImage(*app, prefixed, LoadThreads::kTwo).code(), Code::kBadFileRecord);
  EXPECT_TRUE(TablesEmpty(*app));
}

}  // namespace
