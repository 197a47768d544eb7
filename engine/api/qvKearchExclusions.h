// The engine's share of the exclusion rules: the rules in force, and the
// rules the index obeys now (they differ while a change is being applied
// or while the start has not caught up with a change made during it).
#pragma once

#include <memory>
#include <mutex>

#include "qvExclusions.h"

struct qvEngineExclusions {
  qvExclusionHolder rules;                      // in force; any thread
  std::mutex changing;                          // one change applied at a time
  std::shared_ptr<const qvExclusions> applied;  // what the index obeys; null before the first scan or load
};
