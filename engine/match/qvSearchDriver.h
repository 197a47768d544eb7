// The search driver: compiles a query, runs the scan that fits it and
// tells the sink and the list window the new row count.
#pragma once

#include <cstdint>
#include <string>

#include "qvMatchOptions.h"
#include "qvTypes.h"

class qvIndex;
class CPatternSet;
struct IQvSearchNotify;
struct IQvListWindow;

// The scan a compiled set calls for, in this order of precedence.
enum class qvScanKind { kNone, kFixed, kStar, kMixed, kPlainAscii, kPlainWide };
qvScanKind ChooseScan(const CPatternSet& set);

struct qvSearchRequest {
  qvChar* query;  // compiled in place
  qvChar* extFilter;
  int32_t reset;  // 0: add the hits to the current results
  // The modes of the search; null or designed: the designed search.
  const qvMatchOptions* options = nullptr;
  // Receives why the query was refused (an invalid regular expression),
  // or is cleared.
  std::string* error = nullptr;
};

// Who hears of the new results; either may be null.
struct qvSearchListeners {
  IQvSearchNotify* sink;
  IQvListWindow* list;
};

// Compiles the request into `set`, scans `index` and replaces (or, without
// reset, extends) its results. The caller holds the engine lock, which
// serialises every search.
void RunSearch(qvIndex& index, CPatternSet& set, const qvSearchRequest& request, const qvSearchListeners& listeners);
