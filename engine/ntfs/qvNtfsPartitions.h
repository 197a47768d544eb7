// Finds the NTFS file systems in a disk image or a whole-disk device:
// the image itself, or the partitions of its MBR (with logical partitions)
// or GPT table whose first sector is an NTFS boot sector.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// Reads `size` bytes at `offset`; false when they cannot all be read.
using NtfsReadAt = std::function<bool(uint64_t offset, size_t size, uint8_t* out)>;

// Byte offsets of the NTFS file systems found, in table order.
std::vector<uint64_t> FindNtfsPartitions(const NtfsReadAt& read);

// Whether an NTFS boot sector lies at `offset`.
bool IsNtfsAt(const NtfsReadAt& read, uint64_t offset);
