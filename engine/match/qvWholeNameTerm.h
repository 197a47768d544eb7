// One ASCII run tested against a file's whole name (base name, ".",
// extension) while the records keep the base name's bytes and an
// extension id. The run is in the whole name when it is in the base name,
// when it lies within "." and the extension, or when it spans the dot:
// its part up to one of its dots ends the base name and the part after
// that dot begins the extension. The last two depend on the extension
// alone, so they are worked out once per extension of the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qvTypes.h"

class ExtTable;

class qvWholeNameTerm {
 public:
  // `run`: folded ASCII units 1..127, at most 64 of them.
  void Build(const ExtTable& table, const qvChar* run, size_t length);

  // Some extension holds the run or completes it across the dot: without
  // one, the base name alone decides.
  bool AnyExtension() const { return anyExtension_; }

  // The run lies within "." and the extension of this id.
  bool InExtension(uint32_t id) const { return id < inExtension_.size() && inExtension_[id]; }
  // The dots k of the run (bit k) after which the run goes on as the
  // extension of this id begins: then run[0..k) must end the base name.
  uint64_t Spans(uint32_t id) const { return id < spans_.size() ? spans_[id] : 0; }
  // The packed base name of a name without wide units ends with run[0..k),
  // letters of either case alike.
  bool BaseEndsWithHead(const uint8_t* base, size_t length, unsigned k) const;

 private:
  qvString run_;
  std::vector<uint8_t> inExtension_;
  std::vector<uint64_t> spans_;
  bool anyExtension_ = false;
};
