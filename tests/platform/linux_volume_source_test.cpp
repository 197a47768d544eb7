// The volume source: user-named folders and discovery through a made-up
// mount table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "qvLinuxVolumeSource.h"
#include "platform_test_util.h"

using qvtest::Listing;
using qvtest::TempTree;

namespace {

qvString U(const std::string& bytes) { return qvNameCodec::DecodeToString(bytes); }

}  // namespace

TEST(LinuxVolumeSource, UserFoldersAreVolumesInTheGivenOrder) {
  TempTree one, two;
  ASSERT_TRUE(one.Dir("sub"));
  ASSERT_TRUE(one.File("sub/f.txt"));
  ASSERT_TRUE(one.File("\xff.bin"));

  qvLinuxVolumeSource source({U(two.Path() + "//"), U(one.Path()), U(two.Path()),
                              U(one.Path() + "/missing")});
  std::vector<VolumeInfo> v = source.Discover();
  ASSERT_EQ(v.size(), 3u);  // the repeat of `two` is dropped
  EXPECT_EQ(v[0].root, U(two.Path() + "/"));
  EXPECT_EQ(v[1].root, U(one.Path() + "/"));
  EXPECT_TRUE(v[0].opened);
  EXPECT_TRUE(v[1].opened);
  EXPECT_FALSE(v[2].opened);
  EXPECT_EQ(v[2].errorCode, ENOENT);
  EXPECT_EQ(source.DroppedVolumes(), 0u);
  for (const VolumeInfo& i : v) {
    EXPECT_NE(i.journalId, 0u);
    EXPECT_EQ(i.firstUsn, 0);
    EXPECT_EQ(i.nextUsn, 0);
  }
  // Same file system, different roots: different identities.
  EXPECT_NE(v[0].journalId, v[1].journalId);

  Listing listing;
  EXPECT_TRUE(source.Enumerate(1, [&](const ScanEntry* e, size_t n) { listing.Add(e, n); }));
  EXPECT_EQ(listing.Paths(), one.Expected());
  EXPECT_EQ(source.LastWalkStats().entries, one.Expected().size());
  EXPECT_EQ(source.LastWalkStats().folders, 1u);

  auto none = [](const ScanEntry*, size_t) { ADD_FAILURE() << "no entries expected"; };
  EXPECT_FALSE(source.Enumerate(2, none));
  EXPECT_FALSE(source.Enumerate(3, none));

  // A new source (a new run) gives the same identities.
  qvLinuxVolumeSource again({U(one.Path() + "/")});
  EXPECT_EQ(again.Discover().at(0).journalId, v[1].journalId);
}

TEST(LinuxVolumeSource, RelativeFoldersAndTheSlotLimit) {
  TempTree t;
  std::vector<qvString> folders;
  for (int i = 0; i < 27; ++i) {
    ASSERT_TRUE(t.Dir("f" + std::to_string(i)));
    folders.push_back(U(t.Path() + "/f" + std::to_string(i)));
  }
  qvLinuxVolumeSource source(folders);
  auto v = source.Discover();
  EXPECT_EQ(v.size(), 26u);
  EXPECT_EQ(source.DroppedVolumes(), 1u);

  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(t.Path().c_str()), 0);
  qvLinuxVolumeSource relative({u"f3"});
  auto r = relative.Discover();
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].root, U(t.Path() + "/f3/"));
  EXPECT_TRUE(r[0].opened);
}

// Discovery from a made-up mount table that names a temporary folder as a
// local disk, and a by-uuid folder that may or may not know its device.
class DiscoverFromTable : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(files_.Dir("sys"));
    ASSERT_TRUE(files_.Dir("by-uuid"));
    ASSERT_TRUE(files_.Dir("disk"));
    options_.mountInfoPath = files_.Path() + "/mountinfo";
    options_.sysfsRoot = files_.Path() + "/sys";
    options_.diskByUuid = files_.Path() + "/by-uuid";
  }

  void Table(const std::string& dev) {
    std::ofstream(options_.mountInfoPath)
        << "20 1 0:20 / /proc rw - proc proc rw\n"
        << "21 1 " << dev << " / " << files_.Path() << "/disk rw shared:1 - ext4 /dev/sdq1 rw\n";
  }

  // A device node in the by-uuid folder, as udev makes the links' targets.
  bool Uuid(const std::string& uuid, unsigned major, unsigned minor) {
    std::string path = options_.diskByUuid + "/" + uuid;
    unlink(path.c_str());
    return mknod(path.c_str(), S_IFBLK | 0600, makedev(major, minor)) == 0;
  }

  VolumeInfo DiscoverOne() {
    qvLinuxVolumeSource source(options_);
    auto v = source.Discover();
    EXPECT_EQ(v.size(), 1u);
    return v.empty() ? VolumeInfo() : v[0];
  }

  TempTree files_;
  qvLinuxVolumeOptions options_;
};

TEST_F(DiscoverFromTable, FindsTheDiskAndKeepsItsIdentityWhenRenumbered) {
  Table("8:33");
  VolumeInfo byNumber = DiscoverOne();
  EXPECT_EQ(byNumber.root, U(files_.Path() + "/disk/"));
  EXPECT_TRUE(byNumber.opened);
  EXPECT_NE(byNumber.journalId, 0u);

  if (!Uuid("1234-ABCD", 8, 33)) GTEST_SKIP() << "cannot make device nodes: " << strerror(errno);
  VolumeInfo withUuid = DiscoverOne();
  EXPECT_NE(withUuid.journalId, byNumber.journalId);

  // The same file system under another device number after a reboot.
  Table("8:49");
  ASSERT_TRUE(Uuid("1234-ABCD", 8, 49));
  EXPECT_EQ(DiscoverOne().journalId, withUuid.journalId);
}

// No local disk in the table (a chroot, an overlay root): the root folder
// is indexed as one volume rather than nothing at all.
TEST_F(DiscoverFromTable, WithoutALocalDiskTheRootFolderIsTheVolume) {
  std::ofstream(options_.mountInfoPath) << "20 1 0:20 / /proc rw - proc proc rw\n"
                                        << "30 1 0:31 / / rw - overlay overlay rw,lowerdir=/x\n";
  VolumeInfo v = DiscoverOne();
  EXPECT_EQ(v.root, U("/"));
  EXPECT_TRUE(v.opened);
}
