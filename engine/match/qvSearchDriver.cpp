#include "qvSearchDriver.h"

#include "qvExtFilter.h"
#include "qvExtendedScan.h"
#include "IQvSearch.h"
#include "qvIndex.h"
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
void ShowNoResult(qvIndex& index, const qvSearchListeners& to) {
  index.folderResults.Clear();
  index.fileResults.Clear();
  if (to.sink) to.sink->OnStatus(-1, "");
  if (to.list) {
    to.list->SetItemCount(0);
    to.list->RedrawItems();
  }
}

void ReportRows(const qvIndex& index, const qvSearchListeners& to) {
  size_t total = index.folderResults.Count() + index.fileResults.Count();
  int32_t rows = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
  if (to.sink) to.sink->OnStatus(rows, nullptr);
  if (to.list) to.list->SetItemCount(rows);
}

}  // namespace

namespace {

// A search in the extended modes; the outcomes are reported as the
// designed search reports them, and a refused pattern says why in the
// status line. Returns whether a query is set that items can match.
bool RunExtendedSearch(qvIndex& index, CPatternSet& set, const qvSearchRequest& request,
                       const qvSearchListeners& to) {
  qvExtFilter filter;
  bool filtered = filter.Build(request.extFilter, index.extTable);
  bool noKnownExtension = filtered && filter.Count() == 0;
  qvExtendedScan scan(index);
  qvExtendedScan::Outcome outcome = scan.Prepare(set, request.query, *request.options);
  if (outcome == qvExtendedScan::Outcome::kInvalid) {
    ShowNoResult(index, to);
    if (request.error) *request.error = scan.Error();
    if (to.sink) to.sink->OnStatus(-1, "正则表达式无效：%s", scan.Error().c_str());
    return false;
  }
  bool ready = outcome == qvExtendedScan::Outcome::kReady;
  if (ready && noKnownExtension && !request.reset) {
    ReportRows(index, to);
    return true;
  }
  if (!ready || noKnownExtension) {
    ShowNoResult(index, to);
    return ready;
  }
  if (request.reset) {
    index.folderResults.Reset();
    index.fileResults.Reset();
  }
  scan.Scan(set, filtered ? &filter : nullptr);
  ReportRows(index, to);
  return true;
}

}  // namespace

void RunSearch(qvIndex& index, CPatternSet& set, const qvSearchRequest& request, const qvSearchListeners& to) {
  ++index.generation;
  if (request.error) request.error->clear();
  if (request.options && !request.options->Designed()) {
    set.SetEveryChangeDue(RunExtendedSearch(index, set, request, to));
    return;
  }
  set.SetEveryChangeDue(false);
  qvExtFilter filter;
  bool filtered = filter.Build(request.extFilter, index.extTable);
  bool compiled = set.CompileQuery(request.query);
  bool noKnownExtension = filtered && filter.Count() == 0;
  // A call that adds to the result (a category's second extension, say)
  // and names no extension the index knows adds nothing: the union built
  // by the earlier calls stays.
  if (compiled && noKnownExtension && !request.reset) {
    ReportRows(index, to);
    return;
  }
  if (!compiled || noKnownExtension) {
    ShowNoResult(index, to);
    return;
  }
  if (request.reset) {
    index.folderResults.Reset();
    index.fileResults.Reset();
  }

  const qvExtFilter* ids = filtered ? &filter : nullptr;
  switch (ChooseScan(set)) {
    case qvScanKind::kFixed: ScanFixed(index, set, ids); break;
    case qvScanKind::kStar: ScanStar(index, set, ids); break;
    case qvScanKind::kMixed: ScanMixed(index, set, ids); break;
    case qvScanKind::kPlainAscii: ScanPlainAscii(index, set, ids); break;
    case qvScanKind::kPlainWide: ScanPlainWide(index, set, ids); break;
    case qvScanKind::kNone: break;
  }

  ReportRows(index, to);
}
