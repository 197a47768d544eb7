#include "qvIconSet.h"

#include <QApplication>
#include <QStandardPaths>
#include <QStyle>

#include "qvIconRegistry.h"

namespace {

QStyle::StandardPixmap FallbackFor(int index) {
  switch (index) {
    case qvIconRegistry::kFolder: return QStyle::SP_DirIcon;
    case qvIconRegistry::kDrive: return QStyle::SP_DriveHDIcon;
    default: return QStyle::SP_FileIcon;
  }
}

}  // namespace

qvIconSet::qvIconSet() {
  // Without a desktop session Qt may know no theme and no place to look
  // for one: use the freedesktop folders, with Adwaita behind the theme.
  QStringList paths = QIcon::themeSearchPaths();
  for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
    if (!paths.contains(data + QLatin1String("/icons"))) paths.append(data + QLatin1String("/icons"));
  QIcon::setThemeSearchPaths(paths);
  if (QIcon::themeName().isEmpty()) QIcon::setThemeName(QStringLiteral("hicolor"));
  QString fallback = QIcon::fallbackThemeName();
  if (fallback.isEmpty() || fallback == QLatin1String("hicolor")) QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
}

QIcon qvIconSet::Icon(int index) {
  auto it = icons_.constFind(index);
  if (it != icons_.constEnd()) return *it;
  QIcon icon = QIcon::fromTheme(QString::fromLatin1(qvIconRegistry::IconName(index)));
  if (icon.isNull()) icon = QApplication::style()->standardIcon(FallbackFor(index));
  icons_.insert(index, icon);
  return icon;
}
