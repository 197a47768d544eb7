#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <stdexcept>

#include "TestSupport.h"
#include "qvPath.h"

using qvtest::TempDir;
using qvtest::U;

TEST(PathText, SplitsAFilePath) {
  const qvChar* p = u"/a/b.txt";
  EXPECT_EQ(qvPath::GetDirectoryName(p), u"/a/");
  EXPECT_EQ(qvPath::GetFileName(p), u"b.txt");
  EXPECT_EQ(qvPath::GetFileNameWithoutExtension(p), u"b");
  EXPECT_EQ(qvPath::GetExtension(p), u"txt");
  EXPECT_EQ(qvPath::GetPathRoot(p), u"/");
  EXPECT_EQ(qvPath::GetPathRoot(u"home/user/x"), u"home/");
}

TEST(PathText, ExtensionIsAfterTheLastDotOfTheWholePath) {
  EXPECT_EQ(qvPath::GetExtension(u"/a.b/file"), u"b/file");
  EXPECT_EQ(qvPath::GetExtension(u"readme"), u"");
  EXPECT_EQ(qvPath::GetExtension(u"/x/a.tar.gz"), u"gz");
  EXPECT_EQ(qvPath::GetFileNameWithoutExtension(u"/x/a.tar.gz"), u"a.tar");
  EXPECT_EQ(qvPath::GetFileNameWithoutExtension(u".profile"), u"");
  EXPECT_EQ(qvPath::GetFileNameWithoutExtension(u"/home/u/.profile"), u"");
  EXPECT_EQ(qvPath::GetFileNameWithoutExtension(u"/a.b/file"), u"file");
}

TEST(PathText, WithoutSeparatorTheWholePathIsReturned) {
  EXPECT_EQ(qvPath::GetDirectoryName(u"file.txt"), u"file.txt");
  EXPECT_EQ(qvPath::GetPathRoot(u"file.txt"), u"file.txt");
  EXPECT_EQ(qvPath::GetFileName(u"file.txt"), u"file.txt");
  EXPECT_EQ(qvPath::GetFileName(u"/a/"), u"");
  EXPECT_EQ(qvPath::GetDirectoryName(nullptr), u"");
  EXPECT_EQ(qvPath::GetExtension(nullptr), u"");
}

TEST(PathFullPath, AbsoluteUnchangedRelativeAgainstProgramFolderEmptyThrows) {
  EXPECT_EQ(qvPath::GetFullPath(u"/x/../y/./z"), u"/x/../y/./z");
  EXPECT_EQ(qvPath::GetFullPath(u"data/q.db"), qvPath::GetAppPath() + u"data/q.db");
  EXPECT_THROW(qvPath::GetFullPath(u""), std::invalid_argument);
  EXPECT_THROW(qvPath::GetFullPath(nullptr), std::invalid_argument);
}

TEST(PathFolders, AppPathIsTheExecutablesFolder) {
  char exe[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", exe, PATH_MAX);
  ASSERT_GT(n, 0);
  std::string s(exe, static_cast<size_t>(n));
  qvString app = qvPath::GetAppPath();
  EXPECT_EQ(app, U(s.substr(0, s.rfind('/') + 1).c_str()));
  EXPECT_EQ(qvPath::GetAppPath(), app);
}

TEST(PathFolders, CurrentAndTemporaryFoldersEndInSlash) {
  char cwd[PATH_MAX];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  std::string expected = std::string(cwd) == "/" ? "/" : std::string(cwd) + "/";
  EXPECT_EQ(qvPath::GetCurDir(), U(expected.c_str()));

  {
    qvtest::ScopedEnv tmp("TMPDIR", std::string("/var/tmp"));
    EXPECT_EQ(qvPath::GetTempPathW(), u"/var/tmp/");
  }
  {
    qvtest::ScopedEnv tmp("TMPDIR", std::nullopt);
    EXPECT_EQ(qvPath::GetTempPathW(), u"/tmp/");
  }
  TempDir dir;
  qvtest::ScopedEnv tmp("TMPDIR", dir.Path());
  EXPECT_EQ(qvPath::GetTempFileNameW(u"x.dat"), dir.W("x2.dat"));
}

TEST(PathRandomName, CountsUpPastExistingNames) {
  TempDir dir;
  const qvString folder = dir.W() + u"/";
  EXPECT_EQ(qvPath::GetRandomFileName(folder.c_str(), u"log.txt"), folder + u"log2.txt");
  qvtest::WriteFile(dir.Path("log2.txt"), "");
  EXPECT_EQ(qvPath::GetRandomFileName(folder.c_str(), u"log.txt"), folder + u"log3.txt");
  EXPECT_EQ(qvPath::GetRandomFileName(folder.c_str(), u"readme"), folder + u"readme2");
  // A dangling link takes its name too.
  ASSERT_EQ(symlink("/nonexistent/target", dir.Path("log3.txt").c_str()), 0);
  EXPECT_EQ(qvPath::GetRandomFileName(folder.c_str(), u"log.txt"), folder + u"log4.txt");
}

TEST(PathRandomName, MissingFolderFallsBackToCurrentFolder) {
  EXPECT_EQ(qvPath::GetRandomFileName(u"/no/such/folder/", u"zz-unlikely.q"),
            qvPath::GetCurDir() + u"zz-unlikely2.q");
}

TEST(PathRandomName, EmptyWhenEveryNumberIsTaken) {
  TempDir dir;
  for (int n = 2; n <= 9999; ++n) {
    int fd = open(dir.Path("f" + std::to_string(n)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  EXPECT_EQ(qvPath::GetRandomFileName((dir.W() + u"/").c_str(), u"f"), u"");
}

TEST(PathCreateDirectory, LastComponentOnlyWithTrailingSlash) {
  TempDir dir;
  EXPECT_EQ(qvPath::CreateDirectoryW(dir.W("x/y/z").c_str()), 1);
  EXPECT_EQ(qvPath::IsDirectoryExist(dir.W("x").c_str()), 1);
  EXPECT_EQ(qvPath::IsDirectoryExist(dir.W("x/y").c_str()), 1);
  EXPECT_EQ(qvPath::IsFileExist(dir.W("x/y/z").c_str()), 0);

  EXPECT_EQ(qvPath::CreateDirectoryW(dir.W("x/y/z/").c_str()), 1);
  EXPECT_EQ(qvPath::IsDirectory(dir.W("x/y/z").c_str()), 1);
  EXPECT_EQ(qvPath::CreateDirectoryW(dir.W("x/y/z/").c_str()), 1);  // already there
}

TEST(PathCreateDirectory, EmptyAndImpossiblePathsFail) {
  EXPECT_EQ(qvPath::CreateDirectoryW(u""), 0);
  EXPECT_EQ(qvPath::CreateDirectoryW(nullptr), 0);
  TempDir dir;
  qvtest::WriteFile(dir.Path("plain"), "x");
  // A folder cannot be made under a regular file: reported, not hidden.
  EXPECT_EQ(qvPath::CreateDirectoryW(dir.W("plain/sub/").c_str()), 0);
}

TEST(PathExistence, FilesFoldersAndUndecodableNames) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("f.txt"), "x");
  EXPECT_EQ(qvPath::IsFileExist(dir.W("f.txt").c_str()), 1);
  EXPECT_EQ(qvPath::IsDirectory(dir.W("f.txt").c_str()), 0);
  EXPECT_EQ(qvPath::IsFileExist(dir.W().c_str()), 1);
  EXPECT_EQ(qvPath::IsDirectory(dir.W().c_str()), 1);
  EXPECT_EQ(qvPath::IsFileExist(dir.W("missing").c_str()), 0);
  EXPECT_EQ(qvPath::IsFileExist(u""), 0);
  EXPECT_EQ(qvPath::IsDirectoryExist(nullptr), 0);

  // A name that is not UTF-8 is still found through its decoded form.
  qvtest::WriteFile(dir.Path("\xFF\xFE-latin1-\xE9.txt"), "x");
  EXPECT_EQ(qvPath::IsFileExist(dir.W("\xFF\xFE-latin1-\xE9.txt").c_str()), 1);
}

TEST(PathExistPic, SizeOfFirstMatchingFile) {
  TempDir dir;
  qvtest::WriteFile(dir.Path("b.png"), "1234567");
  qvtest::WriteFile(dir.Path("a.png"), "12345");
  ASSERT_EQ(mkdir(dir.Path("0.png").c_str(), 0755), 0);  // a folder: skipped
  EXPECT_EQ(qvPath::GetExistPic(dir.W("*.png").c_str()), 5u);
  EXPECT_EQ(qvPath::GetExistPic(dir.W("b.png").c_str()), 7u);
  EXPECT_EQ(qvPath::GetExistPic(dir.W("*.jpg").c_str()), 0u);
  EXPECT_EQ(qvPath::GetExistPic(nullptr), 0u);
}
