#include "qvSearchDriver.h"

#include "qvExtFilter.h"
#include "qvFileBaseApp.h"
#include "qvKearchImpl.h"
#include "qvPatternSet.h"
#include "qvScans.h"

qvScanKind ChooseScan(const CPatternSet& set) {
  if (set.Fixed()) return qvScanKind::kFixed;
  if (set.Star()) return qvScanKind::kStar;
  if (set.Mixed()) return qvScanKind::kMixed;
  if (set.Plain()) return set.AsciiOnly() ? qvScanKind::kPlainAscii : qvScanKind::kPlainWide;
  return qvScanKind::kNone;
}

namespace {

// No name can match: the list is emptied and the status line cleared.
void ShowNoResult(qvKearchImpl& engine, qvFileBaseApp& app) {
  app.folderResults.Clear();
  app.fileResults.Clear();
  if (engine.sink) engine.sink->OnStatus(-1, "");
  if (engine.listWindow) {
    engine.listWindow->SetItemCount(0);
    engine.listWindow->RedrawItems();
  }
}

}  // namespace

void RunSearch(qvKearchImpl& engine) {
  if (!engine.ready.load()) return;
  qvFileBaseApp* app = qvFileBaseApp::Instance();
  if (!app) return;

  qvExtFilter filter;
  bool filtered = filter.Build(engine.extFilter, app->extTable);
  CPatternSet& set = app->patternSet;
  if (!set.CompileQuery(engine.query) || (filtered && filter.Count() == 0)) {
    ShowNoResult(engine, *app);
    return;
  }
  if (engine.resetFlag) {
    app->folderResults.Reset();
    app->fileResults.Reset();
  }

  const qvExtFilter* ids = filtered ? &filter : nullptr;
  switch (ChooseScan(set)) {
    case qvScanKind::kFixed: ScanFixed(*app, set, ids); break;
    case qvScanKind::kStar: ScanStar(*app, set, ids); break;
    case qvScanKind::kMixed: ScanMixed(*app, set, ids); break;
    case qvScanKind::kPlainAscii: ScanPlainAscii(*app, set, ids); break;
    case qvScanKind::kPlainWide: ScanPlainWide(*app, set, ids); break;
    case qvScanKind::kNone: break;
  }

  size_t total = app->folderResults.Count() + app->fileResults.Count();
  int32_t rows = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
  if (engine.sink) engine.sink->OnStatus(rows, nullptr);
  if (engine.listWindow) engine.listWindow->SetItemCount(rows);
}
