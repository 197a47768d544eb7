// Putting a new set of saved files in place of the old one so that at
// every moment the data folder holds a whole set, the old or the new:
//
//   1. every new file is written under its name + ".tmp" and synced;
//   2. the old files get a second name, + ".prev" (hard links), then the
//      marker "db.commit" says that the plain names are being replaced;
//   3. the new files are renamed over the old ones, "seal.db" last;
//   4. the marker goes, then the ".prev" names.
//
// A save cut short in step 3 leaves plain names that do not match their
// seal, and a whole ".prev" set: the loader takes that one. A later save
// that finds the marker keeps that ".prev" set as it is. The caller holds
// the data folder's exclusive lock.
#pragma once

#include <functional>

#include "qvStatus.h"

class CWriteMgr;
class qvIndex;

namespace qvDbCommit {

// The files of a set in the order they are renamed into place; the seal
// comes last. `failText` is the user's text for a failure with this file.
// Contents already streaming to the file's ".tmp" name only have their
// last bytes written and synced in step 1.
struct NewFile {
  const char* name;
  CWriteMgr* contents;
  const char* failText;
};

// A hook for tests: called with a step's name before each write, link,
// rename and removal; a process killed there must leave a whole set.
using StepHook = std::function<void(const char* step, const char* name)>;
void SetStepHook(StepHook hook);

qvStatus Replace(const qvIndex& app, const NewFile* files, size_t count);

}  // namespace qvDbCommit
