#include "CSettingWnd.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLayout>
#include <QMouseEvent>
#include <QPainterPath>
#include <QRegion>
#include <QVBoxLayout>
#include <QWindow>

#include "CQvSearchHelper.h"
#include "qvConfig.h"
#include "qvSearchMainUi.h"
#include "qvSkinArchive.h"
#include "qvSkinCaption.h"
#include "qvSkinLoader.h"
#include "qvUtils.h"

namespace {

bool NameIs(const QObject* sender, const char* name) {
  return sender && sender->objectName() == QLatin1String(name);
}

// Rules are bytes; the list shows them as text and keeps the bytes.
constexpr int kRuleRole = Qt::UserRole;

QString RuleText(const std::string& rule) { return QFile::decodeName(QByteArray::fromStdString(rule)); }

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
  // Laid out now, outer layouts before inner ones, so that the controls
  // sit where they show even before the window is first shown.
  layout->activate();
  QList<QWidget*> laidOut = skinRoot_->findChildren<QWidget*>();
  laidOut.prepend(skinRoot_);
  for (QWidget* w : laidOut)
    if (w->layout()) w->layout()->activate();
  roundCorner_ = RoundCornerOf(skinRoot_);

  for (QAbstractButton* button : skinRoot_->findChildren<QAbstractButton*>())
    if (!button->isCheckable())
      connect(button, &QAbstractButton::clicked, this, [this, button] { Notify(QStringLiteral("click"), button); });

  // Read once: until the next start the box shows what the user last left
  // in it, stored or not.
  autoRun_ = skinRoot_->findChild<QAbstractButton*>(QStringLiteral("option_autorun"));
  if (autoRun_ && config_) autoRun_->setChecked(config_->IsAutoRun());
  baseName_ = skinRoot_->findChild<QAbstractButton*>(QStringLiteral("option_base_name"));
  if (baseName_ && config_) baseName_->setChecked(config_->GetSearchModes().baseName);
  excludeList_ = skinRoot_->findChild<QListWidget*>(QStringLiteral("exclude_list"));
  ShowStoredExclusions();
  return true;
}

void CSettingWnd::ShowStoredExclusions() {
  if (!excludeList_) return;
  excludeList_->clear();
  if (!config_) return;
  for (const std::string& rule : config_->GetExclusions()) {
    auto* item = new QListWidgetItem(RuleText(rule), excludeList_);
    item->setData(kRuleRole, QByteArray::fromStdString(rule));
    item->setToolTip(item->text());
  }
}

std::vector<std::string> CSettingWnd::ListedExclusions() const {
  std::vector<std::string> rules;
  if (!excludeList_) return rules;
  for (int i = 0; i < excludeList_->count(); ++i)
    rules.push_back(excludeList_->item(i)->data(kRuleRole).toByteArray().toStdString());
  return rules;
}

// A folder must be absolute; a name may hold no '/'. Neither may hold a
// line break (the engine takes one rule per line). A rule listed already
// is not listed twice.
void CSettingWnd::AddExclusion(const QString& text) {
  if (!excludeList_) return;
  QString rule = text;
  if (rule.size() > 1 && rule.endsWith(u'/')) rule.chop(1);
  if (rule.isEmpty() || rule.contains(u'\n') || rule.contains(u'\r')) return;
  if (rule.startsWith(u'/') ? rule.contains(QStringLiteral("/./")) || rule.contains(QStringLiteral("/../")) ||
                                  rule.endsWith(QStringLiteral("/.")) || rule.endsWith(QStringLiteral("/.."))
                            : rule.contains(u'/'))
    return;
  QByteArray bytes = QFile::encodeName(rule);
  for (int i = 0; i < excludeList_->count(); ++i)
    if (excludeList_->item(i)->data(kRuleRole).toByteArray() == bytes) return;
  auto* item = new QListWidgetItem(rule, excludeList_);
  item->setData(kRuleRole, bytes);
  item->setToolTip(rule);
  excludeList_->setCurrentItem(item);
}

void CSettingWnd::StoreExclusions() {
  if (!excludeList_) return;
  std::vector<std::string> rules = ListedExclusions();
  if (config_ && config_->GetExclusions() == rules) return;
  if (config_) config_->SetExclusions(rules);
  CQvSearchHelper::PassExclusions(Engine(), rules);
}

// The base-name test is one of the search box's modes; the engine has it
// from the next search on.
void CSettingWnd::StoreSearchModes() {
  if (!baseName_ || !config_) return;
  qvConfig::SearchModes modes = config_->GetSearchModes();
  if (modes.baseName == baseName_->isChecked()) return;
  modes.baseName = baseName_->isChecked();
  config_->SetSearchModes(modes);
  CQvSearchHelper::PassSearchModes(Engine(), modes);
}

IQvSearch* CSettingWnd::Engine() const {
  if (engineSource_) return engineSource_();
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* main = qobject_cast<qvSearchMainUi*>(top); main && main->SettingsWindow() == this) return main->Engine();
  return nullptr;
}

void CSettingWnd::Notify(const QString& type, QObject* sender) {
  if (type != QLatin1String("click")) return;
  if (NameIs(sender, "closebtn")) {
    ShowStoredExclusions();
    hide();
  }
  if (NameIs(sender, "exclude_add_folder")) {
    QString folder = folderPrompt_ ? folderPrompt_()
                                   : QFileDialog::getExistingDirectory(this, QString::fromUtf8("添加要排除的文件夹"));
    AddExclusion(folder);
  }
  if (NameIs(sender, "exclude_add_name")) {
    QString name = namePrompt_ ? namePrompt_()
                               : QInputDialog::getText(this, QString::fromUtf8("添加要排除的名称"),
                                                       QString::fromUtf8("名称（可用 * 和 ? 通配，如 node_modules、*.o）："));
    AddExclusion(name.trimmed());
  }
  if (NameIs(sender, "exclude_remove") && excludeList_) qDeleteAll(excludeList_->selectedItems());
  if (NameIs(sender, "btn_ok")) {
    StoreExclusions();
    StoreSearchModes();
    if (autoRun_) {
      bool enable = autoRun_->isChecked();
      if (config_) config_->SetAutoRun(enable);
      qvUtils::QV_SetAutoStart(enable ? 1 : 0, kAutoStartName);
    }
    if (autoRun_ || excludeList_) hide();
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
