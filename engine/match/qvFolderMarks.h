// Facts about every folder that a search tests many items against, worked
// out once per search by walking the folder list (never once per item):
// whether the folder lies below a hidden folder, and for each path term
// (a term holding "/") whether the folder's path already holds the term or
// ends with its part up to the last "/". An item is then tested against a
// path term through its parent's facts and its own name alone:
//
//   "code/src" in ".../code/src/main.c": the parent's path ".../code/src/"
//   holds it;  "src/main" in the same path: the parent's path ends with
//   "src/" and the name begins with "main".
//
// The caller holds the engine lock while building and reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qvRecords.h"
#include "qvTypes.h"

class qvIndex;

class qvFolderMarks {
 public:
  static constexpr size_t kMaxPathTerms = 7;

  // `terms`: at most kMaxPathTerms path terms, each holding "/", folded
  // unless `matchCase`. Returns false when out of memory.
  bool Build(const qvIndex& index, const std::vector<qvString>& terms, bool matchCase);

  // The marks of the folder an item's parent field names (kNullRef for a
  // volume root: no marks).
  uint16_t Of(RecordRef parent) const {
    if (parent == kNullRef) return 0;
    if (denseReady_) {
      const std::vector<uint8_t>& d = dense_[parent >> 31];
      size_t i = (parent & 0x7FFFFFFFu) >> 3;
      const uint8_t b = i < d.size() ? d[i] : 0;
      return static_cast<uint16_t>((b & 0x3F) | ((b & 0x80) ? kHidden : 0));
    }
    return FindRef(parent);
  }

  // The item lies below a folder whose name begins with "." (the volume's
  // root folder itself does not count).
  static bool BelowHidden(uint16_t marks) { return (marks & kHidden) != 0; }

  // What the parent's marks tell of the path terms before the item's name
  // is read.
  enum class Verdict { kFails, kPasses, kNeedsName };
  Verdict PathVerdict(uint16_t marks) const;

  // Every path term is in the item's path: its parent's path and its name
  // (units as the terms: folded unless matching case). `parent` is
  // kNullRef for a volume root.
  bool PathPasses(RecordRef parent, uint16_t marks, const qvChar* name, size_t length) const;

  size_t TermCount() const { return terms_.size(); }

 private:
  static constexpr uint16_t kHidden = 0x8000;
  static constexpr uint16_t kKnown = 0x4000;
  // Bits 2i and 2i+1: term i is in the folder's path; the path ends with
  // the term's part up to its last "/".
  static uint16_t Holds(size_t i) { return static_cast<uint16_t>(1u << (2 * i)); }
  static uint16_t EndsWith(size_t i) { return static_cast<uint16_t>(2u << (2 * i)); }

  // One path term and its string-search automaton.
  struct Term {
    qvString text;
    size_t tail;                 // where the part after the last "/" begins
    std::vector<uint32_t> border;  // longest proper border of text[0..s)
    std::vector<uint8_t> endsWithHead;  // state s: the text read ends with text[0..tail)
    uint32_t Step(uint32_t s, qvChar c) const;
  };

  struct Slot {
    const uint8_t* folder;
    uint32_t entry;  // into marks_ and states_
  };

  uint16_t FindRef(RecordRef folder) const;
  // The marks of every folder, by the folder's RecordRef >> 3 (two folder
  // records never start within 8 bytes of each other), one array per
  // pool: a look-up without probing, for up to three path terms.
  void BuildDense(const qvIndex& index);
  uint32_t Entry(const uint8_t* folder) const;  // UINT32_MAX when absent
  uint32_t Mark(const qvIndex& index, const uint8_t* folder);
  void Insert(const uint8_t* folder, uint32_t entry);

  bool matchCase_ = false;
  std::vector<Term> terms_;
  std::vector<Slot> table_;  // open addressing, power-of-two size
  size_t mask_ = 0;
  std::vector<uint16_t> marks_;
  std::vector<uint32_t> states_;  // terms_.size() automaton states per entry
  std::vector<const uint8_t*> chain_;  // scratch of Mark
  const qvIndex* index_ = nullptr;
  bool denseReady_ = false;
  std::vector<uint8_t> dense_[2];
  std::vector<qvChar> units_;          // scratch of Mark
};
