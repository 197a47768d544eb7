// The file table of real Windows volumes, read raw, against what Sleuth
// Kit lists from the same images.
#include <gtest/gtest.h>

#include "ntfs_test_support.h"
#include "qvNtfsFileDetails.h"
#include "qvNtfsPartitions.h"

using namespace ntfstest;

namespace {

class SharedImagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SharedImages::Get().Ok()) GTEST_SKIP() << "the shared NTFS samples could not be decompressed";
  }
};

void ExpectSameAsFls(const std::string& image, uint64_t expectedOffset) {
  qvNtfsVolume volume;
  std::string why;
  ASSERT_TRUE(volume.Open(image, qvNtfsVolume::kFindPartition, &why)) << why;
  EXPECT_EQ(volume.Offset(), expectedOffset);
  MftReadStats stats;
  std::set<std::string> ours = Paths(ReadEntries(volume, &stats));
  EXPECT_EQ(stats.torn, 0u);
  EXPECT_EQ(stats.damaged, 0u);
  EXPECT_FALSE(ours.empty());
  if (!HaveTool("fls")) GTEST_SKIP() << "fls (sleuthkit) is not installed";
  EXPECT_EQ(ours, FlsPaths(image, volume.Offset()));
}

}  // namespace

TEST_F(SharedImagesTest, Windows10DiskFoundThroughItsPartitionTableAndListedAsSleuthKitDoes) {
  SharedImages& s = SharedImages::Get();
  ExpectSameAsFls(s.Windows10(), 1048576);
  qvNtfsVolume volume;
  std::string why;
  ASSERT_TRUE(volume.Open(s.Windows10(), qvNtfsVolume::kFindPartition, &why)) << why;
  EXPECT_EQ(volume.Boot().bytesPerRecord, 1024u);
  EXPECT_EQ(volume.RecordCount(), 256u);
  std::set<std::string> paths = Paths(ReadEntries(volume));
  EXPECT_TRUE(paths.count("test_dir/file_1.txt"));
  EXPECT_TRUE(paths.count("test_dir_2/"));
  EXPECT_FALSE(paths.count("$MFT"));
}

TEST_F(SharedImagesTest, OtherWindowsImagesMatchSleuthKit) {
  SharedImages& s = SharedImages::Get();
  ExpectSameAsFls(s.LastAccess(), 65536);
  ExpectSameAsFls(s.SiVsFn(), 65536);
  ExpectSameAsFls(s.Charlie(), 0);
}

TEST_F(SharedImagesTest, MftExtractGivesTheSameEntriesAsTheVolume) {
  SharedImages& s = SharedImages::Get();
  qvNtfsVolume image, extract;
  std::string why;
  ASSERT_TRUE(image.Open(s.Windows10(), qvNtfsVolume::kFindPartition, &why)) << why;
  ASSERT_TRUE(extract.Open(s.MftExtract(), qvNtfsVolume::kFindPartition, &why)) << why;
  EXPECT_TRUE(extract.IsMftExtract());
  EXPECT_EQ(extract.RecordCount(), 256u);
  MftReadStats stats;
  std::vector<Entry> fromExtract = ReadEntries(extract, &stats);
  EXPECT_EQ(stats.torn, 0u);
  EXPECT_EQ(Paths(fromExtract), Paths(ReadEntries(image)));
}

TEST_F(SharedImagesTest, ExplicitOffsetAndWrongOffset) {
  SharedImages& s = SharedImages::Get();
  qvNtfsVolume at, wrong;
  std::string why;
  EXPECT_TRUE(at.Open(s.LastAccess(), 65536, &why)) << why;
  EXPECT_FALSE(wrong.Open(s.LastAccess(), 512, &why));
  EXPECT_NE(why.find("no NTFS boot sector"), std::string::npos) << why;
}

TEST_F(SharedImagesTest, DetailsFromTheRecordMatchSleuthKitSizes) {
  if (!HaveTool("istat")) GTEST_SKIP() << "istat (sleuthkit) is not installed";
  SharedImages& s = SharedImages::Get();
  qvNtfsVolume volume;
  std::string why;
  ASSERT_TRUE(volume.Open(s.Windows10(), qvNtfsVolume::kFindPartition, &why)) << why;
  std::map<std::string, uint64_t> refs;
  Paths(ReadEntries(volume), &refs);
  int checked = 0;
  for (const auto& [path, ref] : refs) {
    if (path.back() == '/') continue;
    NtfsFileDetails d;
    ASSERT_TRUE(ReadNtfsFileDetails(volume, ref, &d)) << path;
    // istat prints the unnamed $DATA's size as "size: N" on its $DATA line.
    std::string out = Shell("istat -o 2048 '" + s.Windows10() + "' " + std::to_string(ref) +
                            " | sed -n 's/^Type: \\$DATA (128-[0-9]*)   Name: N\\/A   [A-Za-z-]*   size: \\([0-9]*\\).*/\\1/p'");
    if (out.empty()) continue;
    EXPECT_EQ(std::to_string(d.size) + "\n", out) << path;
    ++checked;
  }
  EXPECT_GT(checked, 10);
}

TEST(NtfsPartitions, NoTableNoFileSystem) {
  std::vector<uint8_t> disk(64 * 1024, 0);
  auto read = [&](uint64_t at, size_t size, uint8_t* out) {
    if (at > disk.size() || size > disk.size() - at) return false;
    std::copy(disk.begin() + at, disk.begin() + at + size, out);
    return true;
  };
  EXPECT_TRUE(FindNtfsPartitions(read).empty());
  // An MBR whose extended partition chain points back at itself ends.
  disk[510] = 0x55;
  disk[511] = 0xAA;
  disk[446 + 4] = 0x05;
  disk[446 + 8] = 1;
  disk[512 + 510] = 0x55;
  disk[512 + 511] = 0xAA;
  disk[512 + 446 + 16 + 4] = 0x05;
  disk[512 + 446 + 16 + 8] = 0;
  EXPECT_TRUE(FindNtfsPartitions(read).empty());
}
