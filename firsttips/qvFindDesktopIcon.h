// Finding a desktop icon by its label.
#pragma once

#include <span>

#include "qvDesktopIcon.h"

struct FoundIcon {
  DesktopIcon icon;
  qsizetype index = 0;  // its place in the desktop's list
  QString provider;     // the source that saw it
};

// Asks the providers in their order; the first one that sees a desktop
// decides. The label must equal an icon's label exactly (letter case and
// length); among equal labels the lowest index wins. An empty label finds
// nothing and asks no provider.
std::optional<FoundIcon> FindDesktopIcon(const QString& label,
                                         std::span<qvDesktopIconProvider* const> providers);

// The lowest index whose label equals label exactly, if any.
std::optional<qsizetype> FindLabel(const std::vector<DesktopIcon>& icons, const QString& label);
