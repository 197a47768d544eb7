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

 private:
  const char* suffix_ = "";
  qvStatus sealStatus_;
  qvDbSeal::Seal seal_;
};
