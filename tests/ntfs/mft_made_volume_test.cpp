// Volumes made with mkntfs and filled through an ntfs-3g mount: the
// entries read raw are those the mount shows and those Sleuth Kit lists,
// and sizes and times read from the records are those stat gives through
// the mount. Skipped, saying why, where mkntfs, ntfs-3g or FUSE is missing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ntfs_test_support.h"
#include "qvNtfsFileDetails.h"
#include "qvNtfsVolumeState.h"

using namespace ntfstest;

namespace {

constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

uint64_t FileTime(const struct timespec& t) {
  return static_cast<uint64_t>(t.tv_sec) * 10000000ULL + static_cast<uint64_t>(t.tv_nsec) / 100 + kFileTimeUnixEpoch;
}

// The tree: CJK, emoji and 255-unit names, 300 hard links to one file (its
// names no longer fit its record: an attribute list and extension records),
// 40 nested folders, and a table grown in pieces between large files on an
// almost full volume (a fragmented $MFT).
const char* kFill = R"SH(
set -e
cd "$1"
mkdir -p 中文目录/子目录 emoji links deep many
echo 报告 > 中文目录/报告.txt
echo x > 中文目录/子目录/数据.csv
echo smile > "emoji/😀 smile.txt"
echo rocket > emoji/🚀
printf '%0255d' 0 | tr 0 a > name255
: > "$(cat name255)"
rm name255
: > "$(printf '文%.0s' $(seq 1 85))"
echo target > links/target.bin
for i in $(seq 1 300); do ln links/target.bin links/link_$i.bin; done
ln links/target.bin 中文目录/链接.bin
d=deep; for i in $(seq 1 40); do d=$d/level$i; done; mkdir -p "$d"; echo deep > "$d/bottom.txt"
for i in $(seq 1 14); do
  mkdir f$i; for j in $(seq 1 60); do : > f$i/s$j; done
  head -c 1048576 /dev/urandom > big$i.dat
done
for j in $(seq 1 2500); do echo x > many/n$j; done
head -c 5000 /dev/urandom > resident_or_not.bin
echo -n 12 > tiny.txt
)SH";

class MadeVolume : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveTool("mkntfs") || !HaveTool("ntfs-3g")) {
      skip_ = "mkntfs or ntfs-3g is not installed";
      return;
    }
    dir_ = new TempDir();
    image_ = dir_->path() + "/volume.img";
    mount_ = dir_->path() + "/mnt";
    int rc = 0;
    Shell("truncate -s 24M '" + image_ + "' && mkntfs -F -Q -q -L made '" + image_ + "' >/dev/null 2>&1 && mkdir '" +
              mount_ + "'",
          &rc);
    if (rc != 0) {
      skip_ = "mkntfs could not make a volume";
      return;
    }
    Shell("ntfs-3g '" + image_ + "' '" + mount_ + "' 2>&1", &rc);
    if (rc != 0) {
      skip_ = "ntfs-3g could not mount the volume (FUSE missing or not permitted)";
      return;
    }
    std::string script = dir_->path() + "/fill.sh";
    FILE* f = fopen(script.c_str(), "w");
    fputs(kFill, f);
    fclose(f);
    std::string out = Shell("bash '" + script + "' '" + mount_ + "' 2>&1", &rc);
    Shell("umount '" + mount_ + "'");
    filled_ = rc == 0;
    if (!filled_) fillError_ = out;
  }
  static void TearDownTestSuite() {
    if (dir_) Shell("umount '" + mount_ + "' 2>/dev/null");
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    ASSERT_TRUE(filled_) << fillError_;
  }
  // Mounts read-only for the comparisons; unmounted again by Unmount.
  static bool MountReadOnly() {
    int rc = 0;
    Shell("ntfs-3g -o ro '" + image_ + "' '" + mount_ + "' 2>&1", &rc);
    return rc == 0;
  }
  static void Unmount() { Shell("umount '" + mount_ + "'"); }

  static inline TempDir* dir_ = nullptr;
  static inline std::string image_, mount_, skip_, fillError_;
  static inline bool filled_ = false;
};

}  // namespace

TEST_F(MadeVolume, EntriesAreWhatTheMountShowsAndSleuthKitLists) {
  qvNtfsVolume volume;
  std::string why;
  ASSERT_TRUE(volume.Open(image_, qvNtfsVolume::kFindPartition, &why)) << why;
  EXPECT_GT(volume.MftRuns().size(), 1u) << "the $MFT was meant to be fragmented";
  MftReadStats stats;
  std::vector<Entry> entries = ReadEntries(volume, &stats);
  EXPECT_EQ(stats.torn, 0u);
  EXPECT_EQ(stats.damaged, 0u);
  std::set<std::string> ours = Paths(entries);
  EXPECT_TRUE(ours.count("中文目录/报告.txt"));
  EXPECT_TRUE(ours.count("emoji/😀 smile.txt"));
  EXPECT_TRUE(ours.count(std::string(255, 'a')));
  EXPECT_TRUE(ours.count("links/link_300.bin"));
  EXPECT_TRUE(ours.count("中文目录/链接.bin"));
  size_t longest = 0;
  for (const Entry& e : entries) longest = std::max(longest, e.name.size());
  EXPECT_EQ(longest, 255u);

  ASSERT_TRUE(MountReadOnly());
  std::set<std::string> mounted = MountPaths(mount_);
  Unmount();
  EXPECT_EQ(ours, mounted);
  if (HaveTool("fls")) {
    EXPECT_EQ(ours, FlsPaths(image_, 0));
  }
}

TEST_F(MadeVolume, HardLinksBeyondTheRecordAreAllEntriesOfOneFile) {
  qvNtfsVolume volume;
  std::string why;
  ASSERT_TRUE(volume.Open(image_, qvNtfsVolume::kFindPartition, &why)) << why;
  std::map<std::string, uint64_t> refs;
  Paths(ReadEntries(volume), &refs);
  uint64_t target = refs["links/target.bin"];
  int links = 0;
  for (const auto& [path, ref] : refs) links += ref == target;
  EXPECT_EQ(links, 302);
  std::vector<uint8_t> buffer;
  NtfsRecord record;
  ASSERT_TRUE(volume.ReadRecord(target, &buffer, &record));
  EXPECT_TRUE(record.hasAttributeList);
  NtfsFileDetails d;
  ASSERT_TRUE(ReadNtfsFileDetails(volume, target, &d));
  EXPECT_EQ(d.size, 7u);  // "target\n"
}

TEST_F(MadeVolume, SizesAndTimesAreWhatStatGivesThroughTheMount) {
  qvNtfsVolume volume;
  std::string why;
  ASSERT_TRUE(volume.Open(image_, qvNtfsVolume::kFindPartition, &why)) << why;
  std::map<std::string, uint64_t> refs;
  Paths(ReadEntries(volume), &refs);
  ASSERT_TRUE(MountReadOnly());
  int compared = 0;
  for (const auto& [path, ref] : refs) {
    struct stat st;
    ASSERT_EQ(lstat((mount_ + "/" + path).c_str(), &st), 0) << path;
    NtfsFileDetails d;
    ASSERT_TRUE(ReadNtfsFileDetails(volume, ref, &d)) << path;
    EXPECT_EQ(d.isDirectory, S_ISDIR(st.st_mode)) << path;
    if (!d.isDirectory) {
      EXPECT_EQ(d.size, static_cast<uint64_t>(st.st_size)) << path;
    }
    EXPECT_EQ(d.modificationTime, FileTime(st.st_mtim)) << path;
    EXPECT_EQ(d.accessTime, FileTime(st.st_atim)) << path;
    EXPECT_EQ(d.changeTime, FileTime(st.st_ctim)) << path;
    ++compared;
  }
  Unmount();
  EXPECT_GT(compared, 3000);
}

TEST_F(MadeVolume, AVolumeWrittenByLinuxIsNotTrustedToItsJournal) {
  qvNtfsVolume volume;
  std::string why;
  ASSERT_TRUE(volume.Open(image_, qvNtfsVolume::kFindPartition, &why)) << why;
  NtfsVolumeState state = ReadNtfsVolumeState(volume);
  EXPECT_FALSE(state.dirty);        // cleanly unmounted
  EXPECT_TRUE(state.logFileEmpty);  // ntfs-3g leaves the log empty
  if (SharedImages::Get().Ok()) {
    qvNtfsVolume windows;
    ASSERT_TRUE(windows.Open(SharedImages::Get().Windows10(), qvNtfsVolume::kFindPartition, &why)) << why;
    EXPECT_FALSE(ReadNtfsVolumeState(windows).logFileEmpty);
  }
}
