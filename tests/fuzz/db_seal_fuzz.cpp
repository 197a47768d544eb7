// libFuzzer target for "seal.db": a parse either fails or gives a seal that
// writes back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "qvDatabaseSeal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qvDbSeal::Seal seal;
  if (!qvDbSeal::Parse(data, size, seal)) return 0;
  uint8_t again[qvDbSeal::kSize];
  qvDbSeal::Build(seal, again);
  if (size != qvDbSeal::kSize || std::memcmp(again, data, size) != 0) std::abort();
  return 0;
}
