// A saved index of a megabyte or more is read through a mapping of the
// file, not a copy: it comes back as saved, and a damaged or cut file is
// still refused with empty tables (the loader's look-ahead over the file
// records stops where their lengths run out).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "database_fixture.h"
#include "qvDatabaseFormat.h"

using namespace dbtest;
using E = qvStreamVolumeSource;
using Code = qvStatus::Code;

namespace {

// 2,000 folders of 40 files each: well over a megabyte saved.
std::vector<VolumeSpec> LargeVolume() {
  std::vector<Entry> entries;
  uint64_t ref = 16;
  for (int d = 0; d < 2000; ++d) {
    uint64_t folder = ref++;
    std::string name = "folder " + std::to_string(d * 7919 % 2000);
    uint64_t parent = d % 10 == 0 ? 5 : folder - 41;  // the root, or the folder made before
    entries.push_back(E::Folder(folder, parent, std::u16string(name.begin(), name.end())));
    for (int f = 0; f < 40; ++f) {
      std::string file = "report " + std::to_string((d * 40 + f) * 104729ull % 80000) + (f % 3 ? ".txt" : ".PDF");
      entries.push_back(E::File(ref++, folder, std::u16string(file.begin(), file.end())));
    }
  }
  return {{0, "/", 0x100, 0, 111, entries}};
}

qvStatus LoadInto(qvFileBaseApp& app, const std::vector<VolumeSpec>& volumes) {
  Discover(app, volumes);
  return qvDatabase::LoadSavedIndex(app, nullptr);
}

class MappedLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    auto app = NewApp(dir_.Path());
    Scan(*app, volumes_);
    saved_ = Take(*app);
    ASSERT_GT(saved_.files.size(), 70000u);
    ASSERT_TRUE(qvDatabase::SaveIndex(*app).ok());
    bytes_ = ReadFile(dir_.Path("ntfsqs.db"));
    ASSERT_GE(bytes_.size(), size_t{1} << 20) << "too small to be mapped";
  }

  TempDir dir_;
  std::vector<VolumeSpec> volumes_ = LargeVolume();
  Picture saved_;
  std::vector<uint8_t> bytes_;
};

TEST_F(MappedLoad, ComesBackAsSaved) {
  auto app = NewApp(dir_.Path());
  ASSERT_TRUE(LoadInto(*app, volumes_).ok());
  EXPECT_EQ(Take(*app), saved_);
}

TEST_F(MappedLoad, DamagedOrCutFilesAreRefused) {
  ErrorCapture errors;
  // A changed byte that the seal does not cover.
  std::vector<uint8_t> changed = bytes_;
  changed[changed.size() / 2] ^= 0x40;
  WriteFile(dir_.Path("ntfsqs.db"), changed);
  {
    auto app = NewApp(dir_.Path());
    EXPECT_EQ(LoadInto(*app, volumes_).code(), Code::kMismatch);
    EXPECT_TRUE(TablesEmpty(*app));
  }
  // Sealed again, and with the header's size set to match, so that the
  // records themselves are read: the last file record cut short; the
  // first one's suffix length raised to the largest.
  std::vector<uint8_t> cut(bytes_.begin(), bytes_.end() - 5);
  StoreU32(cut.data() + qvDbFormat::kTotalSizeAt, static_cast<uint32_t>(cut.size()));
  WriteFile(dir_.Path("ntfsqs.db"), cut);
  Reseal(dir_.Path());
  {
    auto app = NewApp(dir_.Path());
    EXPECT_EQ(LoadInto(*app, volumes_).code(), Code::kBadFileRecord);
    EXPECT_TRUE(TablesEmpty(*app));
  }
  std::vector<uint8_t> overlong = bytes_;
  const uint32_t firstFile = LoadU32(overlong.data() + qvDbFormat::kFileOffsetAt);
  overlong[firstFile + 9] |= 0xFC;  // bits 10 to 19 of the word: the suffix length
  overlong[firstFile + 10] |= 0x0F;
  WriteFile(dir_.Path("ntfsqs.db"), overlong);
  Reseal(dir_.Path());
  {
    auto app = NewApp(dir_.Path());
    qvStatus status = LoadInto(*app, volumes_);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(TablesEmpty(*app));
  }
  // Whole again: it loads.
  WriteFile(dir_.Path("ntfsqs.db"), bytes_);
  Reseal(dir_.Path());
  auto app = NewApp(dir_.Path());
  ASSERT_TRUE(LoadInto(*app, volumes_).ok());
  EXPECT_EQ(Take(*app), saved_);
}

}  // namespace
