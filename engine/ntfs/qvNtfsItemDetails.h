// Item details of a row on a raw NTFS volume, from its file record read by
// number: times, attributes and size as the volume itself keeps them.
#pragma once

#include <cstdint>

#include "IQvSearch.h"
#include "qvVolumeSource.h"

// Fills the three times, the attributes and (files) the size of `d`.
// False when volume `sourceIndex` of `source` is not a raw NTFS volume or
// the record cannot be read; `d` is then left as it was.
bool qvReadNtfsItemDetails(qvVolumeSource* source, int sourceIndex, uint32_t recordNumber, bool isFolder,
                           ItemDetails* d);
