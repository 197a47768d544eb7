#include "qvTrayIcon.h"

#include <QCursor>

#include "CTrayMenu.h"
#include "qvSearchMainUi.h"

qvTrayIcon::qvTrayIcon(qvSearchMainUi* owner, const QIcon& icon, const QString& menuSkin)
    : QObject(owner), owner_(owner), menuSkin_(menuSkin), icon_(icon) {
  icon_.setToolTip(QString::fromUtf8("Zerivo搜索"));
  connect(&icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { OnActivated(reason, QCursor::pos()); });
}

qvTrayIcon* qvTrayIcon::Make(qvSearchMainUi* owner, const QIcon& icon, const QString& menuSkin) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return nullptr;
  auto* tray = new qvTrayIcon(owner, icon, menuSkin);
  tray->icon_.show();
  return tray;
}

void qvTrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason, const QPoint& cursor) {
  if (reason == QSystemTrayIcon::DoubleClick) {
    owner_->Activate();
  } else if (reason == QSystemTrayIcon::Context) {
    // One menu at a time: a context click while it is open moves it.
    if (menu_) menu_->ShowAt(cursor);
    else menu_ = CTrayMenu::Open(owner_, menuSkin_, cursor);
  }
}
