#include "qvSearchApp.h"

#include <unistd.h>

#include <QApplication>

#include <cstdio>

#include "CWndShadow.h"
#include "qvNameCodec.h"
#include "qvScreenshot.h"
#include "qvSearchMainUi.h"
#include "qvSingleInstance.h"
#include "qvSkinArchive.h"

namespace {
// How long a later start waits for the first one's window to appear.
constexpr int kHandoffTimeoutMs = 10000;
}  // namespace

int qvRunSearchApp(QApplication& app, const qvAppOptions& options) {
  qvSingleInstance instance(options.runtimeFolder);
  if (!instance.Acquire() && instance.ActivateFirst(kHandoffTimeoutMs) != qvSingleInstance::Handoff::kBecameFirst)
    return 0;

  qvSkinArchive skin;
  std::string skinPath = qvNameCodec::EncodeToString(options.appFolder) + "skin.dat";
  if (!skin.Load(skinPath)) {
    std::fprintf(stderr, "qvSearchApp: cannot read the skin %s\n", skinPath.c_str());
    return 1;
  }

  CWndShadow::Initialize();

  qvSearchMainUi window(options.appFolder);
  if (!window.Create(skin)) {
    std::fprintf(stderr, "qvSearchApp: the skin %s has no usable main window form\n", skinPath.c_str());
    return 1;
  }

  instance.Publish();
  QObject::connect(&instance, &qvSingleInstance::activationRequested, &window, &qvSearchMainUi::Activate);
  QObject::connect(&window, &qvSearchMainUi::quitRequested, &app, [&app] { app.exit(0); });

  window.show();
  window.raise();
  window.activateWindow();

  int status = 0;
  if (!options.screenshotFile.isEmpty())
    qvScheduleScreenshot(window, options.query, options.screenshotFile, &status);

  app.exec();
  if (!window.TornDown()) {
    // Ended by the window manager: the process goes without releasing the
    // engine, as the running threads and the unsaved index are left.
    std::fflush(nullptr);
    _exit(status);
  }
  return status;
}
