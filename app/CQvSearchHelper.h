// The engine binding of the search window: "qvBaseModule.so" from the
// application folder, its "CreateObjcet" export, version 1.1.1.0.
#pragma once

#include <string>
#include <vector>

#include "CTempldateHelper.h"
#include "IQvSearch.h"
#include "qvConfig.h"

class CQvSearchHelper : public CTempldateHelper<IQvSearch> {
 public:
  static constexpr const char16_t* kLibraryName = u"qvBaseModule.so";

  explicit CQvSearchHelper(const qvString& appFolder)
      : CTempldateHelper<IQvSearch>(&IID_IQvSearch, QV_SEARCH_VERSION, "CreateObjcet", kLibraryName, appFolder) {}
  ~CQvSearchHelper() override { UnbindEngine(); }

  // Binding (or adopting) the engine also hands it the exclusion rules of
  // the program's settings, before it starts.
  bool BindEngine() {
    if (!CTempldateHelper<IQvSearch>::BindEngine()) return false;
    PassStoredExclusions();
    return true;
  }
  void Adopt(IQvSearch* engine) {
    CTempldateHelper<IQvSearch>::Adopt(engine);
    PassStoredExclusions();
  }

  // Gives `engine` the rules, one per line; false without an engine or
  // when it refuses them.
  static bool PassExclusions(IQvSearch* engine, const std::vector<std::string>& rules) {
    if (!engine) return false;
    auto* setup = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    if (!setup) return false;
    std::string text;
    for (const std::string& rule : rules) text += rule + '\n';
    return setup->SetOption("exclude", text.c_str());
  }

 private:
  void PassStoredExclusions() {
    if (const qvConfig* config = qvConfig::Instance(); config && GetInterface())
      PassExclusions(GetInterface(), config->GetExclusions());
  }
};
