// The one export of the engine library.
#include <new>

#include "IQvSearch.h"
#include "qvAppFolders.h"
#include "qvFileBaseApp.h"
#include "qvKearchImpl.h"
#include "qvPath.h"

extern "C" __attribute__((visibility("default"))) IQvSearch* CreateObjcet(const qvGUID* iid,
                                                                          uint32_t version) {
  // One index per process.
  if (qvFileBaseApp::Instance()) return nullptr;
  qvFileBaseApp* app = nullptr;
  qvKearchImpl* engine = nullptr;
  try {
    app = new qvFileBaseApp();
    app->extTable.Reset();
    app->dataFolder = qvAppFolders::Locate(qvPath::GetAppPath()).dataFolder;
    engine = new qvKearchImpl();
    if (IUnknownEx* found = engine->QueryInterface(iid, version); found == engine)
      return engine;
  } catch (...) {
  }
  delete engine;
  delete app;
  return nullptr;
}
