// Live changes as change-journal records, and the apply step that turns
// each record into an edit of the index. Depends on no operating-system
// service: a change journal read from a volume feeds it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvTypes.h"

constexpr uint32_t USN_REASON_FILE_CREATE = 0x00000100;
constexpr uint32_t USN_REASON_FILE_DELETE = 0x00000200;
constexpr uint32_t USN_REASON_RENAME_OLD_NAME = 0x00001000;
constexpr uint32_t USN_REASON_RENAME_NEW_NAME = 0x00002000;
constexpr uint32_t USN_REASON_CLOSE = 0x80000000;

struct JournalRecord {
  uint32_t reason;
  uint32_t attributes;  // QV_ATTR_DIRECTORY for a folder
  uint64_t fileRef;
  uint64_t parentRef;
  const qvChar* name;  // not terminated
  uint32_t nameLength;
};

class qvIndex;
class CPatternSet;

// Applies one record to volume `slot`. A folder's old-name record leaves
// it in the index's renamed-folder slot until its new-name record comes.
// Returns true when the record was applied (not ignored).
bool ApplyJournalRecord(qvIndex& index, uint32_t slot, const JournalRecord& record);

// Applies the records of one batch in order. Returns true when a search
// is due: some applied record's whole name matches `query`.
bool ApplyJournalBatch(qvIndex& index, const CPatternSet& query, uint32_t slot, const JournalRecord* records,
                       size_t count);
