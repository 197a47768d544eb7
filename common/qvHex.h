// Bytes as hexadecimal text, byte swaps, and colours as "RRGGBB" text.
#pragma once

#include <cstdint>

#include "qvTypes.h"

// Writes two upper-case digits per byte, high nibble first, then a zero.
// 0 when a pointer is null, count or size is not positive, or the text and
// its terminator would not fit in `size` chars (count * 2 must be < size).
int ToHexStr(const void* bytes, int count, char* text, int size);
// The same for the bytes of a zero-terminated string.
int StrToHex(const char* bytes, char* text, int size);

uint16_t Swap16(uint16_t value);
uint32_t Swap32(uint32_t value);

// "RRGGBB" hexadecimal text (optional leading blanks and "0x") to a colour
// value with red in the low byte: 0x00BBGGRR. Parsing stops at the first
// character that is not a hexadecimal digit; only the last six digits count.
// 0 for null.
uint32_t HexStrToRGB(const qvChar* text);
// The colour value 0x00BBGGRR as six lower-case digits "rrggbb". The text
// lives in a buffer of the calling thread, overwritten by its next call.
const qvChar* RGBToHexStr(uint32_t colour);
