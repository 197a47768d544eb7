// Damaged files: every truncation and many random byte changes of a small
// saved database. A load either refuses with the tables empty or leaves
// tables that hold together; it never reads outside the data (the address
// sanitizer build watches that) and never loops.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "database_fixture.h"

using namespace dbtest;
using E = qvStreamVolumeSource;

namespace {

std::vector<VolumeSpec> SeedVolumes() {
  return {{0, "C:/", 0x51, 0, 7,
           {E::Folder(16, 5, u"Program Files"), E::Folder(17, 5, u"Program Files (x86)"), E::Folder(18, 17, u"报告"),
            E::Folder(19, 18, u"报表"), E::File(20, 19, u"a.exe"), E::File(21, 19, u"ab.txt"),
            E::File(22, 16, std::u16string(260, u'n') + u".log"), E::File(23, 5, u"résumé"),
            E::File(24, 18, u"x.lnk")}},
          {2, "/data/", 0x52, 0, 9, {E::Folder(16, 5, u"d"), E::File(17, 16, u"e.txt"), E::File(18, 5, u"f.")}}};
}

struct Seed {
  std::vector<uint8_t> index;
  std::vector<uint8_t> ext;
};

const Seed& SavedSeed() {
  static const Seed seed = [] {
    TempDir dir;
    auto app = NewApp(dir.Path());
    Scan(*app, SeedVolumes());
    if (!qvDatabase::SaveIndex(*app).ok()) throw std::runtime_error("save failed");
    return Seed{ReadFile(dir.Path("ntfsqs.db")), ReadFile(dir.Path("ext.db"))};
  }();
  return seed;
}

// A damaged file is refused as malformed: never as stale, which would
// hide the damage, nor with a reason of the file system.
bool MalformedReason(qvStatus::Code code) {
  using C = qvStatus::Code;
  for (C c : {C::kBadHeader, C::kBadVolumeTable, C::kBadFolderRecord, C::kBadFolderLinks, C::kBadFileRecord,
              C::kBadName, C::kBadExtensionFile, C::kExtensionMissing})
    if (code == c) return true;
  return false;
}

// Loads the bytes into a fresh index; returns whether they were taken.
// Refused: the tables must be empty. Taken: they must hold together.
bool LoadChecked(const std::vector<uint8_t>& index, const std::vector<uint8_t>* ext) {
  auto app = NewApp();
  Discover(*app, SeedVolumes());
  qvStatus status = qvDatabase::LoadIndexImage(*app, index.data(), index.size());
  if (!status.ok()) {
    EXPECT_TRUE(TablesEmpty(*app));
    // A changed journal id or position makes a well-formed file stale.
    EXPECT_TRUE(MalformedReason(status.code()) || status.code() == qvStatus::Code::kStale) << status.text();
    return false;
  }
  std::string wrong = CheckLoaded(*app, false);
  EXPECT_EQ(wrong, "");
  if (!ext) return true;
  status = qvDatabase::LoadExtImage(*app, ext->data(), ext->size());
  if (!status.ok()) {
    EXPECT_TRUE(TablesEmpty(*app));
    EXPECT_TRUE(MalformedReason(status.code())) << status.text();
    return false;
  }
  EXPECT_EQ(CheckLoaded(*app, true), "");
  return true;
}

void SetTotal(std::vector<uint8_t>& db) {
  uint32_t size = static_cast<uint32_t>(db.size());
  if (db.size() >= 4) std::memcpy(db.data(), &size, 4);
}

}  // namespace

TEST(DatabaseFuzz, SeedLoads) {
  const Seed& seed = SavedSeed();
  ASSERT_TRUE(LoadChecked(seed.index, &seed.ext));
}

TEST(DatabaseFuzz, EveryTruncationIsRefused) {
  const Seed& seed = SavedSeed();
  for (size_t n = 0; n < seed.index.size(); ++n) {
    std::vector<uint8_t> cut(seed.index.begin(), seed.index.begin() + static_cast<long>(n));
    EXPECT_FALSE(LoadChecked(cut, nullptr)) << n;
    // With the size field made to agree, the loader gets to the sections.
    SetTotal(cut);
    EXPECT_FALSE(LoadChecked(cut, nullptr)) << n;
  }
  for (size_t n = 0; n < seed.ext.size(); ++n) {
    std::vector<uint8_t> cut(seed.ext.begin(), seed.ext.begin() + static_cast<long>(n));
    EXPECT_FALSE(LoadChecked(seed.index, &cut)) << n;
  }
}

TEST(DatabaseFuzz, RandomByteChanges) {
  const Seed& seed = SavedSeed();
  std::mt19937 rng(20240517);
  int taken = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> index = seed.index;
    std::vector<uint8_t> ext = seed.ext;
    std::vector<uint8_t>& target = round % 4 == 3 ? ext : index;
    for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
      // Past the size field mostly, where the damage is harder to see.
      size_t at = rng() % 8 ? 4 + rng() % (target.size() - 4) : rng() % target.size();
      uint8_t v = static_cast<uint8_t>(rng());
      target[at] = rng() % 3 ? v : static_cast<uint8_t>(target[at] ^ (1u << (v % 8)));
    }
    taken += LoadChecked(index, &ext);
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "round " << round;
      break;
    }
  }
  // Some changes (inside names, record numbers, journal positions) leave a
  // well-formed file; those must load into sound tables.
  EXPECT_GT(taken, 0);
}
