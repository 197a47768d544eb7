#include "qvAsciiAutomaton.h"

#include <cstring>

namespace {

// A byte the automaton does not follow: a wide marker or a control code.
inline bool IsReset(uint8_t b) { return static_cast<uint8_t>(b - 32) >= 96; }

}  // namespace

bool qvAsciiAutomaton::Accepts(const qvPlainTerm* terms) {
  for (const qvPlainTerm* t = terms; t; t = t->next)
    for (uint32_t i = 0; i < t->length; ++i)
      if (t->text[i] < kFirstChar || t->text[i] >= kRowEntries) return false;
  return true;
}

void qvAsciiAutomaton::Free() {
  heap_.Free(rows_, allocatedStates_ * kRowEntries * sizeof(uint16_t));
  heap_.Free(reports_, allocatedStates_ * words_ * sizeof(uint64_t));
  heap_.Free(all_, words_ * sizeof(uint64_t));
  rows_ = nullptr;
  reports_ = nullptr;
  all_ = nullptr;
  allocatedStates_ = states_ = terms_ = words_ = 0;
}

bool qvAsciiAutomaton::Build(const qvPlainTerm* terms) {
  Free();
  if (!Accepts(terms)) return false;
  size_t total = 1;
  for (const qvPlainTerm* t = terms; t; t = t->next) {
    total += t->length;
    ++terms_;
  }
  // State numbers and outputs share 16-bit entries with kUndefined.
  if (total >= kUndefined || terms_ >= kUndefined) {
    Free();
    return false;
  }
  words_ = (terms_ + 63) / 64;
  if (words_ == 0) words_ = 1;
  allocatedStates_ = total;
  rows_ = static_cast<uint16_t*>(heap_.Alloc(total * kRowEntries * sizeof(uint16_t)));
  reports_ = static_cast<uint64_t*>(heap_.Alloc(total * words_ * sizeof(uint64_t)));
  all_ = static_cast<uint64_t*>(heap_.Alloc(words_ * sizeof(uint64_t)));
  if (!rows_ || !reports_ || !all_) {
    Free();
    return false;
  }
  for (size_t s = 0; s < total; ++s)
    for (size_t c = kFirstChar; c < kRowEntries; ++c) rows_[s * kRowEntries + c] = kUndefined;

  // The trie: term k (from 1) marks its last state with -k.
  states_ = 1;
  size_t k = 0;
  for (const qvPlainTerm* t = terms; t; t = t->next) {
    size_t s = 0;
    for (uint32_t i = 0; i < t->length; ++i) {
      uint16_t& next = rows_[s * kRowEntries + t->text[i]];
      if (next == kUndefined) next = static_cast<uint16_t>(states_++);
      s = next;
    }
    ++k;
    rows_[s * kRowEntries] = static_cast<uint16_t>(-static_cast<int32_t>(k));
    reports_[s * words_ + (k - 1) / 64] |= uint64_t{1} << ((k - 1) % 64);
    all_[(k - 1) / 64] |= uint64_t{1} << ((k - 1) % 64);
  }

  // Failure links breadth first: a state's missing transitions are those
  // of its failure state, which lies nearer the root and is done already.
  // The BFS order is kept in a scratch array of state numbers.
  auto* queue = static_cast<uint16_t*>(heap_.Alloc(states_ * sizeof(uint16_t)));
  if (!queue) {
    Free();
    return false;
  }
  size_t head = 0, tail = 0;
  for (size_t c = kFirstChar; c < kRowEntries; ++c) {
    uint16_t& child = rows_[c];
    if (child == kUndefined) {
      child = 0;
    } else {
      rows_[child * kRowEntries + 1] = 0;
      queue[tail++] = child;
    }
  }
  while (head < tail) {
    size_t s = queue[head++];
    uint16_t* row = rows_ + s * kRowEntries;
    const uint16_t* failRow = rows_ + row[1] * kRowEntries;
    uint64_t* reports = reports_ + s * words_;
    const uint64_t* failReports = reports_ + row[1] * words_;
    for (size_t w = 0; w < words_; ++w) reports[w] |= failReports[w];
    for (size_t c = kFirstChar; c < kRowEntries; ++c) {
      if (row[c] == kUndefined) {
        row[c] = failRow[c];
      } else {
        rows_[row[c] * kRowEntries + 1] = failRow[c];
        queue[tail++] = row[c];
      }
    }
  }
  heap_.Free(queue, states_ * sizeof(uint16_t));

  for (size_t s = 0; s < states_; ++s)
    std::memcpy(rows_ + s * kRowEntries + 'A', rows_ + s * kRowEntries + 'a', 26 * sizeof(uint16_t));
  return true;
}

bool qvAsciiAutomaton::HitOneWord(const uint8_t* bytes, size_t length) const {
  const uint64_t all = all_[0];
  uint64_t found = 0;
  size_t s = 0;
  for (size_t i = 0; i < length;) {
    uint8_t b = bytes[i];
    if (IsReset(b)) {
      s = 0;
      i += (b & 0x80) ? 3 : 1;
      continue;
    }
    s = rows_[s * kRowEntries + b];
    found |= reports_[s];
    if (found == all) return true;
    ++i;
  }
  return false;
}

bool qvAsciiAutomaton::HitManyWords(const uint8_t* bytes, size_t length) const {
  uint64_t found[kMaxWords];
  size_t words = words_;
  std::memset(found, 0, words * sizeof(uint64_t));
  size_t s = 0;
  for (size_t i = 0; i < length;) {
    uint8_t b = bytes[i];
    if (IsReset(b)) {
      s = 0;
      i += (b & 0x80) ? 3 : 1;
      continue;
    }
    s = rows_[s * kRowEntries + b];
    const uint64_t* r = reports_ + s * words;
    bool complete = true;
    for (size_t w = 0; w < words; ++w) {
      found[w] |= r[w];
      complete &= found[w] == all_[w];
    }
    if (complete) return true;
    ++i;
  }
  return false;
}
