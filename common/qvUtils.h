// System utilities: icons, opening files, autostart, machine facts.
#pragma once

#include <cstdint>

#include "qvTypes.h"

class qvUtils {
 public:
  // The folder icon for kind != 0 (looked up once, then cached), the drive
  // icon for kind 0. The path is not used.
  static int32_t QV_GetDirectoryIconIndex(const qvChar* path, int32_t kind);
  // Appends the name to the caller's path buffer at pathLength to form the
  // full path, looks up its icon, and terminates the buffer at pathLength
  // again: the buffer ends as it began. The buffer holds QV_MAX_PATH units.
  static int32_t QV_GetFileIconIndex(qvChar* pathBuffer, int32_t pathLength, const qvChar* name,
                                     int32_t nameLength);
};
