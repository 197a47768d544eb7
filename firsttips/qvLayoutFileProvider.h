// Desktop icons read from the GTK desktop's layout files (see
// qvDesktopItemsFile.h). Only items the user has placed by hand are in
// those files; the rest are laid out by the desktop at run time and are
// seen by the accessibility provider instead.
#pragma once

#include <QSize>
#include <QStringList>

#include "qvDesktopIcon.h"

class qvLayoutFileProvider : public qvDesktopIconProvider {
 public:
  // The files hold positions only. An item of a one-line label measured
  // 82 to 110 pixels wide and 80 high on that desktop with its default
  // 48-pixel icons; the bubble points at the right edge of this size.
  static constexpr QSize kItemSize{94, 80};

  // profileDir: the folder with "desktop-items-N.conf"; desktopDir: the
  // desktop folder; screens: screen N's geometry at index N; languages:
  // for the launchers' names (see LocaleLanguages).
  qvLayoutFileProvider(QString profileDir, QString desktopDir, std::vector<QRect> screens,
                       QStringList languages);

  QString Name() const override { return QStringLiteral("layout-file"); }
  // Nothing when no screen has a layout file. Items whose file is gone
  // from the desktop folder are left out.
  std::optional<std::vector<DesktopIcon>> ReadIcons() override;

 private:
  QString LabelOf(const QString& fileName) const;

  QString profileDir_;
  QString desktopDir_;
  std::vector<QRect> screens_;
  QStringList languages_;
};
