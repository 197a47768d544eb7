// A stand-in engine plugin for the binding tests. QV_FAKE_ENGINE picks
// what CreateObjcet does: "null" refuses, "throw_text" / "throw_string"
// throw a text ("throw_long" a long one), "throw_other" throws something else; otherwise it returns
// an object when asked for IID_IQvSearch at version 1.1.1.0. Each Release
// is counted in qvFakeReleases.
#include <cstdlib>
#include <cstring>

#include "IQvSearch.h"

extern "C" {
__attribute__((visibility("default"))) int qvFakeReleases = 0;
}

namespace {

class FakeEngine : public IQvSearch {
 public:
  void Release() override { ++qvFakeReleases; }
  IUnknownEx* QueryInterface(const qvGUID*, uint32_t) override { return nullptr; }
  int32_t Initialize(IQvSearchNotify*) override { return 0; }
  void Search(const qvChar*, const qvChar*, int32_t) override {}
  void SetListWindow(IQvListWindow*) override {}
  int32_t GetItemDetails(ItemDetails*, int32_t) override { return 0; }
  int32_t GetItemText(int32_t, qvChar*, qvChar*, qvChar*) override { return 0; }
  int32_t GetFolderResultCount() override { return 0; }
  int32_t GetFileResultCount() override { return 0; }
};

FakeEngine g_engine;

bool Mode(const char* name) {
  const char* mode = std::getenv("QV_FAKE_ENGINE");
  return mode && std::strcmp(mode, name) == 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) IQvSearch* CreateObjcet(const qvGUID* iid, uint32_t version) {
  if (Mode("null")) return nullptr;
  if (Mode("throw_text")) throw static_cast<const qvChar*>(u"磁盘已满");
  if (Mode("throw_string")) throw qvString(u"内存不足");
  if (Mode("throw_long")) throw qvString(200, u'x');
  if (Mode("throw_other")) throw 42;
  if (!iid || !IsEqualQvGUID(*iid, IID_IQvSearch) || version != QV_SEARCH_VERSION) return nullptr;
  return &g_engine;
}
