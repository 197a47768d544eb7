// The machine's own NTFS partitions: which are read raw (not mounted, or
// mounted read-only) and which are left to the walk (mounted read-write),
// first over a made-up /sys and mount table, then over a real loop device
// holding a volume made with mkntfs, mounted through ntfs-3g in each way,
// and read by a user who may not open the device. The loop-device cases
// need root, losetup, mkntfs, ntfs-3g and FUSE, and skip saying which is
// missing.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "IQvSearch.h"
#include "ntfs_test_support.h"
#include "qvKearchImpl.h"
#include "qvErrorBox.h"
#include "qvNtfsMachinePartitions.h"
#include "qvNtfsVolumeSource.h"

using namespace ntfstest;

namespace {

void Write(const std::string& path, const std::string& text) {
  Shell("mkdir -p \"$(dirname '" + path + "')\"");
  std::ofstream(path) << text;
}

// What the loop volume holds, as Paths() names entries.
const std::set<std::string> kTree = {"docs/", "docs/readme.txt", "中文.txt", "photos/", "photos/a.jpg"};

std::set<std::string> EnumeratedPaths(qvVolumeSource& source, size_t index) {
  std::vector<Entry> entries;
  source.Enumerate(index, [&](const ScanEntry* e, size_t n) {
    for (size_t i = 0; i < n; ++i)
      entries.push_back({e[i].fileRef, e[i].parentRef, e[i].attributes, std::u16string(e[i].name, e[i].nameLength)});
  });
  return Paths(entries);
}

FolderSourceMaker Walker() {
  return [](std::vector<qvString> folders) { return qvMakeDefaultVolumeSource(folders); };
}

}  // namespace

TEST(MachineNtfsPartitions, UnmountedAndReadOnlyAreReadRawReadWriteMountsAreWalked) {
  TempDir tmp;
  qvNtfsDiscoveryOptions o;
  o.sysfsRoot = tmp.path() + "/sys";
  o.devRoot = tmp.path() + "/dev";
  o.mountInfoPath = tmp.path() + "/mountinfo";
  o.udevDataRoot = tmp.path() + "/udev";
  struct Dev {
    const char* name;
    const char* number;
    const char* udevType;  // null: udev has no record of it
  };
  for (Dev d : {Dev{"sda1", "8:1", "ext4"}, Dev{"sdb1", "8:17", "ntfs"}, Dev{"sdb2", "8:18", "ntfs"},
                Dev{"sdc1", "8:33", "ntfs"}, Dev{"sdd1", "8:49", nullptr}, Dev{"sde1", "8:65", nullptr},
                Dev{"loop0", "7:0", "ntfs"}, Dev{"loop1", "7:1", "ntfs"}, Dev{"ram0", "1:0", "ntfs"}}) {
    Write(o.sysfsRoot + "/class/block/" + d.name + "/dev", std::string(d.number) + "\n");
    if (d.udevType) Write(o.udevDataRoot + "/b" + d.number, std::string("E:ID_FS_TYPE=") + d.udevType + "\n");
  }
  // Only a loop device with a backing file is set up.
  Write(o.sysfsRoot + "/class/block/loop1/loop/backing_file", "/images/win.img\n");
  // ntfs-3g shows an anonymous device number: its source names the device.
  Write(o.mountInfoPath,
        "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "30 21 0:52 / /mnt/win rw,relatime shared:2 - fuseblk " + o.devRoot + "/sdb2 rw,user_id=0\n"
        "31 21 8:33 / /mnt/read\\040only ro,relatime shared:3 - ntfs3 /dev/sdc1 ro\n"
        "32 21 8:65 / /mnt/e ro,relatime shared:4 - ntfs3 /dev/sde1 ro\n");
  std::vector<qvRawNtfsPartition> found = FindRawNtfsPartitions(o);
  // sdb2 is mounted read-write; sdd1 has no known type and cannot be read;
  // sde1 is known by its mount's type where udev says nothing.
  std::vector<qvRawNtfsPartition> want = {{o.devRoot + "/loop1", ""},
                                          {o.devRoot + "/sdb1", ""},
                                          {o.devRoot + "/sdc1", "/mnt/read only"},
                                          {o.devRoot + "/sde1", "/mnt/e"}};
  EXPECT_EQ(found, want);
}

namespace {

// A volume made with mkntfs on a loop device. Each test leaves it
// unmounted.
class LoopDevice : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0) {
      skip_ = "setting up a loop device needs root";
      return;
    }
    for (const char* tool : {"losetup", "mkntfs", "ntfs-3g", "setpriv"})
      if (!HaveTool(tool)) {
        skip_ = std::string(tool) + " is not installed";
        return;
      }
    dir_ = new TempDir();
    chmod(dir_->path().c_str(), 0755);  // the other user reads its udev record and mount point
    image_ = dir_->path() + "/loop.img";
    mount_ = dir_->path() + "/mnt";
    int rc = 0;
    Shell("truncate -s 16M '" + image_ + "' && mkntfs -F -Q -q '" + image_ + "' >/dev/null 2>&1 && mkdir '" + mount_ +
              "'",
          &rc);
    if (rc != 0) {
      skip_ = "mkntfs could not make a volume";
      return;
    }
    device_ = Shell("losetup --find --show '" + image_ + "' 2>/dev/null", &rc);
    while (!device_.empty() && device_.back() == '\n') device_.pop_back();
    if (rc != 0 || device_.empty()) {
      skip_ = "no loop device could be set up (none in this container, or not permitted)";
      device_.clear();
      return;
    }
    if (!Mount("rw")) {
      skip_ = "ntfs-3g could not mount the loop device (FUSE missing or not permitted)";
      return;
    }
    Shell("cd '" + mount_ + "' && mkdir docs photos && echo hi > docs/readme.txt && : > 中文.txt && : > photos/a.jpg", &rc);
    Unmount();
    filled_ = rc == 0;
  }
  static void TearDownTestSuite() {
    if (dir_) Unmount();
    if (!device_.empty()) Shell("losetup -d '" + device_ + "'");
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    ASSERT_TRUE(filled_);
  }
  void TearDown() override { Unmount(); }

  static bool Mount(const std::string& how) {
    int rc = 0;
    Shell("ntfs-3g -o " + how + ",allow_other '" + device_ + "' '" + mount_ + "' 2>&1", &rc);
    return rc == 0;
  }
  static void Unmount() { Shell("umount '" + mount_ + "' 2>/dev/null"); }

  // Discovery over this machine's /sys, /dev and mount table. This
  // machine may run no udev: the type then comes from the boot sector.
  static qvNtfsDiscoveryOptions Machine() {
    qvNtfsDiscoveryOptions o;
    o.udevDataRoot = dir_->path() + "/no-udev";
    return o;
  }
  static bool Lists(const std::vector<qvRawNtfsPartition>& found, const qvRawNtfsPartition& p) {
    return std::find(found.begin(), found.end(), p) != found.end();
  }
  static bool ListsDevice(const std::vector<qvRawNtfsPartition>& found) {
    return std::any_of(found.begin(), found.end(), [](const qvRawNtfsPartition& p) { return p.device == device_; });
  }

  // Runs discovery as user nobody and answers what it printed (see
  // DiscoveryAsAnotherUser below).
  static std::string DiscoverAsNobody(int* status) {
    Write(dir_->path() + "/udev/b" + Shell("lsblk -dno MAJ:MIN '" + device_ + "' | tr -d ' \\n'"),
          "E:ID_FS_TYPE=ntfs\n");
    Shell("chmod -R a+rX '" + dir_->path() + "/udev'");
    std::string self = Shell("readlink /proc/" + std::to_string(getpid()) + "/exe");
    while (!self.empty() && self.back() == '\n') self.pop_back();
    return Shell("setpriv --reuid=65534 --regid=65534 --clear-groups env QV_NTFS_AS_OTHER_USER='" + dir_->path() +
                     "' '" + self + "' --gtest_filter=LoopDeviceChild.DiscoveryAsAnotherUser 2>&1",
                 status);
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::string image_, mount_, device_, skip_;
  static inline bool filled_ = false;
};

}  // namespace

TEST_F(LoopDevice, UnmountedIsReadRawFromTheDevice) {
  std::vector<qvRawNtfsPartition> found = FindRawNtfsPartitions(Machine());
  ASSERT_TRUE(Lists(found, {device_, ""})) << device_;
  auto source = qvMakeMachineNtfsVolumeSource(nullptr, Walker(), Machine());
  auto* ntfs = dynamic_cast<qvNtfsVolumeSource*>(source.get());
  ASSERT_NE(ntfs, nullptr);
  std::vector<VolumeInfo> volumes = source->Discover();
  size_t at = 0;
  while (at < volumes.size() && volumes[at].root != qvNameCodec::DecodeToString(device_ + "/")) ++at;
  ASSERT_LT(at, volumes.size());
  EXPECT_TRUE(volumes[at].opened);
  ASSERT_NE(ntfs->RawVolume(at), nullptr);
  EXPECT_EQ(EnumeratedPaths(*source, at), kTree);
}

TEST_F(LoopDevice, ReadOnlyMountIsReadRawUnderItsMountPointAndNotWalkedAsWell) {
  ASSERT_TRUE(Mount("ro"));
  ASSERT_TRUE(Lists(FindRawNtfsPartitions(Machine()), {device_, mount_}));
  // The machine's walked file systems beside it, as the engine has them.
  auto source = qvMakeMachineNtfsVolumeSource(qvMakeDefaultVolumeSource({}), Walker(), Machine());
  auto* ntfs = dynamic_cast<qvNtfsVolumeSource*>(source.get());
  ASSERT_NE(ntfs, nullptr);
  std::vector<VolumeInfo> volumes = source->Discover();
  std::vector<size_t> atMount;
  for (size_t i = 0; i < volumes.size(); ++i)
    if (volumes[i].root == qvNameCodec::DecodeToString(mount_ + "/")) atMount.push_back(i);
  ASSERT_EQ(atMount.size(), 1u);
  ASSERT_NE(ntfs->RawVolume(atMount[0]), nullptr);
  EXPECT_EQ(EnumeratedPaths(*source, atMount[0]), kTree);
  // Still mounted as it was at discovery: nothing to hand over.
  EXPECT_TRUE(ntfs->NewlyMounted(Shell("cat /proc/self/mountinfo")).empty());
}

TEST_F(LoopDevice, ReadWriteMountIsLeftToTheWalkAndAMountAfterDiscoveryIsHandedOver) {
  auto source = qvMakeMachineNtfsVolumeSource(nullptr, Walker(), Machine());
  auto* ntfs = dynamic_cast<qvNtfsVolumeSource*>(source.get());
  ASSERT_NE(ntfs, nullptr);
  std::vector<VolumeInfo> volumes = source->Discover();
  ASSERT_TRUE(Mount("rw"));
  EXPECT_FALSE(ListsDevice(FindRawNtfsPartitions(Machine())));
  size_t at = 0;
  while (at < volumes.size() && volumes[at].root != qvNameCodec::DecodeToString(device_ + "/")) ++at;
  ASSERT_LT(at, volumes.size());
  std::vector<qvNtfsVolumeSource::Mounted> mounted = qvNtfsTakeMountedVolumes(source.get(), Shell("cat /proc/self/mountinfo"));
  ASSERT_EQ(mounted.size(), 1u);
  EXPECT_EQ(mounted[0].index, at);
  EXPECT_EQ(mounted[0].mountPoint, mount_);
  // Handed over: no longer read raw, and not handed over twice.
  EXPECT_EQ(ntfs->RawVolume(at), nullptr);
  EXPECT_FALSE(qvNtfsIsRawVolume(source.get(), at));
  EXPECT_TRUE(qvNtfsTakeMountedVolumes(source.get(), Shell("cat /proc/self/mountinfo")).empty());
}

TEST_F(LoopDevice, AUserWhoCannotOpenTheDeviceIsToldOnceAndWalksTheMount) {
  ASSERT_TRUE(Mount("ro"));
  int status = 0;
  std::string out = DiscoverAsNobody(&status);
  ASSERT_EQ(status, 0) << out;
  if (out.find("[  SKIPPED ]") != std::string::npos) GTEST_SKIP() << "as user nobody: " << out;
  EXPECT_NE(out.find("errors=1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("error="), std::string::npos) << out;
  EXPECT_NE(out.find(device_), std::string::npos) << out;
  EXPECT_NE(out.find("volume " + mount_ + "/ opened=1 raw=0 paths=docs/|docs/readme.txt|photos/|photos/a.jpg|中文.txt|\n"),
            std::string::npos)
      << out;

  Unmount();
  out = DiscoverAsNobody(&status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("errors=1\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("volume "), std::string::npos) << "a device it cannot open and no mount: left out\n" << out;
}

namespace {

// Every row of a query as a full path.
std::set<std::string> Rows(qvKearchImpl* engine, const std::u16string& query) {
  engine->Search(query.c_str(), u"", 1);
  std::set<std::string> out;
  int32_t n = engine->GetFolderResultCount() + engine->GetFileResultCount();
  std::vector<qvChar> path(QV_MAX_PATH), name(QV_MAX_PATH);
  for (int32_t r = 0; r < n; ++r) {
    engine->GetItemText(r, path.data(), name.data(), nullptr);
    out.insert(qvNameCodec::EncodeToString(path.data()) + qvNameCodec::EncodeToString(name.data()));
  }
  return out;
}

// Polls until the query lists `want` (bounded).
bool ListsSoon(qvKearchImpl* engine, const std::u16string& query, const std::set<std::string>& want) {
  for (int i = 0; i < 1000; ++i) {
    if (Rows(engine, query) == want) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

TEST_F(LoopDevice, AMountWhileRunningHandsTheVolumeToTheWalkAndTheLiveMonitor) {
  auto* engine = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  config->AddRoot(qvNameCodec::DecodeToString(device_).c_str());
  config->SetOption("monitor", "inotify");  // fanotify cannot follow a FUSE mount: it would be polled
  config->SetOption("no_save", "1");
  config->SetOption("no_load", "1");
  engine->Initialize(nullptr);
  engine->WaitUntilInitialised();
  EXPECT_EQ(Rows(engine, u"readme"), std::set<std::string>{device_ + "/docs/readme.txt"});

  ASSERT_TRUE(Mount("rw"));
  EXPECT_TRUE(ListsSoon(engine, u"readme", {mount_ + "/docs/readme.txt"})) << "the mount was not walked";
  // Followed live through the mount from then on.
  Shell("echo new > '" + mount_ + "/docs/after_mount.txt'");
  EXPECT_TRUE(ListsSoon(engine, u"after_mount", {mount_ + "/docs/after_mount.txt"})) << "a change through the mount was missed";
  engine->Release();
}

namespace {

std::vector<std::string> g_errors;
void TakeError(void*, const char* text) { g_errors.push_back(text); }

}  // namespace

// Run by the test above as another user (QV_NTFS_AS_OTHER_USER names the
// fixture's folder); prints what discovery found, two discoveries in a row.
TEST(LoopDeviceChild, DiscoveryAsAnotherUser) {
  const char* dir = getenv("QV_NTFS_AS_OTHER_USER");
  if (!dir) GTEST_SKIP() << "run by LoopDevice.AUserWhoCannotOpenTheDeviceIsToldOnceAndWalksTheMount as another user";
  qvNtfsDiscoveryOptions o;
  o.udevDataRoot = std::string(dir) + "/udev";
  SetErrorBoxReporter(&TakeError, nullptr);
  auto source = qvMakeMachineNtfsVolumeSource(nullptr, Walker(), o);
  auto* ntfs = dynamic_cast<qvNtfsVolumeSource*>(source.get());
  ASSERT_NE(ntfs, nullptr) << "the device was not found";
  source->Discover();
  std::vector<VolumeInfo> volumes = source->Discover();
  FlushErrorBox();
  SetErrorBoxReporter(nullptr, nullptr);
  printf("errors=%zu\n", g_errors.size());
  for (const std::string& e : g_errors) printf("error=%s\n", e.c_str());
  for (size_t i = 0; i < volumes.size(); ++i) {
    std::string paths;
    for (const std::string& p : EnumeratedPaths(*source, i)) paths += p + "|";
    printf("volume %s opened=%d raw=%d paths=%s\n", qvNameCodec::EncodeToString(volumes[i].root).c_str(),
           volumes[i].opened ? 1 : 0, ntfs->RawVolume(i) ? 1 : 0, paths.c_str());
  }
}
