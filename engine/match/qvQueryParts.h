// A query taken apart for a search in the extended modes: the "regex:"
// and "case:" prefixes, the terms holding "/" (tested against the item's
// path) and the rest (tested against its name).
#pragma once

#include <vector>

#include "qvMatchOptions.h"
#include "qvTypes.h"

struct qvQueryParts {
  bool regex = false;
  bool matchCase = false;
  // The regular expression, when regex is set; the rest is empty then.
  qvString pattern;
  // The name terms, space-separated, ready for the pattern set.
  qvString nameQuery;
  std::vector<qvString> pathTerms;
  // Some path term holds "*" or "?".
  bool pathWildcards = false;
};

// Reads at most the first 1023 units of the zero-terminated query.
qvQueryParts qvSplitQuery(const qvChar* query, const qvMatchOptions& options);
