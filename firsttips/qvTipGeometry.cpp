#include "qvTipGeometry.h"

#include <algorithm>

namespace tipgeometry {

int WindowWidth(int textWidth) {
  const int width = textWidth + kTextPadding;
  if (width <= kMinWidth) return kMinWidth;
  return std::min(width, kMaxWidth);
}

QRect WindowRect(const QRect& iconRect, int windowWidth) {
  // QRect::right() is the last column inside; the icon's right edge, as an
  // exclusive bound, is one past it. C++ division truncates toward zero,
  // which is what a tall icon (negative difference) needs.
  const int left = iconRect.x() + iconRect.width();
  const int top = iconRect.y() + (iconRect.height() - kHeight) / 2;
  return QRect(left, top, windowWidth, kHeight);
}

Slice LeftSlice(int) {
  return {QRect(0, 0, kLeftSliceWidth, kHeight), QRect(0, 0, kLeftSliceWidth, kHeight)};
}

Slice MiddleSlice(int windowWidth) {
  return {QRect(kLeftSliceWidth, 0, kMiddleSliceWidth, kHeight),
          QRect(kLeftSliceWidth, 0, windowWidth - kLeftSliceWidth - kRightSliceWidth, kHeight)};
}

Slice RightSlice(int windowWidth) {
  return {QRect(kLeftSliceWidth + kMiddleSliceWidth, 0, kRightSliceWidth, kHeight),
          QRect(windowWidth - kRightSliceWidth, 0, kRightSliceWidth, kHeight)};
}

QRect TextBox(int windowWidth) { return QRect(25, 10, windowWidth - 50, 22); }

QRect ButtonCaptionBox(int windowWidth) { return QRect(windowWidth - 102, 37, 60, 21); }

QRect ButtonClickRect(int windowWidth) {
  // left W-102, top 37, right W-41, bottom 58; right and bottom exclusive.
  return QRect(QPoint(windowWidth - 102, 37), QPoint(windowWidth - 41 - 1, 58 - 1));
}

}  // namespace tipgeometry
