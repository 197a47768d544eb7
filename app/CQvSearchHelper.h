// The engine binding of the search window: "qvBaseModule.so" from the
// application folder, its "CreateObjcet" export, version 1.1.1.0.
#pragma once

#include "CTempldateHelper.h"
#include "IQvSearch.h"

class CQvSearchHelper : public CTempldateHelper<IQvSearch> {
 public:
  static constexpr const char16_t* kLibraryName = u"qvBaseModule.so";

  explicit CQvSearchHelper(const qvString& appFolder)
      : CTempldateHelper<IQvSearch>(&IID_IQvSearch, QV_SEARCH_VERSION, "CreateObjcet", kLibraryName, appFolder) {}
  ~CQvSearchHelper() override { UnbindEngine(); }
};
