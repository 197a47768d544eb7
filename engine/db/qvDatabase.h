// The saved index: "ntfsqs.db" (folders, files, per-volume journal
// positions) and "ext.db" (the extension dictionary) in the data folder,
// with "extcase.db" (the real case of extensions) and "seal.db" (what
// binds the three into one set).
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvSavedSet.h"
#include "qvStatus.h"

struct IQvSearchNotify;
class qvIndex;
class CWriteMgr;

namespace qvDatabase {

// Loads the current set, or the previous one when a save was cut short,
// under the data folder's shared lock. On failure the tables are empty
// and the status says why (the reason of the current set).
qvStatus LoadSavedIndex(qvIndex& app, IQvSearchNotify* sink);
// Shows why a saved index was dropped, once; nothing for a first start
// (no saved index), for an index the volumes have moved past, or for
// memory already reported.
void ReportDropped(const qvStatus& why);

// The steps of a load, for one set. LoadIndex reads "ntfsqs.db" when it is
// the sealed file, well-formed and current for every volume slot; on
// failure the record tables are empty. ReadExtensionFile reads "ext.db"
// into the extension table (after a successful LoadIndex); on failure the
// whole index is emptied: the loaded records refer to it.
qvStatus LoadIndex(qvIndex& app, IQvSearchNotify* sink, const qvSavedSet& set);
qvStatus ReadExtensionFile(qvIndex& app, const qvSavedSet& set);

// Writes the set beside the current one and switches it in: at every
// moment the folder holds a whole set, the old or the new. On failure the
// old set stays and the status says why (already shown).
qvStatus SaveIndex(qvIndex& app);

// The same steps on file contents in memory (tests, fuzzing, tools).
// LoadIndexImage checks everything LoadIndex checks after the file was
// read and found sealed; LoadExtImage everything ReadExtensionFile checks.
qvStatus LoadIndexImage(qvIndex& app, const uint8_t* data, size_t size);
qvStatus LoadExtImage(qvIndex& app, const uint8_t* data, size_t size);
// Build the two files' contents. False when the index cannot be stored
// (out of memory, more folders than positions can name) or a streaming
// writer could not write (its WriteError says why).
bool BuildIndexImage(const qvIndex& app, CWriteMgr& out);
bool BuildExtImage(const qvIndex& app, CWriteMgr& out);

}  // namespace qvDatabase
