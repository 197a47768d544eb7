#include <gtest/gtest.h>

#include "TipsTestSupport.h"
#include "qvTipGeometry.h"

using namespace tipgeometry;

TEST(Geometry, WidthFollowsTheTextBetween210And500) {
  EXPECT_EQ(WindowWidth(0), 210);
  EXPECT_EQ(WindowWidth(100), 210);
  EXPECT_EQ(WindowWidth(150), 210);
  EXPECT_EQ(WindowWidth(151), 211);
  EXPECT_EQ(WindowWidth(300), 360);
  EXPECT_EQ(WindowWidth(440), 500);
  EXPECT_EQ(WindowWidth(600), 500);
}

TEST(Geometry, BubbleSitsAtTheIconsRightEdgeVerticallyCentred) {
  // An icon of 94 x 80 at 2, 108: the bubble starts one past its last column.
  EXPECT_EQ(WindowRect(QRect(2, 108, 94, 80), 210), QRect(96, 115, 210, 65));
  // Odd differences: (81 - 65) / 2 = 8, (30 - 65) / 2 = -17 (toward zero, not -18).
  EXPECT_EQ(WindowRect(QRect(0, 100, 50, 81), 300).top(), 108);
  EXPECT_EQ(WindowRect(QRect(0, 100, 50, 30), 300).top(), 83);
  EXPECT_EQ(WindowRect(QRect(0, 100, 50, 30), 300).size(), QSize(300, 65));
}

TEST(Geometry, SlicesCoverTheWindowEdgeToEdge) {
  for (int width : {210, 360, 500}) {
    EXPECT_EQ(LeftSlice(width).target, QRect(0, 0, 50, 65));
    EXPECT_EQ(MiddleSlice(width).source, QRect(50, 0, 40, 65));
    EXPECT_EQ(MiddleSlice(width).target, QRect(50, 0, width - 170, 65));
    EXPECT_EQ(RightSlice(width).source, QRect(90, 0, 120, 65));
    EXPECT_EQ(RightSlice(width).target.left(), MiddleSlice(width).target.right() + 1);
    EXPECT_EQ(RightSlice(width).target.right(), width - 1);
  }
}

TEST(Geometry, ButtonRectangleExcludesItsRightAndBottomEdges) {
  const int w = 360;
  const QRect button = ButtonClickRect(w);
  EXPECT_TRUE(button.contains(QPoint(w - 102, 37)));
  EXPECT_TRUE(button.contains(QPoint(w - 42, 57)));
  EXPECT_FALSE(button.contains(QPoint(w - 41, 40)));
  EXPECT_FALSE(button.contains(QPoint(w - 60, 58)));
  EXPECT_FALSE(button.contains(QPoint(w - 103, 40)));
  EXPECT_FALSE(button.contains(QPoint(w - 60, 36)));
  EXPECT_EQ(ButtonCaptionBox(w), QRect(w - 102, 37, 60, 21));
  EXPECT_EQ(TextBox(w), QRect(25, 10, w - 50, 22));
}
