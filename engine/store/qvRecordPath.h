// Names and folder paths of records, written into bounded buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvRecords.h"
#include "qvTypes.h"

class qvIndex;

// The folder that holds a record with this parent: the root text and every
// folder name below it, each followed by '/'. Empty for a volume root
// (parent null). Writes at most capacity - 1 units and a terminator; a path
// that does not fit is cut at a character boundary. Returns the length.
size_t qvBuildFolderPath(const qvIndex& app, RecordRef parent, qvChar* out, size_t capacity);

// The same folder path appended to `out` whole, whatever its length.
void qvAppendFolderPath(const qvIndex& app, RecordRef parent, qvString* out);

// The name shown for a record: a folder's name, or a file's base name
// followed by '.' and the extension text when it has one. When `ext` is
// given it receives the extension alone (empty when none). Returns the
// length of the name written.
size_t qvBuildDisplayName(const qvIndex& app, const uint8_t* record, bool isFolder, qvChar* out,
                          size_t capacity, qvChar* ext, size_t extCapacity);

// Cuts a UTF-16 length back so that it does not end inside a surrogate pair.
inline size_t qvCharBoundary(const qvChar* s, size_t n) {
  if (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
  return n;
}
