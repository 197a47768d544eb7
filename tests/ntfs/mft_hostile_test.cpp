// Damaged and hostile file tables: every cut of the sample images and
// random changes to their records skip records, never crash, hang or
// read out of bounds (run under the address sanitizer to see the last).
#include <gtest/gtest.h>
#include <fcntl.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "ntfs_test_support.h"
#include "qvNtfsFileDetails.h"
#include "qvNtfsVolumeState.h"
#include "qvUsnJournal.h"

using namespace ntfstest;

namespace {

// Reads everything a volume offers: entries, journal, details, state.
void ReadAll(const std::string& path) {
  qvNtfsVolume volume;
  std::string why;
  if (!volume.Open(path, qvNtfsVolume::kFindPartition, &why)) return;
  ReadEntries(volume);
  UsnJournalInfo journal;
  if (FindUsnJournal(volume, &journal)) ReadUsnJournal(volume, journal, 0, [](const UsnRecord&) {});
  for (uint64_t n = 0; n < std::min<uint64_t>(volume.RecordCount(), 80); ++n) {
    NtfsFileDetails d;
    ReadNtfsFileDetails(volume, n, &d);
  }
  ReadNtfsVolumeState(volume);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

namespace {

// QV_NTFS_EVERY_BYTE=1 widens the sweeps below to every length of the
// extract and every length of the images' boot sectors and whole tables
// (a run by hand: minutes).
bool EveryByte() {
  const char* v = getenv("QV_NTFS_EVERY_BYTE");
  return v && std::string(v) == "1";
}

// The lengths to cut a file of `size` bytes to: every length within
// `windows` (byte ranges), and every `stride`-th elsewhere.
std::vector<uint64_t> CutLengths(uint64_t size, const std::vector<std::pair<uint64_t, uint64_t>>& windows,
                                 uint64_t stride) {
  std::vector<uint64_t> lengths;
  for (uint64_t n = 0; n <= size; n += stride) lengths.push_back(n);
  for (auto [from, to] : windows)
    for (uint64_t n = from; n < std::min(to, size + 1); ++n) lengths.push_back(n);
  lengths.push_back(size);
  std::sort(lengths.rbegin(), lengths.rend());
  lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
  return lengths;
}

// Cuts a copy of `source` to each length, longest first (one copy serves
// them all), and reads what is left.
void ReadEveryCut(const std::string& source, const std::vector<std::pair<uint64_t, uint64_t>>& windows,
                  uint64_t stride) {
  TempDir tmp;
  std::string copy = tmp.path() + "/cut";
  ASSERT_EQ(system(("cp --sparse=always '" + source + "' '" + copy + "'").c_str()), 0);
  struct stat st;
  ASSERT_EQ(stat(copy.c_str(), &st), 0);
  for (uint64_t size : CutLengths(static_cast<uint64_t>(st.st_size), windows, stride)) {
    ASSERT_EQ(truncate(copy.c_str(), static_cast<off_t>(size)), 0);
    ReadAll(copy);
  }
}

// Where an image's partition table, boot sector and first file records
// lie (every run of the table's records with EveryByte): every cut there
// is tried.
std::vector<std::pair<uint64_t, uint64_t>> CriticalBytes(const std::string& image) {
  qvNtfsVolume volume;
  std::string why;
  if (!volume.Open(image, qvNtfsVolume::kFindPartition, &why)) return {};
  const uint64_t cluster = volume.Boot().bytesPerCluster;
  std::vector<std::pair<uint64_t, uint64_t>> bytes = {{0, 1024}, {volume.Offset(), volume.Offset() + 1024}};
  for (const NtfsRun& run : volume.MftRuns()) {
    if (run.lcn == NtfsRun::kSparse) continue;
    uint64_t at = volume.Offset() + static_cast<uint64_t>(run.lcn) * cluster;
    bytes.push_back({at, at + (EveryByte() ? run.length * cluster : 4 * volume.RecordSize())});
    if (!EveryByte()) break;
  }
  return bytes;
}

}  // namespace

TEST(MftHostile, EveryCutOfTheExtract) {
  // Its first records (the metadata files and the root) at every length.
  ReadEveryCut(SharedImages::Get().MftExtract(), {{0, 6 * 1024}}, EveryByte() ? 1 : 61);
}

TEST(MftHostile, EveryCutOfTheImages) {
  if (!SharedImages::Get().Ok()) GTEST_SKIP() << "the shared NTFS samples could not be decompressed";
  SharedImages& s = SharedImages::Get();
  for (const std::string& image : {s.Charlie(), s.LastAccess()}) {
    SCOPED_TRACE(image);
    std::vector<std::pair<uint64_t, uint64_t>> critical = CriticalBytes(image);
    ASSERT_FALSE(critical.empty());
    ReadEveryCut(image, critical, EveryByte() ? 4096 : 1 << 20);
  }
}

TEST(MftHostile, RandomChangesToRecords) {
  std::vector<uint8_t> mft = ReadFile(SharedImages::Get().MftExtract());
  ASSERT_EQ(mft.size(), 256u * 1024u);
  std::mt19937 rng(42);
  std::vector<uint8_t> record(1024);
  uint64_t entries = 0;
  ScanSink sink = [&](const ScanEntry*, size_t n) { entries += n; };
  qvMftRecordParser parser(sink);
  for (int round = 0; round < 100000; ++round) {
    size_t n = rng() % 64;  // the records in use lie at the start
    std::copy(mft.begin() + n * 1024, mft.begin() + (n + 1) * 1024, record.begin());
    int flips = 1 + rng() % 6;
    for (int f = 0; f < flips; ++f) {
      // Mostly the header and the first attributes, where offsets and lengths lie.
      size_t at = rng() % 2 ? rng() % 0x100 : rng() % record.size();
      record[at] = static_cast<uint8_t>(rng() % 3 ? rng() : (rng() % 2 ? 0xFF : 0));
    }
    bool fixUp = rng() % 2;
    parser.Take(n, record.data(), record.size(), [&](uint8_t* r) {
      return fixUp ? ApplyRecordFixups(r, 1024) : (std::memcmp(r, "FILE", 4) == 0 ? NtfsFixup::kOk : NtfsFixup::kNotARecord);
    });
    NtfsRecord parsed;
    if (ParseNtfsRecord({record.data(), record.size()}, &parsed) && parsed.hasAttributeList) {
      std::vector<NtfsRun> runs;
      DecodeRunList(parsed.attributeList.mappingPairs, 0, 0, &runs);
    }
  }
  parser.Finish();
  EXPECT_GT(parser.Stats().entries, 0u);
}

TEST(MftHostile, RandomChangesToAVolumeOnDisk) {
  if (!SharedImages::Get().Ok()) GTEST_SKIP() << "the shared NTFS samples could not be decompressed";
  TempDir tmp;
  std::string copy = tmp.path() + "/charlie.dd";
  ASSERT_EQ(system(("cp '" + SharedImages::Get().Charlie() + "' '" + copy + "'").c_str()), 0);
  qvNtfsVolume volume;
  std::string why;
  ASSERT_TRUE(volume.Open(copy, qvNtfsVolume::kFindPartition, &why)) << why;
  // The bytes that matter: the boot sector and the first records of the table.
  uint64_t mft = volume.MftRuns().front().lcn * volume.Boot().bytesPerCluster;
  uint64_t span = 64 * volume.RecordSize();
  int fd = open(copy.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    uint64_t at = rng() % 8 == 0 ? rng() % 512 : mft + rng() % span;
    uint8_t old, value = static_cast<uint8_t>(rng());
    ASSERT_EQ(pread(fd, &old, 1, static_cast<off_t>(at)), 1);
    ASSERT_EQ(pwrite(fd, &value, 1, static_cast<off_t>(at)), 1);
    ReadAll(copy);
    if (rng() % 2) {
      ASSERT_EQ(pwrite(fd, &old, 1, static_cast<off_t>(at)), 1);
    }
  }
  close(fd);
}

TEST(MftHostile, RunListsThatOverflowOrPointOutside) {
  std::vector<NtfsRun> runs;
  const uint8_t overflowing[] = {0x88, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,
                                 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0};
  EXPECT_FALSE(DecodeRunList({overflowing, sizeof overflowing}, 0, 0, &runs));
  const uint8_t outside[] = {0x21, 0x10, 0x00, 0x10, 0};  // 16 clusters at 4096 of a 1000-cluster volume
  EXPECT_FALSE(DecodeRunList({outside, sizeof outside}, 0, 1000, &runs));
  const uint8_t cut[] = {0x21, 0x10};
  EXPECT_FALSE(DecodeRunList({cut, sizeof cut}, 0, 0, &runs));
  const uint8_t backwards[] = {0x11, 0x04, 0x10, 0x11, 0x04, 0xE0, 0};  // second run before cluster 0
  EXPECT_FALSE(DecodeRunList({backwards, sizeof backwards}, 0, 0, &runs));
  EXPECT_TRUE(runs.empty());
  const uint8_t sparse[] = {0x11, 0x04, 0x10, 0x01, 0x08, 0x11, 0x02, 0x02, 0};
  ASSERT_TRUE(DecodeRunList({sparse, sizeof sparse}, 0, 100, &runs));
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].lcn, NtfsRun::kSparse);
  EXPECT_EQ(runs[2].vcn, 12u);
  EXPECT_EQ(runs[2].lcn, 18);
}
