// One set of saved files in the data folder: "ntfsqs.db", "ext.db" and
// "extcase.db" with the seal that binds them. The current set has the
// plain names; while a save puts its new set in place, the old one is kept
// under the same names with ".prev" added, so that a save cut short leaves
// a whole set to load (qvDatabaseCommit.h).
#pragma once

#include <string>

#include "qvDatabaseIo.h"
#include "qvDatabaseSeal.h"
#include "qvStatus.h"

class qvIndex;

class qvSavedSet {
 public:
  enum Which { kCurrent, kPrevious };

  // Reads the set's seal. A missing or bad seal is kept as a status: the
  // loader reports it only once the index file itself was found.
  static qvSavedSet Open(const qvIndex& app, Which which);

  std::string Path(const qvIndex& app, const char* name) const;
  const qvStatus& SealStatus() const { return sealStatus_; }
  const qvDbSeal::Seal& Seal() const { return seal_; }

  // The size rule for one of the files, with the size the seal names.
  qvDbIo::SizeRule Rule(qvDbSeal::File file, uint64_t minSize, uint64_t maxSize) const;
  // Whether bytes read are the file the seal names; `name` is the file's
  // name for the reason.
  qvStatus Check(qvDbSeal::File file, const uint8_t* data, size_t size, const char* name) const;
  qvStatus Check(qvDbSeal::File file, const qvDbSeal::FileSum& sum, const char* name) const;

 private:
  const char* suffix_ = "";
  qvStatus sealStatus_;
  qvDbSeal::Seal seal_;
};

// Checks a file against its seal while one reader passes through it,
// without ever holding the whole file: the sum follows the reader in file
// order, a few MB at a time, and every page of a mapping that both have
// passed is given back. The reader may run ahead of the sum; bytes it
// will read again must not be reported passed.
class qvSealCheck {
 public:
  static constexpr size_t kStep = size_t{1} << 20;

  qvSealCheck(const qvSavedSet& set, qvDbSeal::File file, const char* name, qvDbIo::HeapBuffer& buffer)
      : set_(set), file_(file), name_(name), buffer_(buffer) {}

  // The reader will not read the bytes before `at` again.
  void Passed(size_t at);
  // Where two readers share the file, on two threads: the one that runs
  // ahead sums up to `at` (once a step) but gives nothing back, since the
  // other may not have read those bytes yet; each gives back its own
  // pages once passed (GiveBack). Sum and give back on one thread each,
  // until Finish. Returns the point the sum reached.
  size_t SumAhead(size_t at);
  void GiveBack(size_t from, size_t to) const { buffer_.GiveBack(from, to); }
  // Sums what is left: whether the file is the one its seal names.
  qvStatus Finish();

 private:
  void SumTo(size_t at, bool readAhead);

  const qvSavedSet& set_;
  qvDbSeal::File file_;
  const char* name_;
  qvDbIo::HeapBuffer& buffer_;
  qvDbSeal::Checksum sum_;
  size_t summed_ = 0;
};
