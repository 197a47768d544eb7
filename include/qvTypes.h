// Basic types shared by every deliverable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Wide text is UTF-16 everywhere: names, paths and queries. We use char16_t
// rather than wchar_t, which is 32 bits on Linux.
using qvChar = char16_t;
using qvString = std::u16string;

// Buffers that hold a name or a path are sized by this one constant. Linux
// paths can be PATH_MAX (4096) bytes long; in UTF-16 that is at most 4096
// units, plus the terminating zero.
constexpr size_t QV_MAX_PATH = 4096 + 1;

// The query and extension-filter fields hold 1023 characters plus a zero.
constexpr size_t QV_QUERY_MAX = 1024;

// Wide-string helpers for fixed buffers. Every copy is bounded by the
// capacity given in units (terminator included); the result is always
// zero-terminated when capacity > 0.
inline size_t qvStrLen(const qvChar* s) {
  size_t n = 0;
  if (s)
    while (s[n]) ++n;
  return n;
}

inline size_t qvStrCopy(qvChar* dst, size_t capacity, const qvChar* src, size_t srcLen) {
  if (!dst || capacity == 0) return 0;
  size_t n = srcLen < capacity - 1 ? srcLen : capacity - 1;
  for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  dst[n] = 0;
  return n;
}
