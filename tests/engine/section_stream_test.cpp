// A file section read a window at a time: every byte comes once and in
// order whatever the chunk and the steps, a whole record is always held,
// and a file that comes up short is a failed read, never stale bytes.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>

#include "database_fixture.h"
#include "qvSectionStream.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// Passes over [begin, end) in random steps of up to `keep` bytes.
std::vector<uint8_t> ReadAll(const qvByteSource& source, uint64_t begin, uint64_t end, size_t keep, size_t chunk,
                             uint32_t seed) {
  std::mt19937 rng(seed);
  qvSectionStream stream(source, begin, end, keep, chunk);
  std::vector<uint8_t> out;
  while (stream.Left() > 0) {
    EXPECT_TRUE(stream.Fill());
    EXPECT_GE(stream.Buffered(), std::min<uint64_t>(keep, stream.Left()));
    size_t step = std::min<size_t>(1 + rng() % keep, static_cast<size_t>(stream.Left()));
    // The slack past the buffered bytes may be read.
    volatile uint8_t past = stream.Cursor()[stream.Buffered() + qvSectionStream::kSlack - 1];
    (void)past;
    out.insert(out.end(), stream.Cursor(), stream.Cursor() + step);
    stream.Advance(step);
  }
  return out;
}

TEST(SectionStream, EveryByteOnceInOrderWhateverTheChunkAndSteps) {
  const std::vector<uint8_t> bytes = RandomBytes(100000, 1);
  qvImageByteSource image(bytes.data(), bytes.size());
  for (size_t keep : {1u, 11u, 1038u})
    for (size_t chunk : {size_t{1}, size_t{2 * 1038 + 1}, size_t{4096}, size_t{1} << 20})
      for (auto [begin, end] :
           {std::pair<uint64_t, uint64_t>{0, 100000}, {7, 99999}, {50000, 50000}, {99990, 100000}}) {
        SCOPED_TRACE(std::to_string(keep) + " " + std::to_string(chunk) + " " + std::to_string(begin));
        std::vector<uint8_t> want(bytes.begin() + static_cast<long>(begin), bytes.begin() + static_cast<long>(end));
        EXPECT_EQ(ReadAll(image, begin, end, keep, chunk, static_cast<uint32_t>(chunk + keep)), want);
      }
}

// The size was taken when the file was opened; the file then lost its
// tail. The read that meets the end fails, where a mapping would fault.
TEST(SectionStream, AFileCutShortAfterOpeningFailsTheRead) {
  dbtest::TempDir dir;
  const std::string path = dir.Path() + "/cut";
  const std::vector<uint8_t> bytes = RandomBytes(20000, 2);
  dbtest::WriteFile(path, bytes);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  qvFileByteSource file(fd, bytes.size());
  ASSERT_EQ(::truncate(path.c_str(), 12000), 0);
  qvSectionStream stream(file, 0, bytes.size(), 100, 4096);
  bool failed = false;
  uint64_t passed = 0;
  while (stream.Left() > 0 && !failed) {
    if (!stream.Fill()) {
      failed = true;
      break;
    }
    EXPECT_TRUE(std::equal(stream.Cursor(), stream.Cursor() + 100, bytes.begin() + static_cast<long>(passed)));
    stream.Advance(100);
    passed += 100;
  }
  EXPECT_TRUE(failed);
  EXPECT_LE(passed, 12000u);
  uint8_t b;
  EXPECT_FALSE(file.ReadAt(bytes.size() - 1, &b, 1));
  EXPECT_FALSE(file.ReadAt(bytes.size(), &b, 1));
  ::close(fd);
}

}  // namespace
