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
    PassStoredSearchModes();
    return true;
  }
  void Adopt(IQvSearch* engine) {
    CTempldateHelper<IQvSearch>::Adopt(engine);
    PassStoredExclusions();
    PassStoredSearchModes();
  }

  // Gives `engine` the search box's way of testing names: whole names (or
  // base names), path terms, the "regex:" and "case:" prefixes, and the
  // switches. They apply from the next search.
  static bool PassSearchModes(IQvSearch* engine, const qvConfig::SearchModes& modes) {
    if (!engine) return false;
    auto* setup = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    if (!setup) return false;
    bool ok = setup->SetOption("whole_name", modes.baseName ? "0" : "1");
    ok &= setup->SetOption("path_terms", "1");
    ok &= setup->SetOption("query_prefixes", "1");
    ok &= setup->SetOption("match_case", modes.matchCase ? "1" : "0");
    ok &= setup->SetOption("pinyin", modes.pinyin ? "1" : "0");
    ok &= setup->SetOption("show_hidden", modes.showHidden ? "1" : "0");
    return ok;
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
  void PassStoredSearchModes() {
    if (const qvConfig* config = qvConfig::Instance(); config && GetInterface())
      PassSearchModes(GetInterface(), config->GetSearchModes());
  }
};
