// Read-only data linked into the engine library, looked up by a type name
// and a numeric id.
#pragma once

#include <cstddef>

// Resource id of the pinyin collation table of type "ZISORT": one
// little-endian uint16_t rank per code point U+4E00..U+9FA5, 65535 for the
// ideographs without a reading.
constexpr int QV_RESOURCE_ZISORT = 101;

// Resource id of the pinyin readings table of type "PINYIN" (format in
// tools/gen-pinyin-table.py; read through qvPinyinTable).
constexpr int QV_RESOURCE_PINYIN = 102;

// Finds a resource linked into the engine library by its type and id.
// Returns null when there is none. When `size` is not null it receives the
// resource's size in bytes, or 0 when there is none.
const void* qvFindResource(const char* type, int id, size_t* size);
