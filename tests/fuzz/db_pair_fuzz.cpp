// libFuzzer target for the database pair: the input is a "ntfsqs.db" and
// an "ext.db" (a u32 length of the first, then both). The index's own
// volume table is taken as what discovery found, so that inputs reach the
// sections and then the dictionary. Whatever is taken must hold together;
// whatever is refused leaves empty tables and gives a reason.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "database_fixture.h"
#include "fuzz_discovery.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qvFileBaseApp* app = [] {
    auto* a = new qvFileBaseApp();
    a->extTable.Reset();
    return a;
  }();
  if (size < 4) return 0;
  uint32_t indexSize;
  std::memcpy(&indexSize, data, 4);
  if (indexSize > size - 4) return 0;
  const uint8_t* index = data + 4;
  const uint8_t* ext = index + indexSize;
  size_t extSize = size - 4 - indexSize;
  DiscoverFromInput(*app, index, indexSize);
  qvStatus status = qvDatabase::LoadIndexImage(*app, index, indexSize);
  if (status.ok()) status = qvDatabase::LoadExtImage(*app, ext, extSize);
  if (status.ok()) {
    if (!dbtest::CheckLoaded(*app, true).empty()) Fail("loaded tables do not hold together");
  } else {
    if (!dbtest::TablesEmpty(*app)) Fail("a refused load left records behind");
    if (status.text().empty()) Fail("a refusal without a reason");
  }
  app->ClearIndex();
  return 0;
}
