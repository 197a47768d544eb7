// Live changes as change-journal records, and their application to the
// record store. Depends on no operating-system service: the Linux monitor
// turns file-system events into these records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

class qvKearchImpl;
class qvFileBaseApp;

// Applies the records of one batch to volume `slot`, in order, and runs
// the search again once when any applied record's name matches the
// current query. The caller holds the engine lock.
void ApplyJournalBatch(qvKearchImpl& engine, uint32_t slot, const JournalRecord* records, size_t count);

// Applies one record; returns true when it was applied (not ignored) and
// its whole name matches the current query, so that a search is due.
bool ApplyJournalRecord(qvKearchImpl& engine, uint32_t slot, const JournalRecord& record);

// Takes folder `folderNumber` of volume `slot` out of the index with every
// folder and file below it (a folder deleted or moved out of the indexed
// tree: no result may show a path through a folder that is gone). The
// numbers of the removed folders go to `removedFolders` when given.
// Returns false when the folder is not in the index.
bool RemoveFolderTree(qvFileBaseApp& app, uint32_t slot, uint32_t folderNumber,
                      std::vector<uint32_t>* removedFolders);

// True between a folder's old-name record and its new-name record, while
// the renamed-folder slot holds the old record for its children.
bool JournalRenamePending();

// The largest record number volume `slot` uses, folders and files.
uint32_t MaxRecordNumber(qvFileBaseApp& app, uint32_t slot);

// The record number of the entry called `name` directly inside folder
// `parentNumber` of volume `slot`, or 0 when the store holds none. The
// caller holds the engine lock.
uint32_t FindChildNumber(qvFileBaseApp& app, uint32_t slot, uint32_t parentNumber, const qvChar* name,
                         size_t nameLength, bool isFolder);
