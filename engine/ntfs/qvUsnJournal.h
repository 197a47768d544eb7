// A volume's change journal, $Extend\$UsnJrnl: its identity and valid
// range from the $Max stream, and the records of its $J stream read
// through $J's run list (the sparse part before the lowest valid USN is
// never read).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "qvNtfsRunList.h"
#include "qvNtfsVolume.h"
#include "qvUsnRecords.h"

struct UsnJournalInfo {
  bool present = false;
  uint64_t record = 0;  // the $UsnJrnl file record
  uint64_t journalId = 0;
  int64_t lowestValidUsn = 0;
  int64_t nextUsn = 0;  // the $J stream's size: where the next record goes
  uint64_t maximumSize = 0;
  std::vector<NtfsRun> runs;  // $J
  uint64_t initializedSize = 0;
};

// Finds the journal among the entries of $Extend. False when the volume has
// none (never enabled, or deleted) or it cannot be read.
bool FindUsnJournal(const qvNtfsVolume& volume, UsnJournalInfo* info);

// Reads the records from `fromUsn` to the end of $J in order.
bool ReadUsnJournal(const qvNtfsVolume& volume, const UsnJournalInfo& info, int64_t fromUsn,
                    const std::function<void(const UsnRecord&)>& visit, UsnWalkStats* stats = nullptr);
