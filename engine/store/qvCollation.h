// The name collation that orders folders and files: ASCII without regard
// to case, then the CJK ideographs U+4E00..U+9FA5 by their pinyin rank,
// then everything else by code unit. Works on PackedName bytes directly.
#pragma once

#include <cstddef>
#include <cstdint>

class ExtTable;

namespace qvCollation {

constexpr uint32_t kCjkFirst = 0x4E00;
constexpr uint32_t kCjkLast = 0x9FA5;
constexpr size_t kRankCount = kCjkLast - kCjkFirst + 1;  // 20902

// Installs the rank table (kRankCount little-endian 16-bit ranks). Without
// one, ideographs compare by code unit.
void SetRankTable(const uint16_t* ranks);
const uint16_t* RankTable();

// Negative, zero or positive as name a sorts before, with or after b.
int CompareNames(const uint8_t* a, size_t an, const uint8_t* b, size_t bn);

// A 64-bit key of the first four units of a name, such that two names
// whose keys differ compare as their keys do. Equal keys decide nothing:
// the names must then be compared in full. Lets a sort compare most pairs
// without touching the records.
uint64_t SortKey(const uint8_t* name, size_t length);

// Folder order: by name.
int CompareFolders(const uint8_t* a, const uint8_t* b);
// File order: by base name; on equal names a file with an extension comes
// before one without, and two extensions compare by their texts.
int CompareFiles(const uint8_t* a, const uint8_t* b, const ExtTable& ext);

}  // namespace qvCollation
