// Volume discovery from mount-table text and a made-up sysfs tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "qvMountTable.h"

namespace fs = std::filesystem;

namespace {

// A sysfs tree with a fixed disk sda (partition sda1), a removable disk
// sdb (partition sdb1) and a removable disk sdc known only by name.
class FakeSysfs {
 public:
  FakeSysfs() {
    char tmpl[] = "/tmp/qv_sysfs_XXXXXX";
    root_ = mkdtemp(tmpl);
    Disk("8:0", "sda", false);
    Partition("8:1", "sda", "sda1");
    Disk("8:16", "sdb", true);
    Partition("8:17", "sdb", "sdb1");
    Disk("", "sdc", true);
    Partition("", "sdc", "sdc2");
  }
  ~FakeSysfs() { fs::remove_all(root_); }
  const std::string& Root() const { return root_; }

 private:
  void Disk(const std::string& devNumber, const std::string& name, bool removable) {
    fs::path dir = fs::path(root_) / "devices/pci0/block" / name;
    fs::create_directories(dir);
    std::ofstream(dir / "removable") << (removable ? "1\n" : "0\n");
    Link(devNumber, name, "devices/pci0/block/" + name);
  }
  void Partition(const std::string& devNumber, const std::string& disk, const std::string& name) {
    fs::path dir = fs::path(root_) / "devices/pci0/block" / disk / name;
    fs::create_directories(dir);
    std::ofstream(dir / "partition") << "1\n";
    Link(devNumber, name, "devices/pci0/block/" + disk + "/" + name);
  }
  // The device-number and class links, relative as in the real sysfs.
  void Link(const std::string& devNumber, const std::string& name, const std::string& target) {
    fs::create_directories(fs::path(root_) / "dev/block");
    fs::create_directories(fs::path(root_) / "class/block");
    if (!devNumber.empty())
      fs::create_directory_symlink("../../" + target, fs::path(root_) / "dev/block" / devNumber);
    fs::create_directory_symlink("../../" + target, fs::path(root_) / "class/block" / name);
  }
  std::string root_;
};

std::string Line(int id, const std::string& dev, const std::string& mountPoint,
                 const std::string& type, const std::string& source,
                 const std::string& fsRoot = "/", const std::string& optional = "shared:1") {
  return std::to_string(id) + " 1 " + dev + " " + fsRoot + " " + mountPoint + " rw,relatime " +
         optional + (optional.empty() ? "" : " ") + "- " + type + " " + source + " rw\n";
}

std::vector<std::string> MountPoints(const qvMountSelection& sel) {
  std::vector<std::string> out;
  for (const auto& v : sel.volumes) out.push_back(v.mountPoint);
  return out;
}

}  // namespace

TEST(MountTableParse, ReadsFieldsAndUnescapesPaths) {
  auto entries = qvMountTable::Parse(
      "36 35 98:0 /mnt1 /mnt/my\\040disk\\011tab\\134x rw,noatime master:1 shared:7 - ext3 "
      "/dev/my\\040dev rw,errors=continue\n"
      "37 35 8:3 / /data rw - xfs /dev/sda3 rw\n");  // no optional fields
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].major, 98u);
  EXPECT_EQ(entries[0].minor, 0u);
  EXPECT_EQ(entries[0].fsRoot, "/mnt1");
  EXPECT_EQ(entries[0].mountPoint, "/mnt/my disk\ttab\\x");
  EXPECT_EQ(entries[0].fsType, "ext3");
  EXPECT_EQ(entries[0].source, "/dev/my dev");
  EXPECT_EQ(entries[1].mountPoint, "/data");
  EXPECT_EQ(entries[1].fsType, "xfs");
}

TEST(MountTableParse, SkipsMalformedLinesAndKeepsTheRest) {
  auto entries = qvMountTable::Parse(
      "garbage\n"
      "40 1 8:1 / /nosep rw shared:1 ext4 /dev/sda1 rw\n"  // no "-" separator
      "41 1 8x1 / /baddev rw - ext4 /dev/sda1 rw\n"
      "42 1 8:1 / /cut rw -\n"
      "\n"
      "43 1 8:1 / /good rw - ext4 /dev/sda1 rw");  // last line without newline
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].mountPoint, "/good");
  // A backslash not followed by three octal digits stays as it is.
  auto odd = qvMountTable::Parse("1 1 8:1 / /a\\9b\\04 rw - ext4 /dev/x rw\n");
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_EQ(odd[0].mountPoint, "/a\\9b\\04");
}

TEST(MountTableSelect, KeepsLocalBlockFileSystemsOnly) {
  FakeSysfs sysfs;
  std::string text = Line(1, "0:20", "/proc", "proc", "proc") +
                     Line(2, "8:1", "/", "ext4", "/dev/sda1") +
                     Line(3, "0:6", "/dev", "devtmpfs", "devtmpfs") +
                     Line(4, "0:22", "/dev/shm", "tmpfs", "tmpfs") +
                     Line(5, "0:30", "/sys/fs/cgroup/cpu", "cgroup", "cgroup") +
                     Line(6, "0:31", "/sys/fs/cgroup/unified", "cgroup2", "cgroup2") +
                     Line(7, "0:40", "/var/lib/docker/x", "overlay", "overlay") +
                     Line(8, "7:0", "/snap/core/1", "squashfs", "/dev/loop0") +
                     Line(9, "0:50", "/net/home", "nfs4", "server:/home") +
                     Line(10, "0:51", "/smb", "cifs", "//server/share") +
                     Line(11, "0:52", "/remote", "fuse.sshfs", "me@host:/") +
                     Line(12, "0:53", "/auto", "autofs", "systemd-1") +
                     Line(13, "0:54", "/win", "fuseblk", "/dev/sda2") +
                     Line(14, "0:55", "/pool", "btrfs", "/dev/sda4") +
                     Line(15, "8:5", "/srv", "xfs", "/dev/sda5");
  auto sel = qvMountTable::Select(text, sysfs.Root());
  EXPECT_EQ(MountPoints(sel), (std::vector<std::string>{"/", "/pool", "/srv", "/win"}));
  EXPECT_EQ(sel.dropped, 0u);
}

TEST(MountTableSelect, EachDeviceOnceByItsBestMount) {
  FakeSysfs sysfs;
  // The device 8:2 appears as a bind of a folder first, then as a whole
  // file system at a longer path, then at a shorter one.
  std::string text = Line(1, "8:2", "/a", "ext4", "/dev/sda2", "/sub") +
                     Line(2, "8:2", "/media/disk", "ext4", "/dev/sda2") +
                     Line(3, "8:2", "/d", "ext4", "/dev/sda2") +
                     Line(4, "8:2", "/b", "ext4", "/dev/sda2") +
                     Line(5, "8:6", "/x/only-bind", "ext4", "/dev/sda6", "/folder");
  auto sel = qvMountTable::Select(text, sysfs.Root());
  ASSERT_EQ(sel.volumes.size(), 2u);
  EXPECT_EQ(sel.volumes[0].mountPoint, "/d");  // first of the shortest whole mounts
  EXPECT_EQ(sel.volumes[1].mountPoint, "/x/only-bind");

  qvMountEntry found;
  ASSERT_TRUE(qvMountTable::FindDevice(text, 8, 2, &found));
  EXPECT_EQ(found.mountPoint, "/d");
  EXPECT_FALSE(qvMountTable::FindDevice(text, 8, 9, &found));
}

TEST(MountTableSelect, RemovableDisksAndTheirPartitionsAreLeftOut) {
  FakeSysfs sysfs;
  std::string text = Line(1, "8:0", "/whole", "ext4", "/dev/sda") +
                     Line(2, "8:1", "/part", "ext4", "/dev/sda1") +
                     Line(3, "8:16", "/usb", "vfat", "/dev/sdb") +
                     Line(4, "8:17", "/usbpart", "exfat", "/dev/sdb1") +
                     Line(5, "0:60", "/usbbtrfs", "btrfs", "/dev/sdc2") +  // known by name only
                     Line(6, "9:9", "/unknown", "ext4", "/dev/md9");     // not in sysfs: fixed
  auto sel = qvMountTable::Select(text, sysfs.Root());
  EXPECT_EQ(MountPoints(sel), (std::vector<std::string>{"/part", "/unknown", "/whole"}));

  EXPECT_TRUE(qvMountTable::IsRemovable(sysfs.Root(), 8, 17, "/dev/sdb1"));
  EXPECT_FALSE(qvMountTable::IsRemovable(sysfs.Root(), 8, 1, "/dev/sda1"));
}

TEST(MountTableSelect, AtMostTwentySixVolumesInMountPointOrder) {
  FakeSysfs sysfs;
  std::string text;
  // 27 devices listed in reverse order of their mount points.
  for (int i = 26; i >= 0; --i) {
    char mp[16];
    snprintf(mp, sizeof mp, "/v%02d", i);
    text += Line(100 + i, "253:" + std::to_string(i), mp, "ext4", "/dev/dm-" + std::to_string(i));
  }
  auto sel = qvMountTable::Select(text, sysfs.Root());
  ASSERT_EQ(sel.volumes.size(), qvMountTable::kMaxVolumes);
  EXPECT_EQ(sel.dropped, 1u);
  EXPECT_EQ(sel.volumes.front().mountPoint, "/v00");
  EXPECT_EQ(sel.volumes.back().mountPoint, "/v25");
}
