#include "CToolTipEx.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

#include "qvTipGeometry.h"

namespace {

// Black with alpha 254, for both texts.
const QColor kTextColor(0, 0, 0, 254);

void DrawSlice(QPainter& painter, const QImage& bubble, const tipgeometry::Slice& slice) {
  painter.drawImage(slice.target, bubble, slice.source);
}

// The pixels with any opacity, as a region.
QRegion OpaqueRegion(const QImage& image) {
  QRegion region;
  for (int y = 0; y < image.height(); ++y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    int x = 0;
    while (x < image.width()) {
      while (x < image.width() && qAlpha(row[x]) == 0) ++x;
      const int start = x;
      while (x < image.width() && qAlpha(row[x]) != 0) ++x;
      if (x > start) region += QRect(start, y, x - start, 1);
    }
  }
  return region;
}

}  // namespace

QFont CToolTipEx::TipFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  if (font.family().isEmpty()) {
    font = QFont(QStringLiteral("sans-serif"));
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPixelSize(tipgeometry::kFontPixelSize);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

CToolTipEx::CToolTipEx(const QImage& bubble, const QString& text, const QRect& iconRect)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint) {
  setAttribute(Qt::WA_TranslucentBackground);
  setWindowTitle(text);

  const QFont font = TipFont();
  const int width = tipgeometry::WindowWidth(QFontMetrics(font).horizontalAdvance(text));
  setGeometry(tipgeometry::WindowRect(iconRect, width));
  setFixedSize(width, tipgeometry::kHeight);
  buttonRect_ = tipgeometry::ButtonClickRect(width);

  canvas_ = QImage(width, tipgeometry::kHeight, QImage::Format_ARGB32_Premultiplied);
  canvas_.fill(Qt::transparent);
  QPainter painter(&canvas_);
  const QImage source = bubble.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  DrawSlice(painter, source, tipgeometry::LeftSlice(width));
  DrawSlice(painter, source, tipgeometry::MiddleSlice(width));
  DrawSlice(painter, source, tipgeometry::RightSlice(width));

  painter.setFont(font);
  painter.setPen(kTextColor);
  const QRect textBox = tipgeometry::TextBox(width);
  // One line: a text wider than its box ends in an ellipsis rather than
  // wrapping into a second line that the box would cut in half.
  const QString shown = QFontMetrics(font).elidedText(text, Qt::ElideRight, textBox.width());
  painter.drawText(textBox, Qt::AlignCenter | Qt::TextSingleLine, shown);
  painter.drawText(tipgeometry::ButtonCaptionBox(width), Qt::AlignCenter | Qt::TextSingleLine,
                   QString::fromUtf8(kButtonCaption));
  painter.end();

  setMask(OpaqueRegion(canvas_));
}

void CToolTipEx::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.drawImage(0, 0, canvas_);
}

void CToolTipEx::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton || !buttonRect_.contains(event->position().toPoint())) return;
  close();
  emit dismissed();
}

QImage LoadBubbleImage() {
  QImage image(QStringLiteral(":/firsttips/bubble.png"));
  if (image.size() != QSize(tipgeometry::kMinWidth, tipgeometry::kHeight)) return QImage();
  return image;
}

std::unique_ptr<CToolTipEx> CreateTipWindow(const QString& text, const QRect& iconRect) {
  const QImage bubble = LoadBubbleImage();
  if (bubble.isNull()) return nullptr;
  auto window = std::make_unique<CToolTipEx>(bubble, text, iconRect);
  window->show();
  return window;
}
