// Judging parent chains: a folder is good when its parents lead to a
// folder already known good (a volume root) and bad when they lead to a
// bad one or run into themselves. Each folder is visited once, so a
// hostile cycle costs no more than a long chain.
#pragma once

#include <cstdint>
#include <vector>

namespace qvParentChains {

enum State : uint8_t { kUnknown, kGood, kBad, kVisiting };
constexpr uint32_t kNoParent = UINT32_MAX;

// `state` holds kGood for roots, kBad for folders already refused and
// kUnknown for the rest, whose parent index is in `parent`. Afterwards
// every entry is kGood or kBad.
inline void Resolve(std::vector<uint8_t>& state, const std::vector<uint32_t>& parent) {
  std::vector<uint32_t> chain;
  constexpr size_t kAhead = 16;
  for (size_t i = 0; i < state.size(); ++i) {
    // Most chains end at the parent, known by then: its state, at a
    // random place, is asked for early.
    if (i + kAhead < state.size() && parent[i + kAhead] < state.size()) __builtin_prefetch(&state[parent[i + kAhead]]);
    size_t at = i;
    while (state[at] == kUnknown) {
      state[at] = kVisiting;
      chain.push_back(static_cast<uint32_t>(at));
      at = parent[at];
      if (at >= state.size()) break;
    }
    // A chain that ended on kVisiting ran into itself.
    uint8_t verdict = at < state.size() && state[at] == kGood ? kGood : kBad;
    for (uint32_t c : chain) state[c] = verdict;
    chain.clear();
  }
}

}  // namespace qvParentChains
