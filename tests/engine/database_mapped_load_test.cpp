// A saved index of a megabyte or more is read through a mapping of the
// file, not a copy: it comes back as saved, and a damaged or cut file is
// still refused with empty tables (the loader's look-ahead over the file
// records stops where their lengths run out). The file is summed against
// its seal as the loader passes through it, and the pages both have
// passed are given back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <string>

#include "database_fixture.h"
#include "qvDatabaseFormat.h"
#include "qvDatabaseIo.h"

using namespace dbtest;
using Code = qvStatus::Code;

namespace {

qvStatus LoadInto(qvFileBaseApp& app, const std::vector<VolumeSpec>& volumes) {
  Discover(app, volumes);
  return qvDatabase::LoadSavedIndex(app, nullptr);
}

// How many of the pages of [data, data + size) are mapped in this process
// now, from /proc/self/pagemap (bit 63 of a page's entry); -1 when the
// system does not say.
long MappedPages(const uint8_t* data, size_t size) {
  int fd = ::open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  long mapped = 0;
  for (uintptr_t at = reinterpret_cast<uintptr_t>(data) / page; at * page < reinterpret_cast<uintptr_t>(data) + size;
       ++at) {
    uint64_t entry = 0;
    if (::pread(fd, &entry, 8, static_cast<off_t>(at * 8)) != 8) {
      ::close(fd);
      return -1;
    }
    mapped += (entry >> 63) & 1;
  }
  ::close(fd);
  return mapped;
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
  std::vector<VolumeSpec> now = volumes_;
  now[0].nextUsn = 222;  // the journal moved on since the save
  ASSERT_TRUE(LoadInto(*app, now).ok());
  EXPECT_EQ(Take(*app), saved_);
  EXPECT_EQ(app->volumes.nextUsn[0], 111);  // the monitor resumes where the saved index ends
}

// The seal's verdict comes when the loader is done (or has given up), and
// it wins: a file that is not the sealed one is refused as such wherever
// the loader stopped, and leaves no table and no journal position.
TEST_F(MappedLoad, UnsealedFileIsRefusedWhereverTheLoaderStops) {
  ErrorCapture errors;
  const uint32_t firstFile = LoadU32(bytes_.data() + qvDbFormat::kFileOffsetAt);
  struct Change {
    const char* what;
    size_t at;
    uint8_t bits;
  };
  const Change changes[] = {
      {"the header's folder count", qvDbFormat::kFolderCountAt, 0x01},
      {"the first file's suffix length", firstFile + 10, 0x0F},
      {"the last file's last byte", bytes_.size() - 1, 0x01},
  };
  for (const Change& c : changes) {
    std::vector<uint8_t> changed = bytes_;
    changed[c.at] ^= c.bits;
    WriteFile(dir_.Path("ntfsqs.db"), changed);
    auto app = NewApp(dir_.Path());
    std::vector<VolumeSpec> now = volumes_;
    now[0].nextUsn = 222;
    EXPECT_EQ(LoadInto(*app, now).code(), Code::kMismatch) << c.what;
    EXPECT_TRUE(TablesEmpty(*app)) << c.what;
    EXPECT_EQ(app->volumes.nextUsn[0], 222) << c.what;
  }
}

TEST_F(MappedLoad, PassedPagesAreGivenBack) {
  qvHeap heap;
  qvDbIo::HeapBuffer buffer(heap);
  int error = 0;
  ASSERT_EQ(qvDbIo::ReadWholeFile(dir_.Path("ntfsqs.db"), qvDbIo::SizeRule{}, buffer, error, qvDbIo::Pages::kAsRead),
            qvDbIo::ReadResult::kOk);
  ASSERT_TRUE(buffer.Mapped());
  const size_t size = buffer.Size();
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const long pages = static_cast<long>((size + page - 1) / page);
  volatile uint8_t sink = 0;
  for (size_t at = 0; at < size; at += page) sink = sink + buffer.Data()[at];
  long before = MappedPages(buffer.Data(), size);
  if (before < 0) GTEST_SKIP() << "/proc/self/pagemap cannot be read here";
  ASSERT_EQ(before, pages);

  // Pages wholly before the point go; the one it falls in stays.
  const size_t half = size / 2 + 100;
  buffer.GiveBackBefore(half);
  const size_t kept = half / page * page;
  EXPECT_EQ(MappedPages(buffer.Data(), kept), 0);
  EXPECT_EQ(MappedPages(buffer.Data() + kept, size - kept), pages - static_cast<long>(kept / page));
  // What was given back reads as the file still.
  EXPECT_EQ(std::memcmp(buffer.Data(), bytes_.data(), size), 0);
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
