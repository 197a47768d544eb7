// The search window's icon in the desktop's notification area, tip
// "Zerivo搜索": a double-click brings the window back, the context click
// opens the tray menu at the cursor. Made only where a notification area
// exists; the program works the same without it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include "CTrayMenu.h"

class qvSearchMainUi;

class qvTrayIcon : public QObject {
  Q_OBJECT

 public:
  // `menuSkin` is the tray menu's form on disk.
  qvTrayIcon(qvSearchMainUi* owner, const QIcon& icon, const QString& menuSkin);

  // A shown icon, or null where the desktop has no notification area.
  static qvTrayIcon* Make(qvSearchMainUi* owner, const QIcon& icon, const QString& menuSkin);

  // What a mouse action on the icon does; `cursor` is where the menu opens.
  void OnActivated(QSystemTrayIcon::ActivationReason reason, const QPoint& cursor);

  QSystemTrayIcon& Icon() { return icon_; }
  // The menu while it is open.
  CTrayMenu* Menu() const { return menu_; }

 private:
  qvSearchMainUi* owner_;
  QString menuSkin_;
  QSystemTrayIcon icon_;
  QPointer<CTrayMenu> menu_;
};
