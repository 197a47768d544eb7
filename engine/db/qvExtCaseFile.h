// "extcase.db": the real case of the extensions that are not lower-case
// (photo.JPG), beside the two database files. Their format has no room for
// it, and readers of those files need not know this one: a missing or bad
// "extcase.db" only shows such extensions lower-case.
#pragma once

class qvFileBaseApp;

namespace qvExtCaseFile {

// Writes the file for the file list as it is now (before the index is
// saved, which rewrites records in place).
bool Save(qvFileBaseApp& app);
// Reads it after a successful load: entries are matched to the loaded
// file list by position and checked against each record's extension.
void Load(qvFileBaseApp& app);

}  // namespace qvExtCaseFile
