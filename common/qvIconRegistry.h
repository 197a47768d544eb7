// Icon indices without a system image list: stable small integers, one for
// the drive, one for folders, one per kind of file. The application turns
// each index into an icon of the desktop's theme through IconName.
#pragma once

#include <cstdint>

#include "qvTypes.h"

namespace qvIconRegistry {

constexpr int32_t kFolder = 0;
constexpr int32_t kDrive = 1;
constexpr int32_t kGenericFile = 2;
constexpr int32_t kNoExtension = 3;  // a file without an extension

// The index for a file of this name (only its extension is looked at; no
// file is opened). The same extension always gives the same index.
int32_t ForFileName(const qvChar* name, size_t length);

// The freedesktop icon name for an index ("folder", "drive-harddisk",
// "image-x-generic", ...); "text-x-generic" for an unknown index.
const char* IconName(int32_t index);

}  // namespace qvIconRegistry
