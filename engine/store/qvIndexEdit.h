// The one way to change the index in place: entries added, removed,
// renamed and moved, and folder trees removed. Each edit keeps both lists
// in their order and the folder map in step, with the paged insert and
// removal (a binary search and one shift). The live monitors call these
// directly; the change-journal apply step is an adapter over them.
//
// Entries are named by volume slot, record number, parent folder number
// and name. The caller holds the engine lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "qvRecords.h"
#include "qvTypes.h"

class qvIndex;

namespace qvIndexEdit {

using Name = std::u16string_view;

// Adds folder or file `number` called `name` inside folder `parent`.
// False when the parent is not in the index, the name cannot be stored or
// memory runs out.
bool AddEntry(qvIndex& index, uint32_t slot, uint32_t parent, uint32_t number, Name name, bool isFolder);

// Removes file `number` called `name` from folder `parent`.
bool RemoveFile(qvIndex& index, uint32_t slot, uint32_t parent, uint32_t number, Name name);

// Removes folder `number` alone (its contents left before it, as a change
// journal reports them). False when the index does not hold it.
bool RemoveFolder(qvIndex& index, uint32_t slot, uint32_t number);

// Removes folder `number` with every folder and file below it, so that no
// row can show a path through a folder that is gone. The numbers of the
// removed folders go to `removedFolders` when given.
bool RemoveTree(qvIndex& index, uint32_t slot, uint32_t number, std::vector<uint32_t>* removedFolders);

// Renames and/or moves entry `number` from (`parent`, `name`) to
// (`toParent`, `toName`) within one volume. A folder keeps its number and
// its whole subtree. False when the entry or the new parent is missing.
bool MoveEntry(qvIndex& index, uint32_t slot, uint32_t number, uint32_t parent, Name name, uint32_t toParent,
               Name toName, bool isFolder);

// The two halves of a folder rename, for change journals that report the
// old name and the new name as separate records: Detach takes the folder
// out of the map and the list (its children still name its record), Attach
// puts it back under its new name and points the children at it.
RecordRef DetachFolder(qvIndex& index, uint32_t slot, uint32_t number);
bool AttachFolder(qvIndex& index, uint32_t slot, uint32_t parent, uint32_t number, Name name, RecordRef detached);

// The record number of the entry called `name` directly inside folder
// `parent`, or 0 when the index holds none. Names are compared exactly.
uint32_t FindChildNumber(qvIndex& index, uint32_t slot, uint32_t parent, const qvChar* name,
                         size_t nameLength, bool isFolder);

// The largest record number volume `slot` uses, folders and files.
uint32_t MaxRecordNumber(const qvIndex& index, uint32_t slot);

}  // namespace qvIndexEdit

using qvIndexEdit::FindChildNumber;
using qvIndexEdit::MaxRecordNumber;
