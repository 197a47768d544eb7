// The running desktop as the X server knows it: the window that draws the
// desktop (EWMH type _NET_WM_WINDOW_TYPE_DESKTOP) and the window manager's
// "show the desktop" request. Each call opens its own short connection to
// the display named by $DISPLAY.
#pragma once

#include <QRect>

#include <vector>

struct X11DesktopWindow {
  unsigned long window = 0;
  long pid = 0;    // _NET_WM_PID, 0 when the window does not say
  QRect geometry;  // root-window coordinates
};

// Viewable desktop-type windows among the top-level windows (and their
// children, for window managers that reparent). Empty without an X server.
std::vector<X11DesktopWindow> FindX11DesktopWindows();

enum class ShowDesktopResult { kRequested, kNotSupported, kNoDisplay };

// Asks the window manager to show the desktop (_NET_SHOWING_DESKTOP = 1)
// when it lists that request in _NET_SUPPORTED; without a window manager
// that does, nothing is sent.
ShowDesktopResult ShowDesktopX11();
