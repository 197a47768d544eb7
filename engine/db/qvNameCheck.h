// Whether loaded name bytes are packed as the encoder writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qvPackedName.h"

namespace qvNameCheck {

// A wide unit is the marker and two bytes of a unit of 128 or more, never
// cut by the end; the non-ASCII flag is set exactly when one is present.
inline bool Matches(const uint8_t* name, size_t length, bool nonAscii) {
  if (!nonAscii) {
    // Most names are ASCII: eight bytes at a time.
    uint64_t any = 0;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
      uint64_t word;
      std::memcpy(&word, name + i, 8);
      any |= word;
    }
    for (; i < length; ++i) any |= name[i];
    return (any & 0x8080808080808080ull) == 0;
  }
  bool wide = false;
  for (size_t i = 0; i < length;) {
    if (name[i] < 0x80) {
      ++i;
      continue;
    }
    if (name[i] != QV_WIDE_MARKER || length - i < 3 || (name[i + 1] | (name[i + 2] << 8)) < 0x80) return false;
    wide = true;
    i += 3;
  }
  return wide;
}

}  // namespace qvNameCheck
