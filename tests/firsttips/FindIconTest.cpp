// Choosing the icon, and what ShowTip does when it is or is not found.
#include <gtest/gtest.h>

#include <QApplication>

#include "TipsTestSupport.h"
#include "qvFindDesktopIcon.h"
#include "qvFixedDesktopProvider.h"
#include "qvShowTip.h"
#include "qvTipGeometry.h"

namespace {

std::vector<DesktopIcon> Desktop() {
  return {{QStringLiteral("回收站"), QRect(2, 2, 94, 80)},
          {QStringLiteral("QvSearch"), QRect(2, 108, 94, 80)},
          {QStringLiteral("报告"), QRect(2, 214, 94, 80)},
          {QStringLiteral("报告"), QRect(2, 320, 94, 80)},
          {QStringLiteral("报告 "), QRect(2, 426, 94, 80)}};
}

int VisibleWindows() {
  int count = 0;
  for (QWidget* w : QApplication::topLevelWidgets()) count += w->isVisible() ? 1 : 0;
  return count;
}

}  // namespace

TEST(FindIcon, LabelsMatchExactlyAndTheLowestIndexWins) {
  qvFixedDesktopProvider desktop(Desktop());
  qvDesktopIconProvider* providers[] = {&desktop};

  const auto report = FindDesktopIcon(QStringLiteral("报告"), providers);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->index, 2);
  EXPECT_EQ(report->icon.rect, QRect(2, 214, 94, 80));
  EXPECT_EQ(report->provider, QStringLiteral("fixed"));

  EXPECT_EQ(FindDesktopIcon(QStringLiteral("报告 "), providers)->index, 4);
  EXPECT_FALSE(FindDesktopIcon(QStringLiteral("qvsearch"), providers));
  EXPECT_FALSE(FindDesktopIcon(QStringLiteral("QvSearc"), providers));
  EXPECT_FALSE(FindDesktopIcon(QStringLiteral("QvSearch "), providers));
}

TEST(FindIcon, TheFirstProviderThatSeesADesktopDecides) {
  qvFixedDesktopProvider noDesktop(std::nullopt);
  qvFixedDesktopProvider withoutIcon(std::vector<DesktopIcon>{{QStringLiteral("回收站"), QRect(0, 0, 10, 10)}});
  qvFixedDesktopProvider desktop(Desktop());

  qvDesktopIconProvider* fallThrough[] = {&noDesktop, &desktop};
  ASSERT_TRUE(FindDesktopIcon(QStringLiteral("QvSearch"), fallThrough));
  EXPECT_EQ(noDesktop.reads(), 1);

  qvDesktopIconProvider* decided[] = {&withoutIcon, &desktop};
  EXPECT_FALSE(FindDesktopIcon(QStringLiteral("QvSearch"), decided));
  EXPECT_EQ(desktop.reads(), 1);  // only the first search above

  // An empty label (a command line without a blank) asks nobody.
  EXPECT_FALSE(FindDesktopIcon(QString(), fallThrough));
  EXPECT_EQ(noDesktop.reads(), 1);
}

TEST(ShowTip, ALabelDifferingInCaseShowsNothingNotEvenTheDesktop) {
  qvFixedDesktopProvider desktop(Desktop());
  qvDesktopIconProvider* providers[] = {&desktop};
  int desktopShown = 0;
  const int before = VisibleWindows();
  const auto tip = ShowTip(QStringLiteral("qvSearch"), QStringLiteral("tip"), providers,
                           [&] { ++desktopShown; });
  EXPECT_FALSE(tip);
  EXPECT_EQ(desktopShown, 0);
  EXPECT_EQ(VisibleWindows(), before);
}

TEST(ShowTip, AFoundIconShowsTheDesktopThenTheBubbleBesideIt) {
  qvFixedDesktopProvider desktop(Desktop());
  qvDesktopIconProvider* providers[] = {&desktop};
  int desktopShown = 0;
  const auto tip = ShowTip(QStringLiteral("QvSearch"), QStringLiteral("双击图标开始搜索"), providers,
                           [&] { ++desktopShown; });
  ASSERT_TRUE(tip);
  EXPECT_EQ(desktopShown, 1);
  EXPECT_TRUE(tip->isVisible());
  EXPECT_EQ(tip->windowTitle(), QStringLiteral("双击图标开始搜索"));
  EXPECT_EQ(tip->geometry(), tipgeometry::WindowRect(QRect(2, 108, 94, 80), tip->width()));
  EXPECT_EQ(tip->geometry().topLeft(), QPoint(96, 115));
}
