// The running session's desktop: its icon sources, in the order they are
// tried, and the way to show it.
#pragma once

#include <memory>
#include <vector>

#include "qvDesktopIcon.h"

// The accessibility bus first (it sees every icon of a running desktop
// with its real extents), then the GTK desktop's layout files of the
// profile named by $DESKTOP_SESSION or the "default" profile.
std::vector<std::unique_ptr<qvDesktopIconProvider>> SessionIconProviders();

// Shows the desktop through the X server's window manager. Wayland
// compositors offer clients no such request, so there nothing happens.
void ShowSessionDesktop();
