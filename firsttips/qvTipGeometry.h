// Where the bubble goes and how its parts are laid out, in pixels. Window
// coordinates have their origin at the bubble's top-left corner.
#pragma once

#include <QRect>

namespace tipgeometry {

constexpr int kHeight = 65;
constexpr int kMinWidth = 210;  // the bubble image's own width
constexpr int kMaxWidth = 500;
constexpr int kTextPadding = 60;  // measured text width + this = window width
constexpr int kFontPixelSize = 12;

// The bubble image's three vertical slices: the left end with the pointer,
// the middle that stretches, the right end with the button field.
constexpr int kLeftSliceWidth = 50;
constexpr int kMiddleSliceWidth = 40;
constexpr int kRightSliceWidth = 120;

struct Slice {
  QRect source;  // in the bubble image
  QRect target;  // in the window
};

// The window width for a text measuring textWidth pixels as one line.
int WindowWidth(int textWidth);

// The bubble's window rectangle for an icon's screen rectangle: the
// pointer at the icon's right edge, vertically centred on the icon.
QRect WindowRect(const QRect& iconRect, int windowWidth);

// The three slices for a window of the given width.
Slice LeftSlice(int windowWidth);
Slice MiddleSlice(int windowWidth);
Slice RightSlice(int windowWidth);

QRect TextBox(int windowWidth);
QRect ButtonCaptionBox(int windowWidth);
// Points inside it (right and bottom edges excluded) dismiss the bubble.
QRect ButtonClickRect(int windowWidth);

}  // namespace tipgeometry
