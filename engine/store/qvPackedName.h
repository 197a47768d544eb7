// Names are stored as bytes, one UTF-16 unit at a time: a unit below 128 is
// one byte equal to it; any other unit is the marker 0x81 followed by the
// unit in little-endian order. A name holds a non-ASCII character exactly
// when its byte length exceeds its unit count.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvTypes.h"

constexpr uint8_t QV_WIDE_MARKER = 0x81;

// Maps 'A'..'Z' to 'a'..'z' and every other ASCII code to itself. Only
// these letters fold anywhere in the engine.
struct qvLowerCaseTable {
  uint8_t map[128];
  constexpr qvLowerCaseTable() : map() {
    for (int i = 0; i < 128; ++i) map[i] = static_cast<uint8_t>(i >= 'A' && i <= 'Z' ? i + 32 : i);
  }
};
inline constexpr qvLowerCaseTable kLowerCase{};

inline qvChar qvFoldUnit(qvChar c) { return c < 128 ? kLowerCase.map[c] : c; }

namespace PackedName {

// Bytes needed for these units.
size_t EncodedLength(const qvChar* units, size_t count);

// Writes the packed bytes of `count` units to `out` (EncodedLength bytes of
// room); returns their number.
size_t Encode(const qvChar* units, size_t count, uint8_t* out);

// Writes the units and a terminating 0 to `out`, which holds `capacity`
// units including the terminator; returns the unit count written. A wide
// unit cut off by the end of the bytes is dropped, never read past.
size_t Decode(const uint8_t* bytes, size_t length, qvChar* out, size_t capacity);

// As Decode, folding one-byte units through the lower-case table.
size_t DecodeLowerCase(const uint8_t* bytes, size_t length, qvChar* out, size_t capacity);

// Number of units the bytes hold.
size_t UnitCount(const uint8_t* bytes, size_t length);

}  // namespace PackedName
