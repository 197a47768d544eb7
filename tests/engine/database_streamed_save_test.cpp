// The index file is written as it is built, a few chunks held at a time:
// the bytes and the seal are those of the whole image built in memory, and
// a folder that cannot take the file part way through keeps the old set.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "database_fixture.h"
#include "qvWriteMgr.h"

using namespace dbtest;
using Code = qvStatus::Code;

namespace {

constexpr size_t kSmallFlush = 3 * CWriteMgr::kChunkSize;

// Small flushes for one test, the default again after it.
struct FlushBytes {
  explicit FlushBytes(size_t bytes) { CWriteMgr::SetFlushBytes(bytes); }
  ~FlushBytes() { CWriteMgr::SetFlushBytes(CWriteMgr::kDefaultFlushBytes); }
};

std::vector<uint8_t> Bytes(const CWriteMgr& out) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(out.ForEachChunk([&](const uint8_t* data, size_t n) { bytes.insert(bytes.end(), data, data + n); }));
  return bytes;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The same pieces and patches into a writer held in memory and one that
// streams: patches land on bytes already written out, on held ones, and
// across the edge between the two.
TEST(StreamedWriteMgr, WritesWhatAHeldOneHolds) {
  FlushBytes flush(kSmallFlush);
  TempDir dir;
  qvHeap heap;
  CWriteMgr held(heap), streamed(heap);
  ASSERT_TRUE(streamed.StreamTo(dir.Path("out.tmp")));
  std::mt19937 rng(7);
  std::vector<uint8_t> piece(9000);
  size_t total = 0;
  while (total < 40 * CWriteMgr::kChunkSize + 123) {
    size_t n = rng() % piece.size();
    for (size_t i = 0; i < n; ++i) piece[i] = static_cast<uint8_t>(rng());
    ASSERT_TRUE(held.Append(piece.data(), n));
    ASSERT_TRUE(streamed.Append(piece.data(), n));
    total += n;
  }
  const size_t onDisk = ReadFile(dir.Path("out.tmp")).size();
  ASSERT_GT(onDisk, 0u) << "nothing was written out";
  ASSERT_LT(onDisk, total) << "nothing is held";
  const uint8_t patch[] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
  for (size_t at : {size_t{0}, size_t{4094}, onDisk - 3, onDisk, total - sizeof patch}) {
    ASSERT_TRUE(held.Patch(at, patch, sizeof patch)) << at;
    ASSERT_TRUE(streamed.Patch(at, patch, sizeof patch)) << at;
  }
  EXPECT_FALSE(streamed.Patch(total - 2, patch, sizeof patch));
  // Read back before it is finished (the seal is summed then), and after.
  std::vector<uint8_t> expected = Bytes(held);
  EXPECT_EQ(Bytes(streamed), expected);
  EXPECT_FALSE(streamed.WriteSynced(dir.Path("elsewhere")));
  ASSERT_TRUE(streamed.WriteSynced(dir.Path("out.tmp")));
  EXPECT_EQ(ReadFile(dir.Path("out.tmp")), expected);
  EXPECT_EQ(streamed.WriteError(), 0);
}

class StreamedSave : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = NewApp(dir_.Path());
    Scan(*app_, volumes_);
    saved_ = Take(*app_);
  }

  std::vector<uint8_t> ImageInMemory() const {
    qvHeap heap;
    CWriteMgr image(heap);
    EXPECT_TRUE(qvDatabase::BuildIndexImage(*app_, image));
    return Bytes(image);
  }

  FlushBytes flush_{kSmallFlush};
  TempDir dir_;
  std::vector<VolumeSpec> volumes_ = LargeVolume();
  std::unique_ptr<qvFileBaseApp> app_;
  Picture saved_;
};

TEST_F(StreamedSave, FileAndSealAreThoseOfTheWholeImage) {
  std::vector<uint8_t> before = ImageInMemory();
  ASSERT_GT(before.size(), 50 * kSmallFlush);
  ASSERT_TRUE(qvDatabase::SaveIndex(*app_).ok());
  std::vector<uint8_t> after = ImageInMemory();
  // The header holds the hour of the save: one image or the other, if an
  // hour began in between.
  std::vector<uint8_t> file = ReadFile(dir_.Path("ntfsqs.db"));
  EXPECT_TRUE(file == before || file == after);
  qvSavedSet set = CurrentSet(*app_);
  ASSERT_TRUE(set.SealStatus().ok());
  EXPECT_EQ(set.Seal().files[qvDbSeal::kIndexFile], qvDbSeal::SumOf(file.data(), file.size()));
  EXPECT_FALSE(Exists(dir_.Path("ntfsqs.db.tmp")));

  auto loaded = NewApp(dir_.Path());
  Discover(*loaded, volumes_);
  ASSERT_TRUE(qvDatabase::LoadSavedIndex(*loaded, nullptr).ok());
  EXPECT_EQ(Take(*loaded), saved_);
}

// A file size limit the index runs into after many chunks were written
// out: the save reports the write's failure, the old set stays whole and
// loads, and no temporary file is left.
TEST_F(StreamedSave, FolderFillingUpPartWayKeepsTheOldSet) {
  auto old = NewApp(dir_.Path());
  std::vector<VolumeSpec> small = {{0, "/", 0x100, 0, 111, {qvStreamVolumeSource::File(16, 5, u"kept.txt")}}};
  Scan(*old, small);
  Picture oldPicture = Take(*old);
  ASSERT_TRUE(qvDatabase::SaveIndex(*old).ok());

  const rlim_t limit = 40 * kSmallFlush;
  ASSERT_GT(ImageInMemory().size(), limit);
  struct rlimit was;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
  struct rlimit lowered = was;
  lowered.rlim_cur = limit;
  // Past the limit a write fails with EFBIG instead of ending the process.
  auto oldSignal = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
  ErrorCapture errors;
  qvStatus status = qvDatabase::SaveIndex(*app_);
  ::setrlimit(RLIMIT_FSIZE, &was);
  ::signal(SIGXFSZ, oldSignal);
  EXPECT_EQ(status.code(), Code::kIoError);
  EXPECT_EQ(status.error(), EFBIG);
  EXPECT_EQ(errors.texts, std::vector<std::string>{"写入数据库文件失败:" + std::to_string(EFBIG)});
  EXPECT_FALSE(Exists(dir_.Path("ntfsqs.db.tmp")));

  auto loaded = NewApp(dir_.Path());
  Discover(*loaded, small);
  ASSERT_TRUE(qvDatabase::LoadSavedIndex(*loaded, nullptr).ok());
  EXPECT_EQ(Take(*loaded), oldPicture);

  // Room again: the same save succeeds.
  ASSERT_TRUE(qvDatabase::SaveIndex(*app_).ok());
  auto again = NewApp(dir_.Path());
  Discover(*again, volumes_);
  ASSERT_TRUE(qvDatabase::LoadSavedIndex(*again, nullptr).ok());
  EXPECT_EQ(Take(*again), saved_);
}

// The temporary name taken by something that is not a file: the save
// fails before anything is written, with the reason, and the old set stays.
TEST_F(StreamedSave, TemporaryNameThatCannotBeWrittenKeepsTheOldSet) {
  ASSERT_TRUE(qvDatabase::SaveIndex(*app_).ok());
  ASSERT_EQ(::mkdir(dir_.Path("ntfsqs.db.tmp").c_str(), 0700), 0);
  auto other = NewApp(dir_.Path());
  Scan(*other, {{0, "/", 0x100, 0, 111, {qvStreamVolumeSource::File(16, 5, u"other.txt")}}});
  ErrorCapture errors;
  qvStatus status = qvDatabase::SaveIndex(*other);
  EXPECT_EQ(status.code(), Code::kIoError);
  EXPECT_EQ(status.error(), EISDIR);
  EXPECT_EQ(errors.texts, std::vector<std::string>{"写入数据库文件失败:" + std::to_string(EISDIR)});
  auto loaded = NewApp(dir_.Path());
  Discover(*loaded, volumes_);
  ASSERT_TRUE(qvDatabase::LoadSavedIndex(*loaded, nullptr).ok());
  EXPECT_EQ(Take(*loaded), saved_);
}

}  // namespace
