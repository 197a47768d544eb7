// The notification-area icon's pop-up menu: a small window built from the
// form "menu.xml" in the folder "skins2" beside the program (read from
// disk, so it can be changed without rebuilding skin.dat). Every button of
// the form is an item; a click reaches the owner's Notify as "itemclick"
// with the button as sender, then the menu closes. It also closes when it
// loses the focus, and frees itself when closed.
#pragma once

#include <QPointer>
#include <QWidget>

class qvSearchMainUi;

class CTrayMenu : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kSkinFolder = "skins2";
  static constexpr const char* kSkinFile = "menu.xml";

  // Where the menu goes: its bottom-left corner at the point (the tray's
  // way), or its top-left corner there (under a button).
  enum class Placement { kAbove, kBelow };

  // Builds the menu from `skinFile` and shows it at `point`. Null (and
  // nothing shown) when the form is missing or cannot be built.
  static CTrayMenu* Open(qvSearchMainUi* owner, const QString& skinFile, const QPoint& point,
                         Placement placement = Placement::kAbove);
  // Moves the menu so that its bottom-left corner is at `cursor`, shown.
  void ShowAt(const QPoint& cursor);
  // Moves the menu so that its top-left corner is at `point`, shown.
  void ShowBelow(const QPoint& point);

  void Notify(const QString& type, QObject* sender);

 protected:
  bool event(QEvent* event) override;

 private:
  explicit CTrayMenu(qvSearchMainUi* owner);
  bool Build(const QString& skinFile);
  // Shows the menu at `top-left`, moved as little as needed to lie within
  // the available area of the screen that holds `anchor`.
  void ShowWithin(QPoint topLeft, const QPoint& anchor);

  QPointer<qvSearchMainUi> owner_;
};
