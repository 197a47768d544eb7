#include <gtest/gtest.h>

#include "TestSupport.h"
#include "qvFile.h"

using qvtest::TempDir;

namespace {

class ShareMode : public ::testing::Test {
 protected:
  void SetUp() override { qvtest::WriteFile(dir_.Path("f"), "content"); }
  bool Opens(uint32_t flags) {
    qvFile f;
    return f.Open(dir_.W("f").c_str(), flags) == 1;
  }
  std::unique_ptr<qvFile> Hold(uint32_t flags) {
    auto f = std::make_unique<qvFile>(dir_.W("f").c_str(), flags);
    EXPECT_NE(f->m_hFile, qvFile::hFileNull) << "flags " << std::hex << flags;
    return f;
  }
  TempDir dir_;
};

}  // namespace

TEST_F(ShareMode, ExclusiveKeepsEveryoneOutUntilClosed) {
  auto holder = Hold(qvFile::modeRead | qvFile::shareExclusive);
  EXPECT_FALSE(Opens(qvFile::modeRead | qvFile::shareDenyNone));
  EXPECT_FALSE(Opens(qvFile::modeWrite | qvFile::shareDenyNone));
  holder.reset();
  EXPECT_TRUE(Opens(qvFile::modeReadWrite | qvFile::shareDenyNone));
}

TEST_F(ShareMode, DenyWriteAdmitsReadersOnly) {
  auto holder = Hold(qvFile::modeRead | qvFile::shareDenyWrite);
  EXPECT_TRUE(Opens(qvFile::modeRead | qvFile::shareDenyNone));
  EXPECT_TRUE(Opens(qvFile::modeRead | qvFile::shareDenyWrite));
  EXPECT_FALSE(Opens(qvFile::modeWrite | qvFile::shareDenyNone));
  EXPECT_FALSE(Opens(qvFile::modeReadWrite | qvFile::shareDenyNone));
}

TEST_F(ShareMode, CannotDenyWhatAnotherOpenAlreadyHas) {
  auto writer = Hold(qvFile::modeWrite | qvFile::shareDenyNone);  // write-only
  auto writer2 = Hold(qvFile::modeWrite | qvFile::shareDenyNone);
  EXPECT_FALSE(Opens(qvFile::modeRead | qvFile::shareDenyWrite));
  EXPECT_TRUE(Opens(qvFile::modeRead | qvFile::shareDenyRead));
  writer.reset();
  EXPECT_FALSE(Opens(qvFile::modeRead | qvFile::shareDenyWrite));  // writer2 is still there
  writer2.reset();
  EXPECT_TRUE(Opens(qvFile::modeRead | qvFile::shareDenyWrite));
}

TEST_F(ShareMode, RefusedCreateAlwaysLeavesTheFileIntact) {
  auto holder = Hold(qvFile::modeRead | qvFile::shareDenyWrite);
  EXPECT_FALSE(Opens(qvFile::modeCreate | qvFile::modeWrite | qvFile::shareDenyNone));
  EXPECT_EQ(qvtest::ReadFile(dir_.Path("f")), "content");
}

TEST_F(ShareMode, DuplicatesKeepTheShareUntilTheLastCloses) {
  auto holder = Hold(qvFile::modeRead | qvFile::shareExclusive);
  auto dup = holder->Duplicate();
  ASSERT_TRUE(dup);
  holder.reset();
  EXPECT_FALSE(Opens(qvFile::modeRead | qvFile::shareDenyNone));
  dup.reset();
  EXPECT_TRUE(Opens(qvFile::modeRead | qvFile::shareDenyNone));
}

TEST_F(ShareMode, RangeLocksConflictBetweenOpensAndAreReleased) {
  auto a = Hold(qvFile::modeReadWrite | qvFile::shareDenyNone);
  auto b = Hold(qvFile::modeReadWrite | qvFile::shareDenyNone);
  EXPECT_EQ(a->LockRange(0, 10), 1);
  EXPECT_EQ(b->LockRange(5, 10), 0);
  EXPECT_EQ(b->LockRange(10, 10), 1);
  EXPECT_EQ(a->UnlockRange(0, 10), 1);
  EXPECT_EQ(b->LockRange(5, 5), 1);

  auto reader = Hold(qvFile::modeRead | qvFile::shareDenyNone);
  EXPECT_EQ(reader->LockRange(100, 1), 1);  // shared on a read-only open
  EXPECT_EQ(a->LockRange(100, 1), 0);

  EXPECT_EQ(a->LockRange(0, 0), 0);
  EXPECT_EQ(a->LockRange(UINT64_MAX - 10, 5), 0);    // beyond the offset range
  EXPECT_EQ(a->LockRange(INT64_MAX - 1000, 10), 0);  // kept for the share modes
}
