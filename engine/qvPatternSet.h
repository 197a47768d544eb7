// A compiled query. (Filled in by the matcher.)
#pragma once

#include "qvHeap.h"

class CPatternSet {
 public:
  explicit CPatternSet(qvHeap& heap) : heap_(heap) {}
  void Clear() {}

 private:
  [[maybe_unused]] qvHeap& heap_;
};
