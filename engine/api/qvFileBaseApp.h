// The single owner of the index inside the engine: the index (store/) and
// the compiled query of the last search. Reached through qvSingleton.
#pragma once

#include "qvIndex.h"
#include "qvPatternSet.h"
#include "qvSingleton.h"

class qvFileBaseApp : public qvIndex, public qvSingleton<qvFileBaseApp> {
 public:
  qvFileBaseApp();
  ~qvFileBaseApp() override;

  CPatternSet patternSet;
};
