#include "CTrayMenu.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QUiLoader>
#include <QVBoxLayout>

#include "qvSearchMainUi.h"

#include <algorithm>

CTrayMenu::CTrayMenu(qvSearchMainUi* owner)
    // A pop-up takes the mouse and keyboard while open, and closes when a
    // press lands outside it.
    : QWidget(owner, Qt::Popup | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      owner_(owner) {
  setObjectName(QStringLiteral("CTrayMenuWnd"));
  setAttribute(Qt::WA_DeleteOnClose);
}

CTrayMenu* CTrayMenu::Open(qvSearchMainUi* owner, const QString& skinFile, const QPoint& point, Placement placement) {
  auto* menu = new CTrayMenu(owner);
  if (!menu->Build(skinFile)) {
    delete menu;
    return nullptr;
  }
  menu->adjustSize();
  if (placement == Placement::kBelow) menu->ShowBelow(point);
  else menu->ShowAt(point);
  return menu;
}

void CTrayMenu::ShowAt(const QPoint& cursor) { ShowWithin(QPoint(cursor.x(), cursor.y() - height()), cursor); }

void CTrayMenu::ShowBelow(const QPoint& point) { ShowWithin(point, point); }

// A tray at the bottom right would otherwise put most of the menu off the
// screen.
void CTrayMenu::ShowWithin(QPoint topLeft, const QPoint& anchor) {
  QScreen* screen = QGuiApplication::screenAt(anchor);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    QRect area = screen->availableGeometry();
    topLeft.setX(std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - width())));
    topLeft.setY(std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - height())));
  }
  move(topLeft);
  show();
  raise();
  activateWindow();
}

bool CTrayMenu::Build(const QString& skinFile) {
  QFile file(skinFile);
  if (!file.open(QIODevice::ReadOnly)) return false;
  // Qt's own classes only: the menu has no custom controls.
  QUiLoader loader;
  QWidget* root = loader.load(&file, this);
  if (!root) return false;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(root);
  for (QAbstractButton* item : root->findChildren<QAbstractButton*>())
    connect(item, &QAbstractButton::clicked, this, [this, item] { Notify(QStringLiteral("itemclick"), item); });
  return true;
}

void CTrayMenu::Notify(const QString& type, QObject* sender) {
  if (type != QLatin1String("itemclick")) return;
  // The owner acts before the menu goes, so it still sees the item.
  if (owner_) owner_->Notify(type, sender);
  close();
}

bool CTrayMenu::event(QEvent* event) {
  if (event->type() == QEvent::WindowDeactivate) close();
  return QWidget::event(event);
}
