// A deterministic multi-term automaton (Aho-Corasick) over plain terms of
// ASCII units 32..127, run over PackedName bytes without decoding.
//
// Each state is a row of 128 16-bit entries: entry 0 its output (-k for
// the state that ends term k, else 0), entry 1 its failure link, entries
// 32..127 its transitions. The transitions of 'A'..'Z' are copies of
// those of 'a'..'z', so names fold as they are read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvHeap.h"
#include "qvPatternSet.h"

class qvAsciiAutomaton {
 public:
  static constexpr uint16_t kUndefined = 0x8000;
  static constexpr size_t kRowEntries = 128;
  static constexpr size_t kFirstChar = 32;
  // Terms and states are numbered below kUndefined.
  static constexpr size_t kMaxWords = (kUndefined + 63) / 64;

  explicit qvAsciiAutomaton(qvHeap& heap) : heap_(heap) {}
  ~qvAsciiAutomaton() { Free(); }
  qvAsciiAutomaton(const qvAsciiAutomaton&) = delete;
  qvAsciiAutomaton& operator=(const qvAsciiAutomaton&) = delete;

  // True when every unit of every term lies in 32..127: only then can the
  // automaton take the terms.
  static bool Accepts(const qvPlainTerm* terms);

  // Builds the automaton over the terms (folded, as a compiled set holds
  // them) in list order. False when out of memory or when Accepts is false.
  bool Build(const qvPlainTerm* terms);

  // True when the packed name holds every term. A wide unit, or a byte
  // below 32 (which no term holds), sends the automaton back to the root.
  bool Hit(const uint8_t* bytes, size_t length) const {
    return words_ == 1 ? HitOneWord(bytes, length) : HitManyWords(bytes, length);
  }

  size_t StateCount() const { return states_; }
  size_t TermCount() const { return terms_; }
  const uint16_t* Row(size_t state) const { return rows_ + state * kRowEntries; }

 private:
  bool HitOneWord(const uint8_t* bytes, size_t length) const;
  bool HitManyWords(const uint8_t* bytes, size_t length) const;
  void Free();

  qvHeap& heap_;
  uint16_t* rows_ = nullptr;
  size_t allocatedStates_ = 0;
  size_t states_ = 0;
  size_t terms_ = 0;
  // Per state, the terms reported on reaching it: its own output and
  // those on its failure chain, as a bit set of words_ 64-bit words.
  uint64_t* reports_ = nullptr;
  size_t words_ = 0;
  uint64_t* all_ = nullptr;  // the bit set of every term
};
