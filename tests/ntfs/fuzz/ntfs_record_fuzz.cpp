// File records as a table holds them: the input is cut into records of
// 1024 bytes (or the size its first two bytes choose), each fixed up,
// parsed and taken into the entry stream, extension records included.
#include <cstring>
#include <vector>

#include "qvMftReader.h"
#include "qvNtfsRecord.h"
#include "qvNtfsRunList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t recordSize = size_t(512) << (data[0] % 4);
  bool fixUp = data[1] & 1;
  data += 2;
  size -= 2;
  uint64_t names = 0;
  ScanSink sink = [&](const ScanEntry* e, size_t n) {
    for (size_t i = 0; i < n; ++i) names += e[i].nameLength;
  };
  qvMftRecordParser parser(sink);
  std::vector<uint8_t> record(recordSize);
  for (size_t at = 0, number = 0; at < size; at += recordSize, ++number) {
    size_t n = std::min(recordSize, size - at);
    std::memset(record.data(), 0, recordSize);
    std::memcpy(record.data(), data + at, n);
    parser.Take(number, record.data(), recordSize, [&](uint8_t* r) {
      if (fixUp) return ApplyRecordFixups(r, recordSize);
      return std::memcmp(r, "FILE", 4) == 0 ? NtfsFixup::kOk : NtfsFixup::kNotARecord;
    });
    NtfsAttributeWalk walk({record.data(), recordSize});
    NtfsAttribute a;
    while (walk.Next(&a)) {
      std::vector<NtfsRun> runs;
      if (a.nonResident) DecodeRunList(a.mappingPairs, a.firstVcn, 1u << 20, &runs);
    }
  }
  parser.Finish();
  return 0;
}
