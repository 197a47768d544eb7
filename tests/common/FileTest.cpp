#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "TestSupport.h"
#include "qvFile.h"

using qvtest::TempDir;

namespace {

int OpenDescriptorCount() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) >= 0; }

}  // namespace

TEST(FileOpen, OpenExistingFailsForMissingFile) {
  TempDir dir;
  qvFile f;
  EXPECT_EQ(f.Open(dir.W("missing").c_str(), qvFile::modeRead), 0);
  EXPECT_EQ(f.m_hFile, qvFile::hFileNull);
  EXPECT_EQ(f.m_bCloseOnDelete, 0);
  EXPECT_EQ(f.Open(u"", qvFile::modeRead), 0);
}

TEST(FileOpen, OpenAlwaysKeepsContentCreateAlwaysTruncates) {
  TempDir dir;
  const std::string path = dir.Path("data.bin");
  qvtest::WriteFile(path, "hello");
  const uint32_t openAlways = qvFile::modeCreate | qvFile::modeNoTruncate | qvFile::modeWrite;
  {
    qvFile f(dir.W("data.bin").c_str(), openAlways);
    ASSERT_NE(f.m_hFile, qvFile::hFileNull);
    EXPECT_EQ(f.m_bCloseOnDelete, 1);
    EXPECT_EQ(f.GetLength(), 5u);
    EXPECT_EQ(f.Seek(0, qvFile::end), 5u);
    EXPECT_EQ(f.Write("!", 1), 1);
  }
  EXPECT_EQ(qvtest::ReadFile(path), "hello!");
  {
    qvFile f(dir.W("new.bin").c_str(), openAlways);  // missing: created
    EXPECT_NE(f.m_hFile, qvFile::hFileNull);
    EXPECT_TRUE(qvtest::Exists(dir.Path("new.bin")));
  }
  {
    qvFile f(dir.W("data.bin").c_str(), qvFile::modeCreate | qvFile::modeWrite);
    ASSERT_NE(f.m_hFile, qvFile::hFileNull);
    EXPECT_EQ(f.GetLength(), 0u);
  }
}

TEST(FileIo, ReadWriteSeekAndLength) {
  TempDir dir;
  qvFile f(dir.W("io").c_str(), qvFile::modeCreate | qvFile::modeReadWrite);
  ASSERT_NE(f.m_hFile, qvFile::hFileNull);
  EXPECT_EQ(f.Write("0123456789", 10), 1);
  EXPECT_EQ(f.GetPosition(), 10u);
  EXPECT_EQ(f.Seek(-4, qvFile::current), 6u);
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, sizeof buf), 4u);
  EXPECT_STREQ(buf, "6789");
  EXPECT_EQ(f.Read(buf, 0), 0u);
  EXPECT_EQ(f.Seek(2, qvFile::begin), 2u);
  EXPECT_EQ(f.Seek(0, 7), qvFile::kBadPosition);

  EXPECT_EQ(f.SetLength(3), 1);
  EXPECT_EQ(f.GetLength(), 3u);
  EXPECT_EQ(f.GetPosition(), 3u);
  EXPECT_EQ(f.SetLength(100), 1);
  EXPECT_EQ(f.GetLength(), 100u);
  EXPECT_EQ(f.Flush(), 1);

  void* start = &f;
  void* max = &f;
  EXPECT_EQ(f.GetBufferPtr(0, 10, &start, &max), 0u);
  EXPECT_EQ(start, nullptr);
  EXPECT_EQ(max, nullptr);
}

TEST(FileIo, WriteToReadOnlyFileIsReported) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("ro"), "x");
  qvFile f(dir.W("ro").c_str(), qvFile::modeRead);
  ASSERT_NE(f.m_hFile, qvFile::hFileNull);
  EXPECT_EQ(f.Write("y", 1), 0);
}

TEST(FileLifetime, AbortThenDestructionClosesNothing) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("a"), "a");
  int reused;
  {
    qvFile f(dir.W("a").c_str(), qvFile::modeRead);
    int old = f.m_hFile;
    f.Abort();
    EXPECT_EQ(f.m_hFile, qvFile::hFileNull);
    EXPECT_EQ(f.m_bCloseOnDelete, 1);
    EXPECT_FALSE(IsOpen(old));
    // The lowest free number comes back: a stale destructor would close it.
    reused = open(dir.Path("a").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(reused, old);
  }
  EXPECT_TRUE(IsOpen(reused));
  close(reused);
}

TEST(FileLifetime, AttachedDescriptorIsNotClosedOnDelete) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("a"), "a");
  int fd = open(dir.Path("a").c_str(), O_RDONLY | O_CLOEXEC);
  { qvFile f(fd); }
  EXPECT_TRUE(IsOpen(fd));
  {
    qvFile f(fd);
    f.Close();
    EXPECT_EQ(f.m_hFile, qvFile::hFileNull);
  }
  EXPECT_FALSE(IsOpen(fd));
}

TEST(FileLifetime, ReopeningClosesTheOwnedDescriptor) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("a"), "a");
  qvFile f;
  ASSERT_EQ(f.Open(dir.W("a").c_str(), qvFile::modeRead), 1);
  int before = OpenDescriptorCount();
  ASSERT_EQ(f.Open(dir.W("a").c_str(), qvFile::modeRead), 1);
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(FileCopies, CopiesOwnDuplicatesAndCloseOnlyTheirOwn) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("a"), "abcdef");
  auto* original = new qvFile(dir.W("a").c_str(), qvFile::modeRead);
  ASSERT_NE(original->m_hFile, qvFile::hFileNull);
  qvFile copy(*original);
  qvFile assigned;
  assigned = *original;
  EXPECT_NE(copy.m_hFile, original->m_hFile);
  EXPECT_NE(assigned.m_hFile, copy.m_hFile);
  EXPECT_EQ(copy.m_bCloseOnDelete, 1);
  int originalFd = original->m_hFile;
  delete original;
  EXPECT_FALSE(IsOpen(originalFd));
  char buf[4] = {};
  EXPECT_EQ(copy.Read(buf, 3), 3u);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(assigned.GetPosition(), 3u);  // one open file: one position

  qvFile moved(std::move(copy));
  EXPECT_EQ(copy.m_hFile, qvFile::hFileNull);
  EXPECT_NE(moved.m_hFile, qvFile::hFileNull);
}

TEST(FileCopies, DuplicateIsCloseOnExecAndOwned) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("a"), "abcdef");
  qvFile f(dir.W("a").c_str(), qvFile::modeRead);
  auto dup = f.Duplicate();
  ASSERT_TRUE(dup);
  EXPECT_NE(dup->m_hFile, f.m_hFile);
  EXPECT_EQ(dup->m_bCloseOnDelete, 1);
  EXPECT_TRUE(fcntl(dup->m_hFile, F_GETFD) & FD_CLOEXEC);
  int dupFd = dup->m_hFile;
  dup.reset();
  EXPECT_FALSE(IsOpen(dupFd));
  EXPECT_TRUE(IsOpen(f.m_hFile));

  qvFile empty;
  EXPECT_EQ(empty.Duplicate(), nullptr);
  qvFile stale(12345);  // not a descriptor: dup fails, no object
  EXPECT_EQ(stale.Duplicate(), nullptr);
}

TEST(FileFlags, InheritanceSyncAndDirectIo) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("a"), std::string(8192, 'x'));
  const uint32_t shared = qvFile::shareDenyNone;
  qvFile inherit(dir.W("a").c_str(), qvFile::modeRead | shared);
  qvFile noInherit(dir.W("a").c_str(), qvFile::modeRead | qvFile::modeNoInherit | shared);
  ASSERT_NE(inherit.m_hFile, qvFile::hFileNull);
  ASSERT_NE(noInherit.m_hFile, qvFile::hFileNull);
  EXPECT_FALSE(fcntl(inherit.m_hFile, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(fcntl(noInherit.m_hFile, F_GETFD) & FD_CLOEXEC);

  qvFile sync(dir.W("a").c_str(), qvFile::modeWrite | qvFile::osWriteThrough | shared);
  ASSERT_NE(sync.m_hFile, qvFile::hFileNull);
  EXPECT_EQ(fcntl(sync.m_hFile, F_GETFL) & O_SYNC, O_SYNC);

  // Direct I/O where the file system has it, buffered where it has not:
  // opening works either way.
  qvFile direct(dir.W("a").c_str(), qvFile::modeRead | qvFile::osNoBuffer |
                                        qvFile::osSequentialScan | qvFile::osRandomAccess | shared);
  EXPECT_NE(direct.m_hFile, qvFile::hFileNull);

  qvFile none(dir.W("a").c_str(), qvFile::modeNoAccess | shared);
  ASSERT_NE(none.m_hFile, qvFile::hFileNull);
  EXPECT_EQ(none.GetLength(), 8192u);
}

TEST(FileStatics, RenameDoesNotReplaceAndRemoveDeletes) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("a"), "a");
  qvtest::WriteFile(dir.Path("b"), "b");
  EXPECT_EQ(qvFile::Rename(dir.W("a").c_str(), dir.W("b").c_str()), 0);
  EXPECT_EQ(qvtest::ReadFile(dir.Path("b")), "b");
  EXPECT_EQ(qvFile::Rename(dir.W("a").c_str(), dir.W("c").c_str()), 1);
  EXPECT_FALSE(qvtest::Exists(dir.Path("a")));
  EXPECT_EQ(qvtest::ReadFile(dir.Path("c")), "a");
  EXPECT_EQ(qvFile::Remove(dir.W("c").c_str()), 1);
  EXPECT_FALSE(qvtest::Exists(dir.Path("c")));
  EXPECT_EQ(qvFile::Remove(dir.W("c").c_str()), 0);
}
