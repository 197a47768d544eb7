#include "qvUtils.h"

#include "qvIconRegistry.h"

int32_t qvUtils::QV_GetDirectoryIconIndex(const qvChar*, int32_t kind) {
  static int32_t folderIcon = -1;
  if (kind == 0) return qvIconRegistry::kDrive;
  if (folderIcon < 0) folderIcon = qvIconRegistry::kFolder;
  return folderIcon;
}

int32_t qvUtils::QV_GetFileIconIndex(qvChar* pathBuffer, int32_t pathLength, const qvChar* name,
                                     int32_t nameLength) {
  if (!pathBuffer || pathLength < 0 || static_cast<size_t>(pathLength) >= QV_MAX_PATH)
    return qvIconRegistry::ForFileName(name, nameLength > 0 ? static_cast<size_t>(nameLength) : 0);
  size_t room = QV_MAX_PATH - 1 - static_cast<size_t>(pathLength);
  size_t n = nameLength > 0 ? static_cast<size_t>(nameLength) : 0;
  if (n > room) n = room;
  qvStrCopy(pathBuffer + pathLength, room + 1, name, n);
  int32_t icon = qvIconRegistry::ForFileName(pathBuffer, static_cast<size_t>(pathLength) + n);
  pathBuffer[pathLength] = 0;
  return icon;
}
