#include "qvNtfsRunList.h"

namespace {

// A run list longer than this is not one a real volume writes.
constexpr size_t kMaxRuns = 1u << 20;
// Cluster numbers stay below 2^40, so that with clusters of up to 2 MiB
// every byte offset fits 64 bits.
constexpr uint64_t kMaxCluster = 1ull << 40;

// Little-endian integer of `n` bytes (at most 8); signed when asked.
int64_t ReadVarInt(const uint8_t* p, unsigned n, bool isSigned) {
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  if (isSigned && n < 8 && (p[n - 1] & 0x80)) v |= ~0ULL << (8 * n);
  return static_cast<int64_t>(v);
}

}  // namespace

bool DecodeRunList(qvNtfs::Bytes pairs, uint64_t firstVcn, uint64_t volumeClusters, std::vector<NtfsRun>* runs) {
  if (firstVcn > kMaxCluster) return false;
  std::vector<NtfsRun> out;
  uint64_t vcn = firstVcn;
  int64_t lcn = 0;
  size_t pos = 0;
  while (pos < pairs.size) {
    uint8_t header = pairs.data[pos];
    if (header == 0) break;
    unsigned lengthBytes = header & 0x0F;
    unsigned offsetBytes = header >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) return false;
    if (!pairs.Has(pos + 1, lengthBytes + offsetBytes)) return false;
    int64_t length = ReadVarInt(pairs.data + pos + 1, lengthBytes, true);
    if (length <= 0) return false;
    NtfsRun run{vcn, NtfsRun::kSparse, static_cast<uint64_t>(length)};
    if (offsetBytes != 0) {
      int64_t delta = ReadVarInt(pairs.data + pos + 1 + lengthBytes, offsetBytes, true);
      if (__builtin_add_overflow(lcn, delta, &lcn) || lcn < 0) return false;
      uint64_t end;
      if (__builtin_add_overflow(static_cast<uint64_t>(lcn), run.length, &end)) return false;
      if (end > kMaxCluster || (volumeClusters != 0 && end > volumeClusters)) return false;
      run.lcn = lcn;
    }
    if (__builtin_add_overflow(vcn, run.length, &vcn) || vcn > kMaxCluster) return false;
    if (out.size() == kMaxRuns) return false;
    out.push_back(run);
    pos += 1 + lengthBytes + offsetBytes;
  }
  runs->insert(runs->end(), out.begin(), out.end());
  return true;
}
