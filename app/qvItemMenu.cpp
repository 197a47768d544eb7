#include "qvItemMenu.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>

#include "qvRowTargets.h"
#include "qvUtils.h"

namespace {

QString ToQString(const qvString& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }

void Open(const qvOpenTarget& target) {
  if (target.kind == qvOpenTarget::kShortcut) qvUtils::QV_OpenShortCut(target.path.c_str());
  else if (target.kind == qvOpenTarget::kFile) qvUtils::QV_OpenFile(target.path.c_str());
}

void Copy(const QString& text) { QApplication::clipboard()->setText(text); }

}  // namespace

QMenu* qvBuildResultMenu(IQvSearch* engine, int row, QWidget* parent, const qvResultMenuActions& actions) {
  qvRowPaths paths = qvGetRowPaths(engine, row);
  if (!paths.valid) return nullptr;
  // Opening from the menu does what a double-click on the name does.
  qvOpenTarget open = qvDoubleClickTarget(engine, row, 0);

  auto* menu = new QMenu(parent);
  menu->setObjectName(QStringLiteral("item_menu"));
  std::function<void()> openItem = actions.open ? actions.open : [open] { Open(open); };
  QAction* openAction = menu->addAction(QString::fromUtf8("打开"), menu, openItem);
  openAction->setObjectName(QStringLiteral("menu_open"));
  menu->setDefaultAction(openAction);
  std::function<void()> openFolder =
      actions.openFolder ? actions.openFolder : [dir = paths.folder] { qvUtils::QV_OpenFile(dir.c_str()); };
  QAction* folder = menu->addAction(QString::fromUtf8("打开所在文件夹"), menu, openFolder);
  folder->setObjectName(QStringLiteral("menu_open_folder"));
  folder->setEnabled(!paths.isRoot);
  menu->addSeparator();
  QAction* copyPath = menu->addAction(QString::fromUtf8("复制路径"), menu, [p = ToQString(paths.full)] { Copy(p); });
  copyPath->setObjectName(QStringLiteral("menu_copy_path"));
  QAction* copyName = menu->addAction(QString::fromUtf8("复制名称"), menu, [n = ToQString(paths.name)] { Copy(n); });
  copyName->setObjectName(QStringLiteral("menu_copy_name"));
  copyName->setEnabled(!paths.name.empty());
  return menu;
}

QMenu* qvBuildVolumeMenu(const QString& root, QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->setObjectName(QStringLiteral("volume_menu"));
  qvString path(reinterpret_cast<const qvChar*>(root.utf16()), static_cast<size_t>(root.size()));
  QAction* open = menu->addAction(QString::fromUtf8("打开"), menu, [path] { qvUtils::QV_OpenFile(path.c_str()); });
  open->setObjectName(QStringLiteral("menu_open"));
  menu->setDefaultAction(open);
  menu->addSeparator();
  QAction* copyPath = menu->addAction(QString::fromUtf8("复制路径"), menu, [root] { Copy(root); });
  copyPath->setObjectName(QStringLiteral("menu_copy_path"));
  return menu;
}
