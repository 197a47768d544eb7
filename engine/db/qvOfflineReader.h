// Answering a few known queries from the saved index without loading all
// of it. "ntfsqs.db" is read front to back, a chunk at a time, and its
// packed names are tested as they come, in section order, through the same first cut the extended scan makes
// (qvNameCandidates); only the records that cut keeps, and the folders
// above them, are built into the index, through the designed loader. A
// search for one of the queries then finds, row for row, what it finds in
// the whole index: every record it could find is there, with its chain.
// Any other query finds only part of its answer; the engine reads in place
// only when told that no other query will come ("answer_only").
//
// Every structure read is checked as it is read, and LoadForQueries sums
// every saved file against its seal (on a second core, beside the read). A
// file that is not as the saver writes it, a query the cut cannot narrow (no ASCII run, a path-only regular
// expression) or one that keeps a large share of the index gives
// kFallBack: the caller loads the whole set the designed way, which
// reports any fault as it always has.
//
// Where the data folder holds a trigram index of the very set
// (qvTrigramIndex), only the blocks of records it names are read, and the
// kept records' folders from their own blocks: neither "ntfsqs.db" nor
// "extcase.db" is read whole or summed, the index's stamps of them standing
// for the sums it was built after. A query it cannot narrow (a run under
// three bytes) is read the whole way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qvMatchOptions.h"
#include "qvStatus.h"
#include "qvTypes.h"

struct IQvSearchNotify;
class qvIndex;

namespace qvOfflineReader {

struct Query {
  qvString text;
  qvString extFilter;
};

// What reading in place came to.
enum class Outcome {
  kLoaded,    // the index holds what the queries need
  kFallBack,  // load the whole set instead (the index is empty)
};

// From the current set in the data folder, under the folder's shared lock:
// through the folder's trigram index when it was built from this very set.
// `trigramsWanted`, when given, is set when the answer was read from the
// sealed set without one: WriteTrigramIndex, once the answer is out, makes
// the next answers faster.
Outcome LoadForQueries(qvIndex& app, IQvSearchNotify* sink, const std::vector<Query>& queries,
                       const qvMatchOptions& options, bool* trigramsWanted = nullptr);

// Writes the trigram index of the current set, read whole and checked
// against its seal. Only once each file of the set has been left alone for
// `settledNs`: a file changed in place within the same tick of the file
// system's clock would keep its times, and the index would go on being
// trusted for a file it no longer describes. False when nothing was written.
constexpr int64_t kSettledNs = 2'000'000'000;
bool WriteTrigramIndex(qvIndex& app, int64_t settledNs = kSettledNs);

// The same on file contents in memory (tests, fuzzing), without the seal:
// `extCase` may be null when there is no "extcase.db". The file records
// are read `chunk` bytes at a time, as from the file (at least 4 KB), or,
// with `trigrams` (a "trigram.idx" image, taken as built from these
// files), only the blocks it names.
Outcome LoadImagesForQueries(qvIndex& app, const uint8_t* index, size_t indexSize, const uint8_t* ext,
                             size_t extSize, const uint8_t* extCase, size_t extCaseSize,
                             const std::vector<Query>& queries, const qvMatchOptions& options,
                             size_t chunk = 256 * 1024, const uint8_t* trigrams = nullptr, size_t trigramsSize = 0);

// A record kept is kept with its chain, which costs more per record than
// the designed load: past this share of the entries, reading in place
// stops and the designed load is cheaper.
constexpr uint32_t kMaxKeptShare = 8;  // one record in eight

}  // namespace qvOfflineReader
