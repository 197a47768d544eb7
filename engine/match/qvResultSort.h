// The order of the current results when the user asks for one: by name,
// by path, or by a fact of the item on disk (size, the three times, the
// attributes). Folders stay before files; each group is put in order on
// its own, and rows of equal keys keep the order the search gave them.
//
// Facts come from statx, which must never run under the engine lock, so a
// sort is three steps: the caller, holding the lock, asks which rows still
// lack facts (MissingLocked); without the lock it reads them (ReadFacts,
// on several threads); holding the lock again it stores them (AddFacts)
// and puts the rows in order (ApplyLocked). Facts are kept, by record,
// until the next new result (ForgetFacts), so a re-run of the same search
// after a live change reads only the rows it has not seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "qvTypes.h"

class qvIndex;

// Kept in step with the QV_SORT_* orders of IQvSearch.h.
enum class qvSortColumn : int32_t {
  kStore = 0,  // the order the search met the records in
  kName,
  kPath,
  kSize,
  kCreated,
  kModified,
  kAccessed,
  kAttributes,
};
constexpr int32_t kSortColumnCount = 8;

// What the sort knows of an item on disk. Times are FILETIME values, as
// the row details show them; a file that could not be read has zeros.
struct qvItemFacts {
  uint64_t size = 0;
  uint64_t created = 0;
  uint64_t modified = 0;
  uint64_t accessed = 0;
  uint32_t attributes = 0;  // the hidden (2) and system (4) bits
};

// A row whose facts are still to be read: its record and its full path.
struct qvFactRequest {
  const uint8_t* record;
  bool isFolder;
  qvString path;
};

class qvResultSort {
 public:
  void SetOrder(qvSortColumn column, bool reverse) {
    column_ = column;
    reverse_ = reverse;
  }
  qvSortColumn Column() const { return column_; }
  bool Reverse() const { return reverse_; }
  // The order needs facts read from the disk.
  bool NeedsFacts() const { return column_ >= qvSortColumn::kSize; }

  // The rows of the current result whose facts are not known, with their
  // paths (each folder's path is built once).
  std::vector<qvFactRequest> MissingLocked(const qvIndex& index) const;
  // Reads the facts of `requests` with statx, on up to `threads` threads,
  // each handing its rows to the kernel in batches (qvStatxBatch) where it
  // can. Takes no lock and touches no record.
  static std::vector<qvItemFacts> ReadFacts(const std::vector<qvFactRequest>& requests, int threads);
  void AddFacts(const std::vector<qvFactRequest>& requests, const std::vector<qvItemFacts>& facts);
  void ForgetFacts() { facts_.clear(); }
  size_t KnownFacts() const { return facts_.size(); }

  // Puts the results of `index` in the chosen order; rows whose facts are
  // not known go after the others, in the search's order. Nothing happens
  // for the store order. Returns the number of rows without facts.
  size_t ApplyLocked(qvIndex& index) const;

 private:
  qvSortColumn column_ = qvSortColumn::kStore;
  bool reverse_ = false;
  std::unordered_map<const uint8_t*, qvItemFacts> facts_;
};
