// The bubble as painted: the image's slices at their places, the texts,
// the transparent surroundings, and the button.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>

#include "CToolTipEx.h"
#include "TipsTestSupport.h"
#include "qvTipGeometry.h"

namespace {

const QRect kIcon(2, 108, 94, 80);

// A text of repeated c measuring about target pixels in the tip's font.
QString TextMeasuring(int target, QChar c) {
  const QFontMetrics metrics(CToolTipEx::TipFont());
  QString text;
  while (metrics.horizontalAdvance(text + c) <= target) text += c;
  return text;
}

bool IsDark(QRgb p) { return qAlpha(p) > 200 && qRed(p) < 90 && qGreen(p) < 110 && qBlue(p) < 90; }

int DarkPixels(const QImage& image, const QRect& box) {
  int count = 0;
  for (int y = box.top(); y <= box.bottom(); ++y) {
    for (int x = box.left(); x <= box.right(); ++x) count += IsDark(image.pixel(x, y)) ? 1 : 0;
  }
  return count;
}

}  // namespace

TEST(BubbleImage, EmbeddedImageHasTheBodyPointerAndButtonField) {
  const QImage bubble = LoadBubbleImage();
  ASSERT_EQ(bubble.size(), QSize(210, 65));
  EXPECT_EQ(bubble.pixel(100, 32), qRgba(147, 201, 40, 255));
  EXPECT_EQ(qAlpha(bubble.pixel(18, 20)), 255);
  EXPECT_EQ(qAlpha(bubble.pixel(189, 20)), 255);
  EXPECT_EQ(qAlpha(bubble.pixel(17, 20)), 0);
  EXPECT_EQ(qAlpha(bubble.pixel(190, 20)), 0);
  EXPECT_GT(qAlpha(bubble.pixel(11, 32)), 0);  // the pointer's tip
  EXPECT_EQ(qAlpha(bubble.pixel(10, 32)), 0);
  EXPECT_EQ(bubble.pixel(138, 46), qRgba(226, 225, 225, 255));
  EXPECT_GT(qGreen(bubble.pixel(100, 4)), 201);  // lighter along the top
  EXPECT_LT(qGreen(bubble.pixel(100, 60)), 201);  // darker along the bottom
  EXPECT_EQ(qAlpha(bubble.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(bubble.pixel(209, 64)), 0);
}

TEST(TipWindow, WidthFollowsTheMeasuredText) {
  const QImage bubble = LoadBubbleImage();
  const QFontMetrics metrics(CToolTipEx::TipFont());
  struct Case {
    QString text;
    int expected;
  };
  const QString mid = TextMeasuring(300, QChar(0x4E2D));
  const Case cases[] = {{TextMeasuring(140, QLatin1Char('n')), 210},
                        {mid, metrics.horizontalAdvance(mid) + 60},
                        {TextMeasuring(600, QLatin1Char('n')), 500}};
  for (const Case& c : cases) {
    CToolTipEx tip(bubble, c.text, kIcon);
    EXPECT_EQ(tip.width(), c.expected) << c.text.size();
    EXPECT_EQ(tip.height(), 65);
    EXPECT_EQ(tip.Canvas().size(), tip.size());
  }
  // The middle case lands near 360 with any font of 12 pixels.
  EXPECT_NEAR(metrics.horizontalAdvance(mid) + 60, 360, 12);
}

TEST(TipWindow, SlicesAreDrawnAtTheirPlaces) {
  // Compared in the canvas's own (premultiplied) form, so that partly
  // transparent edge pixels compare exactly.
  const QImage bubble = LoadBubbleImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  for (int textWidth : {100, 300, 600}) {
    const QString text = TextMeasuring(textWidth, QLatin1Char('n'));
    CToolTipEx tip(bubble, text, kIcon);
    const QImage& canvas = tip.Canvas();
    const int w = canvas.width();
    SCOPED_TRACE(w);
    // Left end, unscaled: the pointer and the body's left edge.
    for (int x : {0, 5, 10, 11, 12, 17, 18, 30, 49}) {
      for (int y : {0, 3, 32, 34, 61, 64}) EXPECT_EQ(canvas.pixel(x, y), bubble.pixel(x, y)) << x << ',' << y;
    }
    // Middle, stretched: every row is one colour there, top lighter, bottom darker.
    for (int x : {50, w / 2, w - 121}) {
      for (int y : {0, 3, 4, 34, 58, 61, 64}) EXPECT_EQ(canvas.pixel(x, y), bubble.pixel(70, y)) << x << ',' << y;
    }
    // Right end, unscaled: body, button field corners, the transparent edge.
    for (int sx : {90, 100, 107, 109, 166, 180, 189, 190, 209}) {
      for (int y : {0, 34, 38, 55, 64}) {
        EXPECT_EQ(canvas.pixel(w - 120 + sx - 90, y), bubble.pixel(sx, y)) << sx << ',' << y;
      }
    }
    EXPECT_EQ(canvas.pixel(w - 101, 38), qRgba(226, 225, 225, 255));
  }
}

TEST(TipWindow, TextsAreDrawnInBlackInTheirBoxes) {
  const QImage bubble = LoadBubbleImage();
  CToolTipEx tip(bubble, QStringLiteral("双击这个图标开始搜索"), kIcon);
  const QImage& canvas = tip.Canvas();
  const int w = canvas.width();
  EXPECT_GT(DarkPixels(canvas, tipgeometry::TextBox(w)), 40);
  EXPECT_GT(DarkPixels(canvas, tipgeometry::ButtonCaptionBox(w)), 40);
  // Nothing dark outside the two boxes.
  QImage outside = canvas.copy();
  for (const QRect& box : {tipgeometry::TextBox(w), tipgeometry::ButtonCaptionBox(w)}) {
    for (int y = box.top(); y <= box.bottom(); ++y) {
      for (int x = box.left(); x <= box.right(); ++x) outside.setPixel(x, y, 0);
    }
  }
  EXPECT_EQ(DarkPixels(outside, outside.rect()), 0);
}

TEST(TipWindow, TransparentPixelsAreNotPartOfTheWindow) {
  CToolTipEx tip(LoadBubbleImage(), QStringLiteral("tip"), kIcon);
  const QRegion mask = tip.mask();
  EXPECT_FALSE(mask.contains(QPoint(0, 0)));
  EXPECT_FALSE(mask.contains(QPoint(5, 32)));
  EXPECT_FALSE(mask.contains(QPoint(tip.width() - 5, 32)));
  EXPECT_TRUE(mask.contains(QPoint(11, 32)));
  EXPECT_TRUE(mask.contains(QPoint(30, 34)));
  EXPECT_TRUE(mask.contains(tip.ButtonRect().center()));
}

TEST(TipWindow, OnlyAClickOnTheButtonDismissesIt) {
  CToolTipEx tip(LoadBubbleImage(), QStringLiteral("双击这个图标开始搜索"), kIcon);
  QSignalSpy dismissed(&tip, &CToolTipEx::dismissed);
  tip.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tip));
  const int w = tip.width();
  EXPECT_EQ(tip.ButtonRect(), tipgeometry::ButtonClickRect(w));

  for (QPoint outside : {QPoint(30, 34), QPoint(w - 41, 45), QPoint(w - 70, 58), QPoint(w / 2, 20)}) {
    QTest::mouseClick(&tip, Qt::LeftButton, {}, outside);
    EXPECT_TRUE(tip.isVisible()) << outside.x() << ',' << outside.y();
  }
  QTest::mouseClick(&tip, Qt::RightButton, {}, tip.ButtonRect().center());
  EXPECT_TRUE(tip.isVisible());
  EXPECT_EQ(dismissed.count(), 0);

  QTest::mouseClick(&tip, Qt::LeftButton, {}, QPoint(w - 42, 57));
  EXPECT_FALSE(tip.isVisible());
  EXPECT_EQ(dismissed.count(), 1);
}

TEST(TipWindow, ATextTooWideForItsBoxEndsInAnEllipsis) {
  const QString text = TextMeasuring(900, QLatin1Char('n')) + QStringLiteral("END");
  CToolTipEx tip(LoadBubbleImage(), text, kIcon);
  EXPECT_EQ(tip.width(), 500);
  EXPECT_EQ(tip.windowTitle(), text);
  // The text stays on its one line: nothing dark below the text box.
  EXPECT_EQ(DarkPixels(tip.Canvas(), QRect(25, 32, 300, 4)), 0);
  EXPECT_GT(DarkPixels(tip.Canvas(), tipgeometry::TextBox(500)), 100);
}
