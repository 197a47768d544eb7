// The saved index: "ntfsqs.db" (folders, files, per-volume journal
// positions) and "ext.db" (the extension dictionary) in the data folder.
#pragma once

struct IQvSearchNotify;
class qvFileBaseApp;

namespace qvDatabase {

// Loads "ntfsqs.db" when it is complete, well-formed and current for every
// volume slot. On false the record tables are empty.
bool LoadIndex(qvFileBaseApp& app, IQvSearchNotify* sink);
// Reads "ext.db" into the extension table (after a successful load).
bool ReadExtensionFile(qvFileBaseApp& app);
// Writes both files. The tables must not be used afterwards.
bool SaveIndex(qvFileBaseApp& app);

}  // namespace qvDatabase
