// Desktop icons read over the accessibility bus: the application that owns
// the X desktop window exposes its icon view, and each icon is an
// accessible child with its label as name and its screen extents.
#pragma once

#include "qvDesktopIcon.h"

class qvAtspiProvider : public qvDesktopIconProvider {
 public:
  QString Name() const override { return QStringLiteral("accessibility"); }
  // Nothing when there is no X desktop window, no reachable accessibility
  // bus, or the desktop's owner is not on the bus.
  std::optional<std::vector<DesktopIcon>> ReadIcons() override;
};

// True when a bus for the accessibility library can be reached. The
// library aborts the process when it finds none, so it is started only
// after this says yes.
bool AccessibilityBusReachable();
