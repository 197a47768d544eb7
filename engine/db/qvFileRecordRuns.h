// The file records section of "ntfsqs.db", read as one run or cut into
// two runs that two threads read at once.
//
// A record's name takes its first bytes from the record before it, and
// nothing marks where a record starts, so the cut is found by walking the
// records' lengths from the section's start; the walk keeps the name of
// the record before the cut for the second run to begin with. A run reads
// exactly the records the one-thread read would read at the same places,
// with the same checks, so the two runs together find what one would.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvDatabaseFormat.h"
#include "qvDatabaseStartIndex.h"
#include "qvStatus.h"

class CMemoryPool;
class RecordList;

namespace qvFileRecordRuns {

// Sections of fewer records are read on one thread: a thread costs more
// than it saves there.
constexpr uint32_t kSplitFrom = 1u << 16;

// A run of `count` records at [from, to) of the file, and the name of the
// record before it.
struct FileRun {
  size_t from = 0;
  size_t to = 0;
  uint32_t count = 0;
  uint32_t prevLength = 0;
  uint8_t prevName[qvDbFormat::kLengthFieldMax] = {};
};

// Told, once per qvSealCheck::kStep of the file at most, that the reader
// will not read the bytes before `at` again.
class Progress {
 public:
  virtual void Passed(size_t at) = 0;
  // Whether the reader should give up (the other run failed): checked as
  // often as Passed is called.
  virtual bool Stopped() const { return false; }

 protected:
  ~Progress() = default;
};

// Cuts the `count` records of [from, end) at the first record starting
// at or after `share` of the way: `first` and `second` then cover them
// all. False, leaving both alone, when a length runs out or breaks the
// rules before the cut (the one-thread read finds and reports the fault)
// or when no record starts after the point. `progress`, when given, hears
// how far the walk went.
bool Split(const uint8_t* data, size_t from, size_t end, uint32_t count, double share, FileRun& first,
           FileRun& second, Progress* progress = nullptr);

// Reads the run's records into `pool` and `list`: each record is checked
// as the saver writes it (flags that agree with its lengths and extension
// id, a parent where a folder record starts, a well-formed name) and must
// end inside the run; the run must end where its last record does.
// Returns kOk, kNoMemory, kBadFileRecord or kBadName; kBadFileRecord too
// when `progress` said stop, a verdict nobody reports: the other run's
// reason is the one.
qvStatus::Code Read(const uint8_t* data, const FileRun& run, const qvFolderStartIndex& starts, CMemoryPool& pool,
                    RecordList& list, Progress* progress);

}  // namespace qvFileRecordRuns
