// The window-shadow facility. It is set up once per process before the
// main window exists; the main window keeps a descriptor for its whole
// life, but no shadow window is ever attached, so nothing is drawn.
#pragma once

class CWndShadow {
 public:
  CWndShadow() = default;
  virtual ~CWndShadow() = default;

  // True the first time in a process; later calls change nothing.
  static bool Initialize();
  static bool IsInitialized();
};
