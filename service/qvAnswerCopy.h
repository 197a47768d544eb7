// One answer of the engine read whole and untorn: the search run, the rows
// copied out in bounded batches (each one hold of the engine lock), with
// their details when asked, then ordered and cut to the page asked for.
#pragma once

#include <cstdint>
#include <vector>

#include "IQvSearch.h"
#include "qvServiceProtocol.h"

struct qvAnswer {
  uint64_t folders = 0;  // rows of the answer the match keeps, before
  uint64_t files = 0;    // the offset and the limit
  std::vector<qvService::Row> rows;
};

// Runs `request` on the engine and reads its answer into `out`. A change
// that replaces the answer while it is read starts the reading over, with
// the search run again (another caller may have searched meanwhile). False
// when no steady answer came after many tries.
bool CopyAnswer(IQvSearch* engine, IQvSearchResults* results, const qvService::SearchRequest& request, qvAnswer* out);

// Puts rows in the order asked for: folders stay before files, each group
// ordered on its own; equal keys keep the engine's order.
void SortRows(std::vector<qvService::Row>* rows, uint8_t column, bool reverse);
