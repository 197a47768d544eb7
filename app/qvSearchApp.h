// The program's run: the single-instance rule, the skin, the main window
// and the event loop, in that order.
#pragma once

#include <QString>

#include "qvTypes.h"

class QApplication;

struct qvAppOptions {
  qvString appFolder;     // ends in '/': the plugin, the skin, the settings
  QString runtimeFolder;  // where the instance lock and socket live
  // Tooling: type `query` once the window is up, save a picture of the
  // window to `screenshotFile` when the result is shown, and close.
  QString screenshotFile;
  QString query;
};

// Runs the program; the exit status. A later start hands over to the
// running one and returns 0 without a window. Returns only after the
// close button's teardown; when the window manager closed the window the
// process ends inside, without it.
int qvRunSearchApp(QApplication& app, const qvAppOptions& options);
