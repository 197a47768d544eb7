#include "CSettingWnd.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainterPath>
#include <QRegion>
#include <QVBoxLayout>
#include <QWindow>

#include "qvConfig.h"
#include "qvSkinArchive.h"
#include "qvSkinCaption.h"
#include "qvSkinLoader.h"
#include "qvUtils.h"

namespace {

bool NameIs(const QObject* sender, const char* name) {
  return sender && sender->objectName() == QLatin1String(name);
}

// The form's "roundcorner" property, "width,height" of the corner ellipse.
QSize RoundCornerOf(const QWidget* skin) {
  QStringList parts = skin->property("roundcorner").toString().split(u',');
  if (parts.size() != 2) return {};
  return QSize(parts[0].toInt(), parts[1].toInt());
}

}  // namespace

CSettingWnd::CSettingWnd(const qvConfig* config, QWidget* parent) : QWidget(parent), config_(config) {
  setObjectName(QStringLiteral("SettingWnd"));
  // The title bar is the form's own.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setWindowTitle(QString::fromUtf8("设置"));
}

bool CSettingWnd::Create(const qvSkinArchive& skin) {
  qvSkinLoader loader(skin, false);
  skinRoot_ = loader.Build("setting.xml", this);
  if (!skinRoot_) return false;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(skinRoot_);
  if (std::optional<std::string> sheet = skin.Find("skin.qss")) setStyleSheet(QString::fromStdString(*sheet));
  resize(skinRoot_->size());
  roundCorner_ = RoundCornerOf(skinRoot_);

  for (QAbstractButton* button : skinRoot_->findChildren<QAbstractButton*>())
    if (!button->isCheckable())
      connect(button, &QAbstractButton::clicked, this, [this, button] { Notify(QStringLiteral("click"), button); });

  // Read once: until the next start the box shows what the user last left
  // in it, stored or not.
  autoRun_ = skinRoot_->findChild<QAbstractButton*>(QStringLiteral("option_autorun"));
  if (autoRun_ && config_) autoRun_->setChecked(config_->IsAutoRun());
  return true;
}

void CSettingWnd::Notify(const QString& type, QObject* sender) {
  if (type != QLatin1String("click")) return;
  if (NameIs(sender, "closebtn")) hide();
  if (NameIs(sender, "btn_ok") && autoRun_) {
    bool enable = autoRun_->isChecked();
    if (config_) config_->SetAutoRun(enable);
    qvUtils::QV_SetAutoStart(enable ? 1 : 0, kAutoStartName);
    hide();
  }
}

void CSettingWnd::closeEvent(QCloseEvent* event) {
  // The main window keeps using this window: never let it go.
  event->ignore();
  hide();
}

void CSettingWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ApplyRoundCorner();
}

void CSettingWnd::ApplyRoundCorner() {
  if (roundCorner_.isNull() || isMinimized()) return;
  QPainterPath path;
  path.addRoundedRect(QRectF(0, 0, width() + 1, height() + 1), roundCorner_.width() / 2.0,
                      roundCorner_.height() / 2.0);
  setMask(QRegion(path.toFillPolygon().toPolygon()));
}

bool CSettingWnd::InCaption(const QPoint& pos) const {
  if (!qvInSkinCaption(this, skinRoot_, pos)) return false;
  QWidget* under = childAt(pos);
  return under && !qobject_cast<QAbstractButton*>(under);
}

void CSettingWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && InCaption(event->position().toPoint())) {
    // The window manager moves the window where it can; otherwise we do.
    if (!windowHandle() || !windowHandle()->startSystemMove()) {
      dragging_ = true;
      dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void CSettingWnd::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) {
    move(event->globalPosition().toPoint() - dragOffset_);
    event->accept();
    return;
  }
  QWidget::mouseMoveEvent(event);
}

void CSettingWnd::mouseReleaseEvent(QMouseEvent* event) {
  dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}
