// The two files byte for byte: the saver's output against bytes worked out
// by hand from the format, and a database written by hand loaded into the
// tables.
#include <gtest/gtest.h>

#include "qvCollation.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "database_fixture.h"

using namespace dbtest;
using namespace std::string_literals;
using E = qvStreamVolumeSource;
using Code = qvStatus::Code;

namespace {

// One folder record of a saved file, read by the format's table.
struct SavedFolder {
  uint32_t key, parentPos, p, s, top;
  std::string suffix;
};

std::vector<SavedFolder> FolderSection(const std::vector<uint8_t>& db) {
  auto u32 = [&](size_t at) { return db[at] | db[at + 1] << 8 | db[at + 2] << 16 | uint32_t{db[at + 3]} << 24; };
  std::vector<SavedFolder> out;
  for (size_t at = u32(8); at < u32(12);) {
    uint32_t word = db[at + 8] | db[at + 9] << 8 | db[at + 10] << 16;
    SavedFolder f{u32(at), u32(at + 4), word & 0x3FF, (word >> 10) & 0x3FF, word >> 20, {}};
    f.suffix.assign(db.begin() + static_cast<long>(at) + 11, db.begin() + static_cast<long>(at + 11 + f.s));
    out.push_back(f);
    at += 11 + f.s;
  }
  return out;
}

std::string Packed(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 128) {
      out += static_cast<char>(c);
    } else {
      out += '\x81';
      out += static_cast<char>(c & 0xFF);
      out += static_cast<char>(c >> 8);
    }
  }
  return out;
}

}  // namespace

TEST(DatabaseFormat, SaverWritesTheDocumentedBytes) {
  TempDir dir;
  auto app = NewApp(dir.Path());
  Scan(*app, {{0, "C:/", 0x1122334455667788ull, 0, 0x0102030405060708ll,
               {E::Folder(16, 5, u"Program Files"), E::Folder(17, 5, u"Program Files (x86)"),
                E::File(18, 16, u"a.exe"), E::File(19, 17, u"readme"), E::File(20, 5, u"notes.TXT")}}});
  std::time_t before = std::time(nullptr);
  ASSERT_TRUE(qvDatabase::SaveIndex(*app).ok());
  std::time_t after = std::time(nullptr);
  std::vector<uint8_t> db = ReadFile(dir.Path("ntfsqs.db"));
  ASSERT_GE(db.size(), 44u);

  // The save time is UTC year, month, day, hour of some moment of the save.
  auto timeBytes = [](std::time_t t) {
    std::tm utc;
    gmtime_r(&t, &utc);
    return Bytes().U16(utc.tm_year + 1900).U16(utc.tm_mon + 1).U16(utc.tm_mday).U16(utc.tm_hour).b;
  };
  std::vector<uint8_t> stamp(db.begin() + 36, db.begin() + 44);
  EXPECT_TRUE(stamp == timeBytes(before) || stamp == timeBytes(after));

  // Folders in name order: C: at 0 (12 bytes), Program Files at 12 (23),
  // Program Files (x86) at 35 (29). Files: a.exe (exe is id 1, with an
  // icon slot), notes.TXT (txt becomes id 4), readme.
  Bytes e;
  e.U32(199).U32(86).U32(98).U32(152).U32(0xD0DBC7E0).U32(0xC7E0D0DB).U32(0x01000001).U32(3).U32(3);
  e.b.insert(e.b.end(), stamp.begin(), stamp.end());
  e.U8(1).U64(0x1122334455667788ull).U64(0x0102030405060708ull);
  for (int i = 1; i < 26; ++i) e.U8(0);
  e.U32(0).U32(12).U32(35);  // keys 5, 16, 17
  e.U32(5).U32(0xFFFFFFFF).U8(0x00).U8(0x08).U8(0x00).Str("C:");
  e.U32(16).U32(0).U8(0x00).U8(0x34).U8(0x00).Str("Program Files");
  e.U32(17).U32(0).U8(0x0D).U8(0x18).U8(0x00).Str(" (x86)");
  e.U32(0x18000012).U32(12).U8(0x00).U8(0x04).U8(0x10).Str("a").U8(1);
  e.U32(0x10000014).U32(0).U8(0x00).U8(0x14).U8(0x10).Str("notes").U8(4);
  e.U32(0x00000013).U32(35).U8(0x00).U8(0x18).U8(0x00).Str("readme");
  EXPECT_EQ(db, e.b);

  std::vector<HandExt> exts = BuiltinExts();
  exts.push_back({4, -3, u"txt"});
  EXPECT_EQ(ReadFile(dir.Path("ext.db")), BuildExt(exts));
}

TEST(DatabaseFormat, PrefixLengthsCountBytes) {
  // The order below is that of the code units: no pinyin ranks.
  const uint16_t* ranks = qvCollation::RankTable();
  qvCollation::SetRankTable(nullptr);
  struct Restore {
    const uint16_t* ranks;
    ~Restore() { qvCollation::SetRankTable(ranks); }
  } restore{ranks};
  TempDir dir;
  auto app = NewApp(dir.Path());
  // Sorted: C:, Program Files, Program Files (x86), x一, x丁 (U+4E00 and
  // U+4E01 differ in the low byte of their unit), zeta.
  Scan(*app, {{0, "C:/", 7, 0, 0,
               {E::Folder(16, 5, u"Program Files"), E::Folder(17, 5, u"Program Files (x86)"),
                E::Folder(18, 5, u"x\u4E00"), E::Folder(19, 18, u"x\u4E01"), E::Folder(20, 19, u"zeta")}}});
  Picture saved = Take(*app);
  ASSERT_TRUE(qvDatabase::SaveIndex(*app).ok());
  std::vector<SavedFolder> f = FolderSection(ReadFile(dir.Path("ntfsqs.db")));
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0].p, 0u);  // the first record has nothing before it
  EXPECT_EQ(f[2].p, 13u);
  EXPECT_EQ(f[2].s, 6u);
  EXPECT_EQ(f[2].suffix, " (x86)");
  EXPECT_EQ(f[1].p, 0u);  // nothing in common with "C:"
  // x一 is 78 81 00 4E, x丁 is 78 81 01 4E: the prefix ends inside a unit.
  EXPECT_EQ(f[3].top, 1u);
  EXPECT_EQ(f[4].p, 2u);
  EXPECT_EQ(f[4].suffix, "\x01\x4E");
  EXPECT_EQ(f[5].p, 0u);
  EXPECT_EQ(f[5].top, 0u);

  app.reset();
  auto loaded = NewApp(dir.Path());
  Discover(*loaded, {{0, "C:/", 7, 0, 0, {}}});
  ASSERT_TRUE(qvDatabase::LoadSavedIndex(*loaded, nullptr).ok());
  EXPECT_EQ(Take(*loaded), saved);
  EXPECT_EQ(Take(*loaded).folders[4].name, Packed(u"x\u4E01"));
}

namespace {

// Two volumes, C: (slot 0) and D: (slot 1). Positions by the 4096-byte
// rule: C: 0 (12 bytes), D: 12 (12), docs 24 (14), docs一 38 (17),
// docs丁 55 (17).
HandDb HandMadeIndex() {
  HandDb db;
  db.volumes = {{0, 0xAAAA, 500}, {1, 0xBBBB, 900}};
  db.folders = {
      {0x00000005, 0xFFFFFFFF, 0, "C:"},
      {0x08000005, 0xFFFFFFFF, 0, "D:"},
      {0x08000010, 12, 0, "docs"},
      {0x00000011, 0, 4, "\x81\x00\x4E"s, 0x100000},
      {0x00000012, 38, 5, "\x01\x4E", 0x100000},
  };
  db.keySection = {0, 38, 55, 12, 24};
  db.files = {
      {0x18000064, 24, 0, "a", 1, 1},                       // a.exe: id 1 with an icon slot
      {0x10000065, 55, 1, "b", 1, 4},                       // ab.txt: id 4
      {0x20000066, 0, 2, "", 2, 300},                       // ab with id 300 in two bytes
      {0x40000067, 12, 0, std::string(300, 'x'), 0, 0},     // 300-byte name, no extension
      {0x30000068 | 0x80000000, 12, 0, "\x81\xE9\x00"s, 4, 70000},  // é with id 70000 in four
  };
  return db;
}

// Built-ins, txt as id 4, then e5 .. as ids 5 up to count - 1, in text
// order.
std::vector<HandExt> HandMadeExts(uint32_t count) {
  std::vector<HandExt> exts = BuiltinExts();
  exts.push_back({4, -3, u"txt"});
  for (uint32_t id = 5; id < count; ++id) {
    std::string t = "e" + std::to_string(id);
    exts.push_back({id, -3, std::u16string(t.begin(), t.end())});
  }
  std::sort(exts.begin(), exts.end(), [](const HandExt& a, const HandExt& b) { return a.text < b.text; });
  return exts;
}

std::vector<VolumeSpec> HandMadeVolumes() { return {{0, "C:/", 0xAAAA, 100, 0, {}}, {1, "D:/", 0xBBBB, 900, 0, {}}}; }

}  // namespace

TEST(DatabaseFormat, HandWrittenDatabaseLoads) {
  std::vector<uint8_t> db = HandMadeIndex().Build();
  std::vector<uint8_t> ext = BuildExt(HandMadeExts(70001));
  auto app = NewApp();
  Discover(*app, HandMadeVolumes());
  ASSERT_TRUE(qvDatabase::LoadIndexImage(*app, db.data(), db.size()).ok());
  ASSERT_TRUE(qvDatabase::LoadExtImage(*app, ext.data(), ext.size()).ok());
  Picture pic = Take(*app);

  std::vector<Picture::Folder> folders = {
      {0x00000005, -1, "C:", false},
      {0x08000005, -1, "D:", false},
      {0x08000010, 0x08000005, "docs", false},
      {0x00000011, 0x00000005, "docs\x81\x00\x4E"s, true},
      {0x00000012, 0x00000011, "docs\x81\x01\x4E", true},
  };
  EXPECT_EQ(pic.folders, folders);
  EXPECT_EQ(pic.mapKeys, (std::vector<DirKey>{0x5, 0x11, 0x12, 0x08000005, 0x08000010}));
  std::vector<Picture::File> files = {
      {0x18000064, 0x08000010, "a", u"exe", -1},
      {0x10000065, 0x00000012, "ab", u"txt", -2},
      {0x20000066, 0x00000005, "ab", u"e300", -2},
      {0x40000067, 0x08000005, std::string(300, 'x'), u"", -2},
      {0xB0000068, 0x08000005, "\x81\xE9\x00"s, u"e70000", -2},
  };
  EXPECT_EQ(pic.files, files);
  EXPECT_EQ(app->volumes.nextUsn[0], 500);
  EXPECT_EQ(app->volumes.nextUsn[1], 900);
  EXPECT_EQ(app->extTable.Count(), 70001u);
  EXPECT_FALSE(app->extTable.BuiltinsStatic());
  EXPECT_EQ(app->extTable.Find(u"e300", 4), 300);
  // The records sit where the positions said: docs丁 at block 0, offset 55.
  EXPECT_EQ(app->recordPool.Resolve(55), app->folderList.At(4));
}

// The same file with single fields broken, one at a time.
TEST(DatabaseFormat, HandWrittenDatabaseWithAnyFieldWrongIsRefused) {
  struct Case {
    const char* what;
    Code why;
    void (*change)(HandDb&);
  };
  const Case cases[] = {
      {"prefix longer than the previous name", Code::kBadFolderRecord, [](HandDb& d) { d.folders[2].p = 3; }},
      {"first record with a prefix", Code::kBadFolderRecord, [](HandDb& d) { d.folders[0].p = 1; }},
      {"reserved bits of a folder word", Code::kBadFolderRecord, [](HandDb& d) { d.folders[2].top = 0x200000; }},
      {"non-ASCII bit on an ASCII name", Code::kBadName, [](HandDb& d) { d.folders[2].top = 0x100000; }},
      {"non-ASCII name without its bit", Code::kBadName, [](HandDb& d) { d.folders[3].top = 0; }},
      {"wide unit cut by the end of the name", Code::kBadName, [](HandDb& d) { d.folders[4].suffix = "\x01"; }},
      {"marker other than 0x81", Code::kBadName, [](HandDb& d) { d.folders[3].suffix = "\x82\x00\x4E"s; }},
      {"ASCII unit in three bytes", Code::kBadName, [](HandDb& d) { d.folders[3].suffix = "\x81\x41\x00"s; }},
      {"parent position inside a record", Code::kBadFolderLinks, [](HandDb& d) { d.folders[2].parentPos = 13; }},
      {"parent position past the last record", Code::kBadFolderLinks, [](HandDb& d) { d.folders[2].parentPos = 72; }},
      {"parent position with an offset above 4095", Code::kBadFileRecord, [](HandDb& d) { d.files[0].parentPos = 0x00001000; }},
      {"parent position in another block", Code::kBadFileRecord, [](HandDb& d) { d.files[0].parentPos = 0x00010000; }},
      {"parent cycle", Code::kBadFolderLinks, [](HandDb& d) { d.folders[3].parentPos = 55; }},
      {"folder its own parent", Code::kBadFolderLinks, [](HandDb& d) { d.folders[2].parentPos = 24; }},
      {"parent on another volume", Code::kBadFolderLinks, [](HandDb& d) { d.folders[2].parentPos = 0; }},
      {"root without the root number", Code::kBadFolderLinks, [](HandDb& d) { d.folders[2].parentPos = 0xFFFFFFFF; }},
      {"folder of a volume the table does not hold", Code::kBadFolderRecord, [](HandDb& d) { d.folders[2].key = 0x10000010; }},
      {"keys not ascending", Code::kBadFolderLinks, [](HandDb& d) { std::swap(d.keySection[1], d.keySection[2]); }},
      {"a folder named twice in the key section", Code::kBadFolderLinks, [](HandDb& d) { d.keySection[2] = 38; }},
      {"duplicate keys", Code::kBadFolderLinks, [](HandDb& d) { d.folders[4].key = 0x11; }},
      {"key section position inside a record", Code::kBadFolderLinks, [](HandDb& d) { d.keySection[4] = 25; }},
      {"key section one entry short", Code::kBadHeader, [](HandDb& d) { d.keySection.pop_back(); }},
      {"extension width 3", Code::kBadFileRecord, [](HandDb& d) { d.files[1].width = 3; }},
      {"width disagrees with the flags", Code::kBadFileRecord, [](HandDb& d) { d.files[1].width = 2; }},
      {"id wider than needed", Code::kBadFileRecord, [](HandDb& d) { d.files[2].extId = 200; }},
      {"icon slot bit on a non-built-in id", Code::kBadFileRecord, [](HandDb& d) { d.files[1].flags |= 0x08000000; }},
      {"built-in id without the icon slot bit", Code::kBadFileRecord, [](HandDb& d) { d.files[0].flags &= ~0x08000000u; }},
      {"long-length bit on a short name", Code::kBadFileRecord, [](HandDb& d) { d.files[0].flags |= 0x40000000; }},
      {"long name without the long-length bit", Code::kBadFileRecord, [](HandDb& d) { d.files[3].flags &= ~0x40000000u; }},
      {"file name prefix longer than the previous one", Code::kBadFileRecord, [](HandDb& d) { d.files[2].p = 3; }},
      {"file non-ASCII bit missing", Code::kBadName, [](HandDb& d) { d.files[4].flags &= ~0x80000000u; }},
      {"name of 1024 bytes", Code::kBadFileRecord,
       [](HandDb& d) {
         d.files[3].suffix.assign(1023, 'x');
         d.files[4] = {0x40000068, 12, 1023, "x", 0, 0};
       }},
  };
  for (const Case& c : cases) {
    HandDb hand = HandMadeIndex();
    c.change(hand);
    std::vector<uint8_t> db = hand.Build();
    auto app = NewApp();
    Discover(*app, HandMadeVolumes());
    EXPECT_EQ(qvDatabase::LoadIndexImage(*app, db.data(), db.size()).code(), c.why) << c.what;
    EXPECT_TRUE(TablesEmpty(*app)) << c.what;
  }
  // And the untouched file loads, so each refusal above is the change's.
  std::vector<uint8_t> db = HandMadeIndex().Build();
  auto app = NewApp();
  Discover(*app, HandMadeVolumes());
  EXPECT_TRUE(qvDatabase::LoadIndexImage(*app, db.data(), db.size()).ok());
}

TEST(DatabaseFormat, HeaderAndSectionSizesAreChecked) {
  const std::vector<uint8_t> good = HandMadeIndex().Build();
  struct Case {
    const char* what;
    Code why;
    size_t at;
    uint32_t value;
  };
  const uint32_t total = static_cast<uint32_t>(good.size());
  const Case cases[] = {
      {"total size", Code::kBadHeader, 0, total + 1},
      {"header size below 70", Code::kBadHeader, 4, 69},
      {"folder offset not header + 4 per folder", Code::kBadHeader, 8, 44 + 26 + 32 + 24},
      {"file offset before the folder section ends", Code::kBadHeader, 12, 0},
      {"file offset past the end", Code::kBadHeader, 12, total + 1},
      {"magic 1", Code::kBadHeader, 16, 0xD0DBC7E1},
      {"magic 2", Code::kBadHeader, 20, 0xC7E0D0DA},
      {"version", Code::kBadHeader, 24, 0x01000002},
      {"folder count 0", Code::kBadHeader, 28, 0},
      {"more folders than records", Code::kBadHeader, 28, 6},
      {"more files than records", Code::kBadFileRecord, 32, 6},
      {"fewer files than records", Code::kBadFileRecord, 32, 4},
      {"volume table entry neither 0 nor 1", Code::kBadVolumeTable, 44, 2},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> db = good;
    if (c.at == 44) db[44] = static_cast<uint8_t>(c.value);
    else std::memcpy(db.data() + c.at, &c.value, 4);
    auto app = NewApp();
    Discover(*app, HandMadeVolumes());
    EXPECT_EQ(qvDatabase::LoadIndexImage(*app, db.data(), db.size()).code(), c.why) << c.what;
    EXPECT_TRUE(TablesEmpty(*app)) << c.what;
  }
  auto refused = [](std::vector<uint8_t> db, Code why, const char* what) {
    auto app = NewApp();
    Discover(*app, HandMadeVolumes());
    EXPECT_EQ(qvDatabase::LoadIndexImage(*app, db.data(), db.size()).code(), why) << what;
  };
  auto add = [](std::vector<uint8_t>& db, size_t at, uint32_t n) {
    uint32_t v;
    std::memcpy(&v, db.data() + at, 4);
    v += n;
    std::memcpy(db.data() + at, &v, 4);
  };
  // A trailing byte, with the total size made to agree.
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  add(longer, 0, 1);
  refused(longer, Code::kBadFileRecord, "trailing byte");
  // Four bytes between the volume table and the key section, with every
  // size and offset moved to agree: the header is the volume table alone.
  std::vector<uint8_t> padded = good;
  padded.insert(padded.begin() + 102, 4, 0);
  for (size_t at : {0, 4, 8, 12}) add(padded, at, 4);
  refused(padded, Code::kBadVolumeTable, "padded header");
}
