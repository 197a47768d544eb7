#include "qvNtfsItemDetails.h"

#include "qvNtfsFileDetails.h"
#include "qvNtfsVolumeSource.h"

bool qvReadNtfsItemDetails(qvVolumeSource* source, int sourceIndex, uint32_t recordNumber, bool isFolder,
                           ItemDetails* d) {
  auto* ntfs = dynamic_cast<qvNtfsVolumeSource*>(source);
  if (!ntfs || sourceIndex < 0) return false;
  const qvNtfsVolume* volume = ntfs->RawVolume(static_cast<size_t>(sourceIndex));
  NtfsFileDetails details;
  if (!volume || !ReadNtfsFileDetails(*volume, recordNumber, &details)) return false;
  d->creationTime = details.creationTime;
  d->modificationTime = details.modificationTime;
  d->accessTime = details.accessTime;
  d->attributes = details.attributes;
  if (!isFolder) d->size = details.size;
  return true;
}
