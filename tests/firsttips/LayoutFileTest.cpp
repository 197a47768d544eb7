// The GTK desktop's layout files and launchers, read from real files.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "TipsTestSupport.h"
#include "qvDesktopItemsFile.h"
#include "qvLayoutFileProvider.h"

TEST(DesktopItemsFile, PinnedItemsInFileOrderDamageSkipped) {
  const QByteArray file =
      "[*]\nwallpaper_mode=color\nx=5\ny=5\n\n"
      "[测试图标.desktop]\nx=300\ny=200\n"
      "[only-x.txt]\nx=4\n"
      "[bad.txt]\nx=four\ny=4\n"
      "[huge.txt]\nx=2000000\ny=0\n"
      "[broken\nx=1\ny=1\n"
      "  [spaced name.txt]  \r\n  x = -20 \r\n y=7\r\n# x=99\n"
      "[测试图标.desktop]\ny=210\n";
  const std::vector<PinnedItem> items = ParseDesktopItems(file);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].fileName, QStringLiteral("测试图标.desktop"));
  EXPECT_EQ(items[0].position, QPoint(300, 210));  // a repeated group adds to the first
  EXPECT_EQ(items[1].fileName, QStringLiteral("spaced name.txt"));
  EXPECT_EQ(items[1].position, QPoint(-20, 7));
  EXPECT_TRUE(ParseDesktopItems(QByteArray()).empty());
  static const char kBinary[] = "\xff\xfe[\0]x=1";
  EXPECT_TRUE(ParseDesktopItems(QByteArray(kBinary, sizeof kBinary - 1)).empty());
}

TEST(DesktopItemsFile, LauncherLabelFollowsTheLocale) {
  const QByteArray launcher =
      "[Desktop Action New]\nName=Wrong\n"
      "[Desktop Entry]\nType=Application\nName=Search\nName[zh_CN]=搜索\\s文件\nName[zh]=搜\n";
  EXPECT_EQ(LauncherLabel(launcher, LocaleLanguages(QStringLiteral("zh_CN.UTF-8"))), QStringLiteral("搜索 文件"));
  EXPECT_EQ(LauncherLabel(launcher, LocaleLanguages(QStringLiteral("zh_TW.UTF-8"))), QStringLiteral("搜"));
  EXPECT_EQ(LauncherLabel(launcher, LocaleLanguages(QStringLiteral("C.UTF-8"))), QStringLiteral("Search"));
  EXPECT_TRUE(LauncherLabel("[Desktop Entry]\nExec=true\n", {}).isEmpty());
  EXPECT_EQ(LocaleLanguages(QStringLiteral("sr_RS.UTF-8@latin")),
            (QStringList{QStringLiteral("sr_RS@latin"), QStringLiteral("sr_RS"), QStringLiteral("sr@latin"),
                         QStringLiteral("sr")}));
}

TEST(LayoutFileProvider, ReadsPinnedIconsOfEveryScreen) {
  QTemporaryDir home;
  const QString profile = home.filePath(QStringLiteral("config/pcmanfm/default"));
  const QString desktop = home.filePath(QStringLiteral("Desktop"));
  const std::vector<QRect> screens = {QRect(0, 0, 800, 600), QRect(800, 0, 1024, 768)};
  qvLayoutFileProvider provider(profile, desktop, screens, {QStringLiteral("zh_CN"), QStringLiteral("zh")});
  EXPECT_FALSE(provider.ReadIcons()) << "no layout file: no desktop seen";

  ASSERT_TRUE(tipstest::WriteFile(desktop + QStringLiteral("/search.desktop"),
                                  "[Desktop Entry]\nName=Search\nName[zh_CN]=搜索\n"));
  ASSERT_TRUE(tipstest::WriteFile(desktop + QStringLiteral("/报告.txt"), "x"));
  ASSERT_TRUE(tipstest::WriteFile(home.filePath(QStringLiteral("outside.txt")), "x"));
  ASSERT_TRUE(tipstest::WriteFile(profile + QStringLiteral("/desktop-items-0.conf"),
                                  "[*]\nshow_trash=0\n[search.desktop]\nx=300\ny=200\n"
                                  "[gone.txt]\nx=1\ny=1\n[../outside.txt]\nx=2\ny=2\n"));
  ASSERT_TRUE(tipstest::WriteFile(profile + QStringLiteral("/desktop-items-1.conf"),
                                  "[报告.txt]\nx=10\ny=20\n"));
  const auto icons = provider.ReadIcons();
  ASSERT_TRUE(icons);
  ASSERT_EQ(icons->size(), 2u);
  EXPECT_EQ((*icons)[0].label, QStringLiteral("搜索"));
  EXPECT_EQ((*icons)[0].rect, QRect(QPoint(300, 200), qvLayoutFileProvider::kItemSize));
  EXPECT_EQ((*icons)[1].label, QStringLiteral("报告.txt"));
  EXPECT_EQ((*icons)[1].rect.topLeft(), QPoint(810, 20));
}
