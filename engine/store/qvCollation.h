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

// What SortKeyAt leaves in *from when no later key can go on from where
// this one stopped: a unit ended the key (the names must be compared in
// full), or the name ended within the key (every name with that key reads
// the same units: only what the name leaves out can tell them apart).
constexpr size_t kNoNextKey = SIZE_MAX;
constexpr size_t kNameEnded = SIZE_MAX - 1;
// The key of the units from byte *from on (SortKey is the key from 0).
// Sets *from to the byte the next key starts at, kNoNextKey or kNameEnded. Two names
// with equal keys from the same byte stop at the same byte, so a sort can
// tell tied names apart key after key and leave only what is still tied
// after the last one to the full comparison.
uint64_t SortKeyAt(const uint8_t* name, size_t length, size_t* from);

// Folder order: by name.
int CompareFolders(const uint8_t* a, const uint8_t* b);
// File order: by base name; on equal names a file with an extension comes
// before one without, and two extensions compare by their texts.
int CompareFiles(const uint8_t* a, const uint8_t* b, const ExtTable& ext);
// The part of the file order that decides between equal base names.
int CompareExtensions(const uint8_t* a, const uint8_t* b, const ExtTable& ext);

}  // namespace qvCollation
