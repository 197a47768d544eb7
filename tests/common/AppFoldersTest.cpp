// The rule for where the saved index, qvConfig.ini and update.dat live.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "qvAppFolders.h"

using qvtest::ScopedEnv;
using qvtest::TempDir;

namespace {

// Never written by the tests: lies under /usr, so it counts as a system
// install for every user, root included, whether it exists or not.
const qvString kSystemApp = u"/usr/lib/qvsearch/";

std::string Bytes(const qvString& s) { return qvNameCodec::EncodeToString(s); }

mode_t Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A home of its own with no XDG variables set.
class AppFoldersTest : public ::testing::Test {
 protected:
  TempDir home_;
  ScopedEnv homeVar_{"HOME", home_.Path()};
  ScopedEnv dataVar_{"XDG_DATA_HOME", std::nullopt};
  ScopedEnv configVar_{"XDG_CONFIG_HOME", std::nullopt};
};

}  // namespace

TEST_F(AppFoldersTest, WritableAppFolderKeepsEverythingBesideTheProgram) {
  TempDir app;
  ScopedEnv data("XDG_DATA_HOME", home_.Path("xdg-data"));
  qvAppFolders f = qvAppFolders::Locate(app.W() + u"/");
  EXPECT_TRUE(f.portable);
  EXPECT_EQ(Bytes(f.dataFolder), app.Path("data/"));
  EXPECT_EQ(Bytes(f.configFile), app.Path("qvConfig.ini"));
  EXPECT_EQ(Bytes(f.updateFile), app.Path("update.dat"));

  ASSERT_TRUE(f.MakeFolders());
  EXPECT_TRUE(qvtest::Exists(app.Path("data")));
  EXPECT_FALSE(qvtest::Exists(home_.Path("xdg-data")));
}

TEST_F(AppFoldersTest, ReadOnlyAppFolderUsesTheUsersFolders) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write into any folder; the /usr case below covers root";
  TempDir app;
  ASSERT_EQ(chmod(app.Path().c_str(), 0555), 0);
  qvAppFolders f = qvAppFolders::Locate(app.W() + u"/");
  chmod(app.Path().c_str(), 0755);
  EXPECT_FALSE(f.portable);
  EXPECT_EQ(Bytes(f.dataFolder), home_.Path(".local/share/qvsearch/"));
  EXPECT_EQ(Bytes(f.configFile), home_.Path(".config/qvsearch/qvConfig.ini"));
}

TEST_F(AppFoldersTest, ProgramUnderUsrIsNeverPortable) {
  // Even where the folder is writable (root), /usr is left to the package
  // manager; a folder elsewhere that root can write stays portable.
  qvAppFolders f = qvAppFolders::Locate(kSystemApp, "");
  EXPECT_FALSE(f.portable);
  EXPECT_EQ(Bytes(f.dataFolder), home_.Path(".local/share/qvsearch/"));
  EXPECT_EQ(Bytes(f.configFile), home_.Path(".config/qvsearch/qvConfig.ini"));
  EXPECT_EQ(f.updateFile, kSystemApp + u"update.dat");
}

TEST_F(AppFoldersTest, XdgVariablesSetRelativeAndUnset) {
  {
    ScopedEnv data("XDG_DATA_HOME", "/srv/d");
    ScopedEnv config("XDG_CONFIG_HOME", "/srv/c/");
    qvAppFolders f = qvAppFolders::Locate(kSystemApp, "");
    EXPECT_EQ(Bytes(f.dataFolder), "/srv/d/qvsearch/");
    EXPECT_EQ(Bytes(f.configFile), "/srv/c/qvsearch/qvConfig.ini");
  }
  {
    // Relative values are invalid and ignored, as are empty ones.
    ScopedEnv data("XDG_DATA_HOME", "rel/data");
    ScopedEnv config("XDG_CONFIG_HOME", "");
    qvAppFolders f = qvAppFolders::Locate(kSystemApp, "");
    EXPECT_EQ(Bytes(f.dataFolder), home_.Path(".local/share/qvsearch/"));
    EXPECT_EQ(Bytes(f.configFile), home_.Path(".config/qvsearch/qvConfig.ini"));
  }
  {
    // Only the data variable set: settings still follow the home.
    ScopedEnv data("XDG_DATA_HOME", home_.Path("d"));
    qvAppFolders f = qvAppFolders::Locate(kSystemApp, "");
    EXPECT_EQ(Bytes(f.dataFolder), home_.Path("d/qvsearch/"));
    EXPECT_EQ(Bytes(f.configFile), home_.Path(".config/qvsearch/qvConfig.ini"));
  }
}

TEST_F(AppFoldersTest, UpdateFileFromTheSystemFolderOnlyWhenItIsThere) {
  TempDir etc;
  EXPECT_EQ(qvAppFolders::Locate(kSystemApp, etc.Path().c_str()).updateFile, kSystemApp + u"update.dat");
  qvtest::WriteFile(etc.Path("update.dat"), "[update]\nserverlist=\n");
  EXPECT_EQ(Bytes(qvAppFolders::Locate(kSystemApp, etc.Path().c_str()).updateFile), etc.Path("update.dat"));
  // A folder of that name is no file to read.
  ASSERT_EQ(unlink(etc.Path("update.dat").c_str()), 0);
  ASSERT_EQ(mkdir(etc.Path("update.dat").c_str(), 0755), 0);
  EXPECT_EQ(qvAppFolders::Locate(kSystemApp, etc.Path().c_str()).updateFile, kSystemApp + u"update.dat");
  rmdir(etc.Path("update.dat").c_str());

  // A portable install reads its own file even when the system has one.
  TempDir app;
  qvtest::WriteFile(etc.Path("update.dat"), "[update]\n");
  EXPECT_EQ(Bytes(qvAppFolders::Locate(app.W() + u"/", etc.Path().c_str()).updateFile), app.Path("update.dat"));
}

TEST_F(AppFoldersTest, HomeWithoutLocalGetsPrivateFoldersMade) {
  qvAppFolders f = qvAppFolders::Locate(kSystemApp, "");
  ASSERT_FALSE(qvtest::Exists(home_.Path(".local")));
  ASSERT_TRUE(f.MakeFolders());
  EXPECT_EQ(Mode(home_.Path(".local/share/qvsearch")), 0700u);
  EXPECT_EQ(Mode(home_.Path(".local")), 0700u);
  EXPECT_EQ(Mode(home_.Path(".config/qvsearch")), 0700u);
  // A second start finds them in place.
  EXPECT_TRUE(f.MakeFolders());
}

TEST_F(AppFoldersTest, FolderThatCannotBeMadeIsReported) {
  // A file where the data folder's parent should be.
  qvtest::WriteFile(home_.Path(".local"), "not a folder");
  EXPECT_FALSE(qvAppFolders::Locate(kSystemApp, "").MakeFolders());
}
