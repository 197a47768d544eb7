// Damaged and hostile file tables: every cut of the sample images and
// random changes to their records skip records, never crash, hang or
// read out of bounds (run under the address sanitizer to see the last).
#include <gtest/gtest.h>
#include <fcntl.h>

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

TEST(MftHostile, EveryCutOfTheExtractAndTheImages) {
  if (!SharedImages::Get().Ok()) GTEST_SKIP() << "the shared NTFS samples could not be decompressed";
  TempDir tmp;
  struct Cut {
    std::string source;
    uint64_t step;
  };
  SharedImages& s = SharedImages::Get();
  for (const Cut& c : {Cut{s.MftExtract(), 512}, Cut{s.Charlie(), 256 * 1024}, Cut{s.LastAccess(), 4 << 20}}) {
    std::string copy = tmp.path() + "/cut";
    ASSERT_EQ(system(("cp --sparse=always '" + c.source + "' '" + copy + "'").c_str()), 0);
    struct stat st;
    ASSERT_EQ(stat(copy.c_str(), &st), 0);
    // Cutting from the end down keeps one copy for all lengths.
    for (uint64_t size = static_cast<uint64_t>(st.st_size) / c.step * c.step;; size -= c.step) {
      ASSERT_EQ(truncate(copy.c_str(), static_cast<off_t>(size)), 0);
      ReadAll(copy);
      if (size < c.step) break;
    }
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
