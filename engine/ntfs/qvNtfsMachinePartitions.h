// The machine's own NTFS partitions that are read raw: those not mounted,
// and those mounted read-only. One mounted read-write stays with the walk
// and the live monitor: a raw read would miss what the driver has not
// written yet, and Linux writes never reach the change journal.
#pragma once

#include <string>
#include <vector>

// Where the machine describes its block devices (tests use made-up trees).
struct qvNtfsDiscoveryOptions {
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  std::string mountInfoPath = "/proc/self/mountinfo";
  std::string udevDataRoot = "/run/udev/data";
};

struct qvRawNtfsPartition {
  std::string device;      // under options.devRoot
  std::string mountPoint;  // where it is mounted read-only, or empty
  bool operator==(const qvRawNtfsPartition&) const = default;
};

// In /sys/class/block order. The type comes from udev where it runs (it
// knows a device we may not open), else from the mount table, else from
// the device's first sector where we may read it. Loop devices count
// while they have a backing file; RAM disks never.
std::vector<qvRawNtfsPartition> FindRawNtfsPartitions(const qvNtfsDiscoveryOptions& options);
