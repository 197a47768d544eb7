// The NTFS volume source: roots that name images, what discovery reports
// for them, and that nothing is ever written to an image.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <fstream>

#include "ntfs_test_support.h"
#include "qvNtfsFileDetails.h"
#include "qvNtfsVolumeSource.h"
#include "qvUsnJournal.h"

using namespace ntfstest;

namespace {

void Write(const std::string& path, const std::string& text) {
  Shell("mkdir -p \"$(dirname '" + path + "')\"");
  std::ofstream(path) << text;
}

}  // namespace

TEST(NtfsRoots, FilesDevicesAndOffsetsAreRawRootsFoldersAreNot) {
  TempDir tmp;
  Write(tmp.path() + "/disk.img", "x");
  std::string path;
  int64_t offset = 0;
  EXPECT_TRUE(ParseNtfsRoot(tmp.path() + "/disk.img/", &path, &offset));
  EXPECT_EQ(path, tmp.path() + "/disk.img");
  EXPECT_EQ(offset, qvNtfsVolume::kFindPartition);
  EXPECT_TRUE(ParseNtfsRoot(tmp.path() + "/disk.img@0x100000", &path, &offset));
  EXPECT_EQ(offset, 0x100000);
  EXPECT_FALSE(ParseNtfsRoot(tmp.path() + "/disk.img@-5", &path, &offset));
  EXPECT_FALSE(ParseNtfsRoot(tmp.path() + "/disk.img@12x", &path, &offset));
  EXPECT_FALSE(ParseNtfsRoot(tmp.path(), &path, &offset));
  EXPECT_FALSE(ParseNtfsRoot(tmp.path() + "/missing.img", &path, &offset));
  std::vector<qvString> folderOnly = {qvNameCodec::DecodeToString(tmp.path())};
  EXPECT_EQ(qvMakeNtfsVolumeSource(folderOnly, nullptr), nullptr);
}

TEST(NtfsRoots, AFileThatIsNotNtfsIsReportedNotOpened) {
  TempDir tmp;
  Write(tmp.path() + "/notes.txt", std::string(4096, 'n'));
  auto source = qvMakeNtfsVolumeSource(
      {qvNameCodec::DecodeToString(tmp.path() + "/notes.txt"), qvNameCodec::DecodeToString(tmp.path())},
      [](std::vector<qvString> folders) { return qvMakeDefaultVolumeSource(folders); });
  ASSERT_NE(source, nullptr);
  std::vector<VolumeInfo> v = source->Discover();
  ASSERT_EQ(v.size(), 2u);  // the folder, walked, then the file
  EXPECT_TRUE(v[0].opened);
  EXPECT_FALSE(v[1].opened);
  EXPECT_NE(v[1].errorCode, 0);
  EXPECT_FALSE(source->Enumerate(1, [](const ScanEntry*, size_t) {}));
}

TEST(NtfsRoots, ReadingNeverWritesTheImage) {
  if (!SharedImages::Get().Ok()) GTEST_SKIP() << "the shared NTFS samples could not be decompressed";
  const std::string image = SharedImages::Get().Charlie();
  auto sum = [&] { return Shell("sha256sum '" + image + "' | cut -d' ' -f1"); };
  std::string before = sum();
  {
    auto source = qvMakeNtfsVolumeSource({qvNameCodec::DecodeToString(image)}, nullptr);
    ASSERT_EQ(source->Discover().size(), 1u);
    auto* ntfs = static_cast<qvNtfsVolumeSource*>(source.get());
    std::vector<uint64_t> refs;
    ASSERT_TRUE(source->Enumerate(0, [&](const ScanEntry* e, size_t n) {
      for (size_t i = 0; i < n; ++i) refs.push_back(e[i].fileRef);
    }));
    ASSERT_FALSE(refs.empty());
    for (uint64_t ref : refs) {
      NtfsFileDetails d;
      EXPECT_TRUE(ReadNtfsFileDetails(*ntfs->RawVolume(0), ref, &d));
    }
    // Opened read-only: the descriptor's access mode says so.
    int readOnly = 0;
    for (int fd = 3; fd < 1024; ++fd) {
      char link[4096];
      ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link - 1);
      if (n <= 0 || std::string(link, static_cast<size_t>(n)) != image) continue;
      readOnly += (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY;
    }
    EXPECT_EQ(readOnly, 1);
  }
  EXPECT_EQ(sum(), before);
}
