#include "qvVersionInfo.h"

#include <elf.h>

#include <cstdio>
#include <cstring>

namespace {

// Reads a little-endian value at offset when it lies inside image.
template <typename T>
bool Read(std::string_view image, uint64_t offset, T* value) {
  if (offset > image.size() || image.size() - offset < sizeof(T)) return false;
  std::memcpy(value, image.data() + offset, sizeof(T));
  return true;
}

bool TakeRecord(std::string_view image, uint64_t offset, VS_FIXEDFILEINFO* info) {
  VS_FIXEDFILEINFO record;
  if (!Read(image, offset, &record) || record.dwSignature != kFixedFileInfoSignature) return false;
  *info = record;
  return true;
}

// ---- ELF: a note named kVersionNoteName in any note section.

bool FindInNotes(std::string_view image, uint64_t offset, uint64_t size, VS_FIXEDFILEINFO* info) {
  if (offset > image.size() || size > image.size() - offset) return false;
  uint64_t end = offset + size;
  while (end - offset >= sizeof(Elf64_Nhdr)) {
    Elf64_Nhdr note;
    Read(image, offset, &note);
    uint64_t name = offset + sizeof note;
    uint64_t desc = name + ((uint64_t{note.n_namesz} + 3) & ~uint64_t{3});
    uint64_t next = desc + ((uint64_t{note.n_descsz} + 3) & ~uint64_t{3});
    if (next > end) return false;
    if (note.n_type == kVersionNoteType && note.n_namesz == sizeof kVersionNoteName &&
        std::memcmp(image.data() + name, kVersionNoteName, sizeof kVersionNoteName) == 0 &&
        note.n_descsz == sizeof(VS_FIXEDFILEINFO))
      return TakeRecord(image, desc, info);
    offset = next;
  }
  return false;
}

template <typename Ehdr, typename Shdr>
bool FindInElf(std::string_view image, VS_FIXEDFILEINFO* info) {
  Ehdr header;
  if (!Read(image, 0, &header) || header.e_shentsize != sizeof(Shdr)) return false;
  for (uint32_t i = 0; i < header.e_shnum; ++i) {
    Shdr section;
    if (!Read(image, header.e_shoff + uint64_t{i} * sizeof(Shdr), &section)) return false;
    if (section.sh_type == SHT_NOTE && FindInNotes(image, section.sh_offset, section.sh_size, info)) return true;
  }
  return false;
}

bool FindInElfImage(std::string_view image, VS_FIXEDFILEINFO* info) {
  if (image.size() < EI_NIDENT || std::memcmp(image.data(), ELFMAG, SELFMAG) != 0) return false;
  if (image[EI_DATA] != ELFDATA2LSB) return false;
  if (image[EI_CLASS] == ELFCLASS64) return FindInElf<Elf64_Ehdr, Elf64_Shdr>(image, info);
  if (image[EI_CLASS] == ELFCLASS32) return FindInElf<Elf32_Ehdr, Elf32_Shdr>(image, info);
  return false;
}

// ---- PE: resource type 16 (RT_VERSION), its first name and language; the
// record follows the "VS_VERSION_INFO" header of that resource.

constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr int kMaxSectionCount = 96;

struct PeSection {
  uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

// The file offset of a relative virtual address, through the sections.
bool RvaToOffset(std::string_view image, uint64_t sectionTable, uint16_t count, uint32_t rva, uint64_t* offset) {
  for (uint16_t i = 0; i < count && i < kMaxSectionCount; ++i) {
    uint64_t at = sectionTable + uint64_t{i} * 40;
    PeSection s;
    if (!Read(image, at + 12, &s.virtualAddress) || !Read(image, at + 8, &s.virtualSize) ||
        !Read(image, at + 16, &s.rawSize) || !Read(image, at + 20, &s.rawOffset))
      return false;
    uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva - s.virtualAddress < span) {
      *offset = uint64_t{s.rawOffset} + (rva - s.virtualAddress);
      return true;
    }
  }
  return false;
}

// The entry of a resource directory: the one with id (or the first when
// id is 0). Returns its offset field.
bool DirectoryEntry(std::string_view image, uint64_t directory, uint32_t id, uint32_t* target) {
  uint16_t named, numbered;
  if (!Read(image, directory + 12, &named) || !Read(image, directory + 14, &numbered)) return false;
  uint32_t total = uint32_t{named} + numbered;
  for (uint32_t i = 0; i < total; ++i) {
    uint32_t name, offset;
    if (!Read(image, directory + 16 + uint64_t{i} * 8, &name) || !Read(image, directory + 20 + uint64_t{i} * 8, &offset))
      return false;
    if (id == 0 || name == id) {
      *target = offset;
      return true;
    }
  }
  return false;
}

bool FindInPeImage(std::string_view image, VS_FIXEDFILEINFO* info) {
  uint16_t mz;
  uint32_t peOffset, signature;
  if (!Read(image, 0, &mz) || mz != 0x5A4D || !Read(image, 0x3C, &peOffset) || !Read(image, peOffset, &signature) ||
      signature != 0x00004550)
    return false;
  uint64_t fileHeader = uint64_t{peOffset} + 4;
  uint16_t sectionCount, optionalSize, magic;
  if (!Read(image, fileHeader + 2, &sectionCount) || !Read(image, fileHeader + 16, &optionalSize)) return false;
  uint64_t optional = fileHeader + 20;
  if (!Read(image, optional, &magic)) return false;
  // The data directories start at 96 (PE32) or 112 (PE32+); resources are the third.
  uint64_t directories = optional + (magic == 0x20B ? 112 : 96);
  uint32_t resourceRva;
  if (!Read(image, directories + 2 * 8, &resourceRva) || resourceRva == 0) return false;
  uint64_t sectionTable = optional + optionalSize;
  uint64_t root;
  if (!RvaToOffset(image, sectionTable, sectionCount, resourceRva, &root)) return false;

  // type → name → language, each a subdirectory but the last.
  uint32_t entry;
  if (!DirectoryEntry(image, root, kRtVersion, &entry) || !(entry & kSubdirectoryBit)) return false;
  if (!DirectoryEntry(image, root + (entry & ~kSubdirectoryBit), 0, &entry) || !(entry & kSubdirectoryBit)) return false;
  if (!DirectoryEntry(image, root + (entry & ~kSubdirectoryBit), 0, &entry) || (entry & kSubdirectoryBit)) return false;
  uint32_t dataRva, dataSize;
  if (!Read(image, root + entry, &dataRva) || !Read(image, root + entry + 4, &dataSize)) return false;
  uint64_t data;
  if (!RvaToOffset(image, sectionTable, sectionCount, dataRva, &data)) return false;
  // VS_VERSIONINFO: wLength, wValueLength, wType, the key "VS_VERSION_INFO"
  // with its terminator (32 bytes), then padding to 32 bits: 6 + 32 = 38, so 40.
  uint16_t valueLength;
  if (!Read(image, data + 2, &valueLength) || valueLength < sizeof(VS_FIXEDFILEINFO) || dataSize < 40 + sizeof(VS_FIXEDFILEINFO))
    return false;
  return TakeRecord(image, data + 40, info);
}

}  // namespace

bool FindFixedFileInfo(std::string_view image, VS_FIXEDFILEINFO* info) {
  return FindInElfImage(image, info) || FindInPeImage(image, info);
}

std::string FormatVersion(uint32_t ms, uint32_t ls) {
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
  return text;
}
