#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

#include "TestSupport.h"
#include "qvDesktopEntry.h"
#include "qvUtils.h"

using qvtest::ScopedEnv;
using qvtest::TempDir;

namespace {

std::string RunningExecutable() {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

class AutoStart : public ::testing::Test {
 protected:
  TempDir home_;
  ScopedEnv homeVar_{"HOME", home_.Path("home")};
  ScopedEnv xdgVar_{"XDG_CONFIG_HOME", home_.Path("config")};
};

}  // namespace

TEST_F(AutoStart, EnableWritesALauncherForThisProgramDisableRemovesIt) {
  const std::string file = home_.Path("config/autostart/qvsearch.desktop");
  ASSERT_EQ(qvUtils::QV_SetAutoStart(1, u"qvsearch"), 1);
  qvDesktopEntry::Entry entry;
  ASSERT_TRUE(qvDesktopEntry::Read(file, &entry));
  EXPECT_EQ(entry.type, "Application");
  EXPECT_EQ(entry.name, "qvsearch");
  std::vector<std::string> argv;
  ASSERT_TRUE(qvDesktopEntry::SplitExec(entry, file, &argv));
  EXPECT_EQ(argv, std::vector<std::string>{RunningExecutable()});

  EXPECT_EQ(qvUtils::QV_SetAutoStart(1, u"qvsearch"), 1);  // again: replaced
  EXPECT_EQ(qvUtils::QV_SetAutoStart(0, u"qvsearch"), 1);
  EXPECT_FALSE(qvtest::Exists(file));
  EXPECT_EQ(qvUtils::QV_SetAutoStart(0, u"qvsearch"), 1);  // nothing there: still 1
}

TEST_F(AutoStart, DefaultsToConfigUnderHomeAndIgnoresRelativeXdgPath) {
  ScopedEnv relative("XDG_CONFIG_HOME", std::string("relative/config"));
  ASSERT_EQ(qvUtils::QV_SetAutoStart(1, u"qvsearch"), 1);
  EXPECT_TRUE(qvtest::Exists(home_.Path("home/.config/autostart/qvsearch.desktop")));
  ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(qvUtils::QV_SetAutoStart(0, u"qvsearch"), 1);
  EXPECT_FALSE(qvtest::Exists(home_.Path("home/.config/autostart/qvsearch.desktop")));
}

TEST_F(AutoStart, RefusesNamesThatLeaveTheFolderAndReportsWriteFailures) {
  EXPECT_EQ(qvUtils::QV_SetAutoStart(1, u"../escape"), 0);
  EXPECT_EQ(qvUtils::QV_SetAutoStart(1, u".."), 0);
  EXPECT_EQ(qvUtils::QV_SetAutoStart(1, u""), 0);
  EXPECT_EQ(qvUtils::QV_SetAutoStart(0, nullptr), 0);
  EXPECT_FALSE(qvtest::Exists(home_.Path("config/escape.desktop")));

  qvtest::WriteFile(home_.Path("file"), "x");
  ScopedEnv blocked("XDG_CONFIG_HOME", home_.Path("file"));  // no folder can be made there
  EXPECT_EQ(qvUtils::QV_SetAutoStart(1, u"qvsearch"), 0);
}
