// Change-journal records: versions 2, 3 and 4, padding and lying lengths.
#include "qvUsnRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t units = 0;
  WalkUsnRecords(data, size, [&](const UsnRecord& r) {
    for (char16_t c : r.name) units += c;
  });
  return 0;
}
