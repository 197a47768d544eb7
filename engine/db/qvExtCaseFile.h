// "extcase.db": the real case of the extensions that are not lower-case
// (photo.JPG), beside the two database files, whose format has no room for
// it. Part of the sealed set: written by every save, empty or not, and
// read with the index.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvSavedSet.h"
#include "qvStatus.h"

class CWriteMgr;
class qvIndex;

namespace qvExtCaseFile {

constexpr const char* kFileName = "extcase.db";

// The file's contents for the file list as it is now.
bool BuildImage(const qvIndex& app, CWriteMgr& out);
// Reads it after a successful load of the index and its dictionary:
// entries are matched to the loaded file list by position and must agree
// with each record's extension. On failure the whole index is emptied.
qvStatus Load(qvIndex& app, const qvSavedSet& set);
qvStatus LoadImage(qvIndex& app, const uint8_t* data, size_t size);

}  // namespace qvExtCaseFile
