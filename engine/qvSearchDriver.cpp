#include "qvSearchDriver.h"

#include "qvFileBaseApp.h"
#include "qvKearchImpl.h"

void RunSearch(qvKearchImpl& engine) {
  if (!engine.ready.load()) return;
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (!app) return;
  app->folderResults.Clear();
  app->fileResults.Clear();
  if (engine.sink) engine.sink->OnStatus(-1, "");
  if (engine.listWindow) {
    engine.listWindow->SetItemCount(0);
    engine.listWindow->RedrawItems();
  }
}
