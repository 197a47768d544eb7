// The rows of an answer as qvsearch prints them when they come as whole
// rows (from the service, or read with their details): a path per row,
// the long form, or one JSON object per row.
#pragma once

#include <string>
#include <vector>

#include "qvCliOptions.h"
#include "qvServiceProtocol.h"

// Every row, each ended by a newline or NUL; the count alone with --count.
std::string RenderCliRows(const qvCliOptions& o, uint64_t count, const std::vector<qvService::Row>& rows);

// One row as a JSON object (no line end): the path as UTF-8, bytes that are
// not UTF-8 as \udcXX escapes (the surrogateescape convention, so the path
// reads back to the same bytes), the size in bytes, times in ISO 8601 UTC
// and the attributes as words.
std::string CliJsonRow(const qvService::Row& row);

// A FILETIME as ISO 8601 UTC ("2024-05-01T10:00:00Z"); empty for 0.
std::string IsoTime(uint64_t fileTime);
