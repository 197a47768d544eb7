// libFuzzer target for the cut of the file records in two: the input is
// a file records section (after a two-byte record count and a byte that
// sets where the cut is sought), read against folders starting every 16
// bytes of the first block. Read whole and read as the two runs of the
// cut, the records must come out the same, and a refusal must give the
// reason the whole read gives.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qvFileRecordRuns.h"
#include "qvHeap.h"
#include "qvMemoryPool.h"
#include "qvRecordList.h"
#include "qvRecords.h"

namespace {

using Code = qvStatus::Code;

[[noreturn]] void Wrong(const char* what) {
  std::fprintf(stderr, "the cut read differs from the whole read: %s\n", what);
  std::abort();
}

bool SameRecord(const uint8_t* a, const uint8_t* b) {
  size_t length = FileRecord::NameLength(a);
  return FileRecord::Flags(a) == FileRecord::Flags(b) && FileRecord::Parent(a) == FileRecord::Parent(b) &&
         length == FileRecord::NameLength(b) && std::memcmp(FileRecord::Name(a), FileRecord::Name(b), length) == 0 &&
         (!FileRecord::HasExtension(a) || FileRecord::ExtId(a) == FileRecord::ExtId(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t count = static_cast<uint32_t>(data[0] | (data[1] << 8));
  const double share = data[2] / 255.0;
  static const qvFolderStartIndex* starts = [] {
    auto* s = new qvFolderStartIndex;
    for (uint32_t pos = 0; pos < 1024; pos += 16) s->Add(pos);
    return s;
  }();
  qvHeap heap;
  qvFileRecordRuns::FileRun whole;
  whole.from = 3;
  whole.to = size;
  whole.count = count;
  CMemoryPool wholePool(heap, 0);
  RecordList wholeList(heap);
  Code wholeCode = qvFileRecordRuns::Read(data, whole, *starts, wholePool, wholeList, nullptr);

  qvFileRecordRuns::FileRun first, second;
  if (!qvFileRecordRuns::Split(data, 3, size, count, share, first, second)) return 0;
  if (first.from != 3 || first.to != second.from || second.to != size || first.count + second.count != count)
    Wrong("the runs do not cover the section");
  CMemoryPool pool(heap, 0), secondPool(heap, 0);
  RecordList list(heap), secondList(heap);
  Code firstCode = qvFileRecordRuns::Read(data, first, *starts, pool, list, nullptr);
  Code secondCode = qvFileRecordRuns::Read(data, second, *starts, secondPool, secondList, nullptr);
  Code cutCode = firstCode != Code::kOk ? firstCode : secondCode;
  if (cutCode != wholeCode) Wrong("the verdict");
  if (wholeCode != Code::kOk) return 0;
  if (!pool.Adopt(secondPool) || !list.TakePages(secondList)) return 0;
  if (list.Count() != wholeList.Count()) Wrong("the record count");
  for (size_t i = 0; i < list.Count(); ++i)
    if (!SameRecord(list.At(i), wholeList.At(i))) Wrong("a record");
  return 0;
}
