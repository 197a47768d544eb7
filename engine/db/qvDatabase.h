// The saved index: "ntfsqs.db" (folders, files, per-volume journal
// positions) and "ext.db" (the extension dictionary) in the data folder.
#pragma once

#include <cstddef>
#include <cstdint>

struct IQvSearchNotify;
class qvFileBaseApp;
class CWriteMgr;

namespace qvDatabase {

// Loads "ntfsqs.db" when it is complete, well-formed and current for every
// volume slot. On false the record tables are empty.
bool LoadIndex(qvFileBaseApp& app, IQvSearchNotify* sink);
// Reads "ext.db" into the extension table (after a successful load). On
// false the whole index is emptied: the loaded records refer to it.
bool ReadExtensionFile(qvFileBaseApp& app);
// Writes both files. The tables must not be used afterwards.
bool SaveIndex(qvFileBaseApp& app);

// The same steps on file contents in memory (tests, fuzzing, tools).
// LoadIndexImage checks everything LoadIndex checks after the file was
// read; LoadExtImage everything ReadExtensionFile checks after reading.
bool LoadIndexImage(qvFileBaseApp& app, const uint8_t* data, size_t size);
bool LoadExtImage(qvFileBaseApp& app, const uint8_t* data, size_t size);
// Build the two files' contents. False when the index cannot be stored
// (out of memory, more folders than positions can name).
bool BuildIndexImage(const qvFileBaseApp& app, CWriteMgr& out);
bool BuildExtImage(const qvFileBaseApp& app, CWriteMgr& out);

}  // namespace qvDatabase
