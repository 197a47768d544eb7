// A whole volume or disk image: partition table, boot sector, the $MFT's
// run list, every record, the change journal, the item details and the
// volume's state, read from a memory file.
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "qvMftReader.h"
#include "qvNtfsFileDetails.h"
#include "qvNtfsVolumeState.h"
#include "qvUsnJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = memfd_create("ntfs_volume_fuzz", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  {
    qvNtfsVolume volume;
    std::string why;
    if (volume.Open(path, qvNtfsVolume::kFindPartition, &why)) {
      uint64_t entries = 0;
      qvMftReader reader(volume);
      reader.Read([&](const ScanEntry*, size_t n) { entries += n; });
      UsnJournalInfo journal;
      if (FindUsnJournal(volume, &journal)) ReadUsnJournal(volume, journal, 0, [](const UsnRecord&) {});
      for (uint64_t n = 0; n < 32; ++n) {
        NtfsFileDetails d;
        ReadNtfsFileDetails(volume, n, &d);
      }
      ReadNtfsVolumeState(volume);
    }
  }
  close(fd);
  return 0;
}
