// The fixed version record of a program file: read from the version
// resource of a PE file, or from the version note that the build puts into
// each of our own ELF programs (its content is the same 52-byte record).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct VS_FIXEDFILEINFO {
  uint32_t dwSignature;  // kFixedFileInfoSignature
  uint32_t dwStrucVersion;
  uint32_t dwFileVersionMS;
  uint32_t dwFileVersionLS;
  uint32_t dwProductVersionMS;
  uint32_t dwProductVersionLS;
  uint32_t dwFileFlagsMask;
  uint32_t dwFileFlags;
  uint32_t dwFileOS;
  uint32_t dwFileType;
  uint32_t dwFileSubtype;
  uint32_t dwFileDateMS;
  uint32_t dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

// The ELF note: owner name and type of the note that holds the record.
inline constexpr char kVersionNoteName[] = "qvsearch";
inline constexpr uint32_t kVersionNoteType = 1;

// Finds the record in a file's bytes; false when there is none.
bool FindFixedFileInfo(std::string_view image, VS_FIXEDFILEINFO* info);

// "%u.%u.%u.%u" of a version's two halves.
std::string FormatVersion(uint32_t ms, uint32_t ls);
