// Linux names are bytes; the index keeps UTF-16. A name is decoded as UTF-8,
// and every byte of an invalid sequence becomes the lone low surrogate
// U+DC00 + byte (U+DC80..U+DCFF), so that encoding the result again gives
// back the exact bytes and every listed file can be opened.
#pragma once

#include <string>
#include <string_view>

#include "qvTypes.h"

namespace qvNameCodec {

// Decodes bytes into UTF-16. Returns the units written (no terminator);
// stops before overrunning `capacity` units, never splitting a surrogate
// pair. `out` may be null to count.
size_t Decode(const char* bytes, size_t length, qvChar* out, size_t capacity);

// Encodes UTF-16 back into bytes. Returns the bytes written (no
// terminator), bounded by `capacity`, never splitting a character.
// Unpaired surrogates U+DC80..U+DCFF become their byte; other unpaired
// surrogates are written as their three-byte form so nothing is lost.
size_t Encode(const qvChar* units, size_t length, char* out, size_t capacity);

qvString DecodeToString(std::string_view bytes);
std::string EncodeToString(std::u16string_view units);

}  // namespace qvNameCodec
