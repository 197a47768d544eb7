// libFuzzer target for the index loader: the input is the contents of a
// "ntfsqs.db". The input's own volume table is taken as what discovery
// found, so that inputs get past the currency test into the sections. A
// load that succeeds must leave tables that hold together.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "database_fixture.h"
#include "fuzz_discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qvFileBaseApp* app = [] {
    auto* a = new qvFileBaseApp();
    a->extTable.Reset();
    return a;
  }();
  DiscoverFromInput(*app, data, size);
  if (qvDatabase::LoadIndexImage(*app, data, size).ok()) {
    std::string wrong = dbtest::CheckLoaded(*app, false);
    if (!wrong.empty()) {
      std::fprintf(stderr, "loaded tables do not hold together: %s\n", wrong.c_str());
      std::abort();
    }
  } else if (!dbtest::TablesEmpty(*app)) {
    std::fprintf(stderr, "a refused load left records behind\n");
    std::abort();
  }
  return 0;
}
