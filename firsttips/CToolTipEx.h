// The bubble window: frameless, translucent, a tool window. Its picture is
// painted once when it is built, from the bubble image's three slices with
// the tip text and the button caption on top; pixels the picture leaves
// transparent are not part of the window. A click on the button field
// dismisses it; clicks elsewhere do nothing.
#pragma once

#include <QImage>
#include <QWidget>

class CToolTipEx : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kButtonCaption = "我知道了";

  // bubble: the 210 x 65 bubble image; iconRect: the icon's screen
  // rectangle, which places the window.
  CToolTipEx(const QImage& bubble, const QString& text, const QRect& iconRect);

  // The painted picture, exactly as it is put on screen.
  const QImage& Canvas() const { return canvas_; }
  // In window coordinates.
  QRect ButtonRect() const { return buttonRect_; }

  // The font of both texts.
  static QFont TipFont();

 signals:
  void dismissed();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage canvas_;
  QRect buttonRect_;
};

// The bubble image embedded in the program; a null image when it cannot
// be loaded.
QImage LoadBubbleImage();

// Builds and shows the bubble for the text beside the icon; null when the
// bubble image cannot be loaded.
std::unique_ptr<CToolTipEx> CreateTipWindow(const QString& text, const QRect& iconRect);
