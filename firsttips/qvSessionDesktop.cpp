#include "qvSessionDesktop.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>

#include "qvAtspiProvider.h"
#include "qvDesktopItemsFile.h"
#include "qvLayoutFileProvider.h"
#include "qvX11Desktop.h"

namespace {

QString LayoutProfileDir() {
  const QString base = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                           .filePath(QStringLiteral("pcmanfm"));
  QStringList profiles;
  const QString session = qEnvironmentVariable("DESKTOP_SESSION");
  if (!session.isEmpty() && !session.contains(QLatin1Char('/'))) profiles << session;
  profiles << QStringLiteral("default");
  for (const QString& profile : profiles) {
    const QString dir = QDir(base).filePath(profile);
    if (QFileInfo::exists(QDir(dir).filePath(QStringLiteral("desktop-items-0.conf")))) return dir;
  }
  return QDir(base).filePath(QStringLiteral("default"));
}

QString MessagesLocale() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty()) return value;
  }
  return QString();
}

}  // namespace

std::vector<std::unique_ptr<qvDesktopIconProvider>> SessionIconProviders() {
  std::vector<QRect> screens;
  for (const QScreen* screen : QGuiApplication::screens()) screens.push_back(screen->geometry());
  std::vector<std::unique_ptr<qvDesktopIconProvider>> providers;
  providers.push_back(std::make_unique<qvAtspiProvider>());
  providers.push_back(std::make_unique<qvLayoutFileProvider>(
      LayoutProfileDir(), QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
      std::move(screens), LocaleLanguages(MessagesLocale())));
  return providers;
}

void ShowSessionDesktop() {
  if (QGuiApplication::platformName() == QLatin1String("xcb")) ShowDesktopX11();
}
