// The saved index read in place for known queries: every answer equals,
// row for row and in order, the answer of the whole index loaded the
// designed way; damaged and truncated files fall back and never crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "database_fixture.h"
#include "engine_fixture.h"
#include "qvDatabaseFormat.h"
#include "qvExtCaseFile.h"
#include "qvOfflineReader.h"
#include "qvRecordPath.h"
#include "qvScans.h"
#include "qvSearchDriver.h"
#include "qvSectionStream.h"
#include "qvTrigramIndex.h"
#include "qvWriteMgr.h"

namespace {

using dbtest::Entry;
using dbtest::VolumeSpec;
using qvOfflineReader::Outcome;
using qvOfflineReader::Query;

std::vector<uint8_t> Bytes(const CWriteMgr& out) {
  std::vector<uint8_t> bytes;
  out.ForEachChunk([&](const uint8_t* data, size_t n) { bytes.insert(bytes.end(), data, data + n); });
  return bytes;
}

// A tree of words, numbers, extensions in either case, hidden folders,
// long names and Chinese names, on two volumes.
std::vector<VolumeSpec> RandomVolumes(uint32_t seed, int entries = 400) {
  std::mt19937 rng(seed);
  const std::vector<std::string> words = {"report", "Report", "notes", "photo", "src", "main", "code",
                                          "报告", "北京", ".git", ".cache", "data", "a", "ab", "x.y"};
  const std::vector<std::string> exts = {"", ".pdf", ".PDF", ".txt", ".c", ".Jpg", ".tar.gz", ".exe", ".doc"};
  std::vector<VolumeSpec> volumes;
  for (int slot = 0; slot < 2; ++slot) {
    VolumeSpec v{slot, slot == 0 ? "/" : "/mnt/b/", 100u + slot, 0, 1000, {}};
    uint64_t next = 16;
    std::vector<uint64_t> folders = {5};
    for (int i = 0; i < entries; ++i) {
      std::string name = words[rng() % words.size()];
      if (rng() % 2) name += std::to_string(rng() % 50);
      if (rng() % 3 == 0) name += "_" + words[rng() % words.size()];
      // Names past 32 bytes, which a reader tests another way, some of
      // them sharing their first 32 bytes with the name before.
      if (rng() % 8 == 0)
        name += "_long_" + std::string(10 + rng() % 40, "xr"[rng() % 2]) + words[rng() % words.size()];
      bool folder = rng() % 4 == 0;
      if (!folder) name += exts[rng() % exts.size()];
      uint64_t parent = folders[rng() % folders.size()];
      uint64_t ref = next++;
      v.entries.push_back({ref, parent, folder ? 0x10u : 0x20u, qvNameCodec::DecodeToString(name)});
      if (folder) folders.push_back(ref);
    }
    volumes.push_back(v);
  }
  return volumes;
}

// The saved files of an index.
struct Images {
  std::vector<uint8_t> index, ext, extCase;
};

Images Save(const qvFileBaseApp& app) {
  qvHeap& heap = const_cast<qvFileBaseApp&>(app).heap;
  CWriteMgr index(heap), ext(heap), extCase(heap);
  EXPECT_TRUE(qvDatabase::BuildIndexImage(app, index));
  EXPECT_TRUE(qvDatabase::BuildExtImage(app, ext));
  EXPECT_TRUE(qvExtCaseFile::BuildImage(app, extCase));
  return {Bytes(index), Bytes(ext), Bytes(extCase)};
}

// The answer's rows as paths, folders first, in result order.
std::vector<std::string> Search(qvFileBaseApp& app, const Query& q, const qvMatchOptions& options) {
  qvString text = q.text, filter = q.extFilter;
  text.push_back(0);
  filter.push_back(0);
  std::string error;
  RunSearch(app, app.patternSet, {text.data(), filter.data(), 1, &options, &error}, {});
  std::vector<std::string> rows;
  qvChar name[QV_MAX_PATH], ext[QV_MAX_PATH];
  for (size_t row = 0;; ++row) {
    bool isFolder;
    const uint8_t* r = app.RowRecord(row, &isFolder);
    if (!r) break;
    qvString path;
    qvAppendFolderPath(app, isFolder ? DirRecord::Parent(r) : FileRecord::Parent(r), &path);
    size_t n = qvBuildDisplayName(app, r, isFolder, name, QV_MAX_PATH, ext, QV_MAX_PATH);
    path.append(name, n);
    rows.push_back(qvNameCodec::EncodeToString(path));
  }
  if (!error.empty()) rows.push_back("error: " + error);
  return rows;
}

// `chunk`: how many bytes of the file records are read at a time; a small
// one puts records across the reads.
Outcome ReadInPlace(qvFileBaseApp& app, const Images& im, const std::vector<Query>& queries,
                    const qvMatchOptions& options, size_t chunk = 256 * 1024,
                    const std::vector<uint8_t>* trigrams = nullptr) {
  return qvOfflineReader::LoadImagesForQueries(app, im.index.data(), im.index.size(), im.ext.data(), im.ext.size(),
                                               im.extCase.data(), im.extCase.size(), queries, options, chunk,
                                               trigrams ? trigrams->data() : nullptr, trigrams ? trigrams->size() : 0);
}

// A random tree, saved, and the whole index loaded from what was saved.
class SavedTreeTest : public ::testing::Test {
 protected:
  void Make(uint32_t seed, int entries) {
    volumes = RandomVolumes(seed, entries);
    auto scanned = dbtest::NewApp();
    dbtest::Scan(*scanned, volumes);
    images = Save(*scanned);
    full = dbtest::NewApp();
    dbtest::Discover(*full, volumes);
    ASSERT_TRUE(qvDatabase::LoadIndexImage(*full, images.index.data(), images.index.size()).ok());
    ASSERT_TRUE(qvDatabase::LoadExtImage(*full, images.ext.data(), images.ext.size()).ok());
    ASSERT_TRUE(qvExtCaseFile::LoadImage(*full, images.extCase.data(), images.extCase.size()).ok());
  }

  std::unique_ptr<qvFileBaseApp> Reader() {
    auto app = dbtest::NewApp();
    dbtest::Discover(*app, volumes);
    return app;
  }

  // The tree saved into `dir` as the engine saves it; the app that saved.
  std::unique_ptr<qvFileBaseApp> SaveInto(const dbtest::TempDir& dir) {
    auto saver = dbtest::NewApp(dir.Path());
    dbtest::Scan(*saver, volumes);
    EXPECT_TRUE(qvDatabase::SaveIndex(*saver).ok());
    return saver;
  }

  std::vector<VolumeSpec> volumes;
  Images images;
  std::unique_ptr<qvFileBaseApp> full;
};

class OfflineReader : public SavedTreeTest {
 protected:
  void SetUp() override { Make(21, 400); }
};

// A query in a random mode: a regular expression one time in six, else a
// term, with a random filter; `trace` says it all for a failure.
struct RandomAsk {
  Query query;
  qvMatchOptions options;
  std::string trace;
};

RandomAsk NextAsk(std::mt19937& rng, const std::vector<std::string>& terms, const std::vector<std::string>& regexes,
                  const std::vector<std::string>& filters) {
  qvMatchOptions o;
  o.wholeName = rng() % 4 != 0;
  o.pathTerms = true;
  o.pinyin = rng() % 2;
  o.matchCase = rng() % 5 == 0;
  o.showHidden = rng() % 3 != 0;
  o.regex = rng() % 6 == 0;
  const std::string text = o.regex ? regexes[rng() % regexes.size()] : terms[rng() % terms.size()];
  const std::string filter = filters[rng() % filters.size()];
  return {{qvNameCodec::DecodeToString(text), qvNameCodec::DecodeToString(filter)},
          o,
          "query '" + text + "' filter '" + filter + "' case " + std::to_string(o.matchCase) + " whole " +
              std::to_string(o.wholeName) + " hidden " + std::to_string(o.showHidden) + " regex " +
              std::to_string(o.regex) + " pinyin " + std::to_string(o.pinyin)};
}

// A few hundred queries in every mode the terminal offers: the answer read
// in place is the whole index's, and most were read in place.
TEST_F(OfflineReader, AnswersAsTheWholeIndexInEveryMode) {
  std::mt19937 rng(7);
  const std::vector<std::string> terms = {"report", "REPORT", "rep", "notes1", "pdf", "t.p", ".tar", "port.pdf",
                                          "*.pdf", "re*t", "src/", "code/src", "/main", "bg", "bj", "报告", "x.y",
                                          "git", "a", "photo main", "main photo", "zzz", "rep?rt", "ta"};
  const std::vector<std::string> regexes = {"^report", "pdf$", "r.p+ort", "src/.*main", "(", "[0-9]{2}\\.c$"};
  const std::vector<std::string> filters = {"", "", "", "pdf", "pdf txt", "jpg", "nothing"};
  int readInPlace = 0;
  for (int i = 0; i < 300; ++i) {
    const auto [q, o, trace] = NextAsk(rng, terms, regexes, filters);
    SCOPED_TRACE(trace);
    auto app = Reader();
    SetScanWideVectors(i % 4 < 2);  // both loops, where the processor has the wide one
    Outcome outcome = ReadInPlace(*app, images, {q}, o, i % 2 ? 2100 : 256 * 1024);
    if (outcome == Outcome::kFallBack) continue;  // the designed load answers: nothing to compare
    ++readInPlace;
    EXPECT_EQ(dbtest::CheckLoaded(*app, true), "");
    EXPECT_EQ(Search(*app, q, o), Search(*full, q, o));
  }
  SetScanWideVectors(true);
  EXPECT_GT(readInPlace, 150);
}

// A category's calls add up: the records of every call are kept.
TEST_F(OfflineReader, KeepsWhatEveryStoredCallMayFind) {
  qvMatchOptions o;
  o.wholeName = o.pathTerms = true;
  std::vector<Query> calls = {{u"report", u"pdf"}, {u"notes", u""}, {u"photo", u"txt"}};
  auto app = Reader();
  ASSERT_EQ(ReadInPlace(*app, images, calls, o), Outcome::kLoaded);
  for (const Query& q : calls) EXPECT_EQ(Search(*app, q, o), Search(*full, q, o));
}

// A query without an ASCII run narrows nothing, the designed scans are not
// the reader's, and a query that keeps most of the index is cheaper loaded
// whole: each falls back with empty tables.
TEST_F(OfflineReader, FallsBackWhereReadingInPlaceGainsNothing) {
  qvMatchOptions o;
  o.wholeName = o.pathTerms = true;
  for (const char16_t* text : {u"报告", u"*?", u"src/", u"a"}) {
    auto app = Reader();
    EXPECT_EQ(ReadInPlace(*app, images, {{text, u""}}, o), Outcome::kFallBack) << qvNameCodec::EncodeToString(text);
    EXPECT_TRUE(dbtest::TablesEmpty(*app));
  }
  auto app = Reader();
  EXPECT_EQ(ReadInPlace(*app, images, {{u"report", u""}}, qvMatchOptions{}), Outcome::kFallBack);
}

// A query that finds nothing still leaves a well-formed, empty answer: the
// first volume root is kept alone, found again from its block while no
// other name is held (an empty copy the sanitizer build once caught).
TEST_F(OfflineReader, QueryThatFindsNothing) {
  qvMatchOptions o;
  o.wholeName = o.pathTerms = true;
  auto app = Reader();
  ASSERT_EQ(ReadInPlace(*app, images, {{u"zzzz", u""}}, o), Outcome::kLoaded);
  EXPECT_TRUE(Search(*app, {u"zzzz", u""}, o).empty());
}

// Every cut of each file, and bytes changed at random: a refusal leaves
// empty tables, and what is loaded holds together.
TEST_F(OfflineReader, TruncatedAndMutatedFilesNeverCrash) {
  qvMatchOptions o;
  o.wholeName = o.pathTerms = o.pinyin = true;
  const std::vector<Query> queries = {{u"report", u""}, {u"bg", u""}};
  auto judge = [&](const Images& im) {
    auto app = Reader();
    if (ReadInPlace(*app, im, queries, o) == Outcome::kLoaded) {
      EXPECT_EQ(dbtest::CheckLoaded(*app, true), "");
      Search(*app, queries[0], o);
    } else {
      EXPECT_TRUE(dbtest::TablesEmpty(*app));
    }
  };
  for (size_t cut = 0; cut < images.index.size(); cut += 7) {
    Images im = images;
    im.index.resize(cut);
    judge(im);
  }
  for (size_t cut = 0; cut < images.extCase.size(); cut += 3) {
    Images im = images;
    im.extCase.resize(cut);
    judge(im);
  }
  std::mt19937 rng(3);
  for (int i = 0; i < 1500; ++i) {
    Images im = images;
    for (int k = 0; k < 3; ++k) im.index[rng() % im.index.size()] = static_cast<uint8_t>(rng());
    judge(im);
  }
}

// Through the data folder: the current set read in place, and a file the
// seal does not describe falls back.
TEST_F(OfflineReader, ReadsTheSavedSetAndFallsBackOnAMismatch) {
  dbtest::TempDir dir;
  auto saver = SaveInto(dir);
  qvMatchOptions o;
  o.wholeName = o.pathTerms = true;
  const Query q{u"report", u""};
  auto app = dbtest::NewApp(dir.Path());
  dbtest::Discover(*app, volumes);
  ASSERT_EQ(qvOfflineReader::LoadForQueries(*app, nullptr, {q}, o), Outcome::kLoaded);
  EXPECT_EQ(Search(*app, q, o), Search(*full, q, o));

  std::vector<uint8_t> bytes = dbtest::ReadFile(dir.Path() + "/ntfsqs.db");
  bytes.pop_back();
  dbtest::WriteFile(dir.Path() + "/ntfsqs.db", bytes);
  auto after = dbtest::NewApp(dir.Path());
  dbtest::Discover(*after, volumes);
  EXPECT_EQ(qvOfflineReader::LoadForQueries(*after, nullptr, {q}, o), Outcome::kFallBack);
  EXPECT_TRUE(dbtest::TablesEmpty(*after));
}

// Where the file records of a saved index lie: each record's start and the
// start of the name bytes it stores.
struct FileRecordAt {
  size_t at, suffixAt, suffixLength;
  uint32_t parent;
};

std::vector<FileRecordAt> FileRecords(const std::vector<uint8_t>& index) {
  using namespace qvDbFormat;
  std::vector<FileRecordAt> records;
  for (size_t at = LoadU32(index.data() + kFileOffsetAt); at < index.size();) {
    uint32_t word = Load24(index.data() + at + 8);
    records.push_back({at, at + kRecordFixedSize, WordSuffix(word), LoadU32(index.data() + at + 4)});
    at += kRecordFixedSize + WordSuffix(word) + WordFileWidth(word);
  }
  return records;
}

// A byte changed in place, the size kept (a damaged disk, not a short
// write): in a name the query finds, in a file's parent field, in the
// header's save time. Unsealed, each still reads as a well-formed file
// with another answer; through the data folder the sum refuses it, and
// the designed load then reports the mismatch, never a wrong row.
TEST_F(OfflineReader, AChangeInPlaceIsRefusedAsTheDesignedLoadRefusesIt) {
  dbtest::TempDir dir;
  auto saver = SaveInto(dir);
  const std::string path = dir.Path() + "/ntfsqs.db";
  const std::vector<uint8_t> saved = dbtest::ReadFile(path);
  const std::vector<FileRecordAt> records = FileRecords(saved);
  qvMatchOptions o;
  o.wholeName = o.pathTerms = true;
  const Query q{u"report", u""};

  std::vector<std::pair<std::string, std::vector<uint8_t>>> damages;
  for (const FileRecordAt& r : records) {
    auto name = std::string(saved.begin() + static_cast<long>(r.suffixAt),
                            saved.begin() + static_cast<long>(r.suffixAt + r.suffixLength));
    size_t found = name.find("report");
    if (found == std::string::npos) continue;
    std::vector<uint8_t> bytes = saved;
    bytes[r.suffixAt + found + 3] = 'x';  // "repxrt"
    damages.push_back({"name", bytes});
    break;
  }
  for (size_t i = 1; i < records.size(); ++i) {
    if (records[i].parent == records[0].parent) continue;
    std::vector<uint8_t> bytes = saved;
    StoreU32(bytes.data() + records[0].at + 4, records[i].parent);
    damages.push_back({"parent", bytes});
    break;
  }
  std::vector<uint8_t> header = saved;
  header[qvDbFormat::kYearAt] ^= 1;
  damages.push_back({"header", header});
  ASSERT_EQ(damages.size(), 3u);

  for (const auto& [where, bytes] : damages) {
    SCOPED_TRACE(where);
    Images unsealed = images;
    unsealed.index = bytes;
    auto inMemory = Reader();
    EXPECT_EQ(ReadInPlace(*inMemory, unsealed, {q}, o), Outcome::kLoaded);

    dbtest::WriteFile(path, bytes);
    auto app = dbtest::NewApp(dir.Path());
    dbtest::Discover(*app, volumes);
    EXPECT_EQ(qvOfflineReader::LoadForQueries(*app, nullptr, {q}, o), Outcome::kFallBack);
    EXPECT_TRUE(dbtest::TablesEmpty(*app));
    auto designed = dbtest::NewApp(dir.Path());
    dbtest::Discover(*designed, volumes);
    EXPECT_EQ(qvDatabase::LoadSavedIndex(*designed, nullptr).code(), qvStatus::Code::kMismatch);
  }
}

// An engine told it answers once but left free to save: what it read in
// place is part of the index, and saving it would replace the whole. The
// save is refused, on request and at release, and the saved set stays.
TEST(OfflineEngine, NeverSavesThePartItReadInPlace) {
  using E = qvStreamVolumeSource;
  dbtest::TempDir dir;
  auto volume = [] {
    return MakeVolume("/", {E::Folder(16, 5, u"docs"), E::File(17, 16, u"report.pdf"), E::File(18, 16, u"notes.txt"),
                            E::File(19, 5, u"main.c")});
  };
  IQvSearch* first = MakeEngine({volume()}, nullptr, dir.Path());
  ASSERT_NE(first, nullptr);
  first->Release();  // saves the whole index
  const std::vector<uint8_t> saved = dbtest::ReadFile(dir.Path("ntfsqs.db"));
  ASSERT_FALSE(saved.empty());

  auto* engine = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
  ASSERT_NE(engine, nullptr);
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  config->SetDataFolder(qvNameCodec::DecodeToString(dir.Path()).c_str());
  for (const char* option : {"offline", "answer_only", "whole_name", "path_terms"}) config->SetOption(option, "1");
  engine->SetVolumeSource(std::make_unique<qvStreamVolumeSource>(std::vector<E::Volume>{volume()}));
  engine->Search(u"report", u"", 1);
  engine->Initialize(nullptr);
  engine->WaitUntilInitialised();
  ASSERT_EQ(config->QueryValue("loaded"), 1);
  EXPECT_EQ(RowText(engine, 0), "/docs/|report.pdf");
  EXPECT_EQ(config->QueryValue("save"), EPERM);
  engine->Release();
  EXPECT_EQ(dbtest::ReadFile(dir.Path("ntfsqs.db")), saved);
}

// --- through a trigram index -------------------------------------------------

// A larger tree, so that names fill many blocks of file records and of the
// folders' pool, with the trigram index of its saved files.
class OfflineTrigrams : public SavedTreeTest {
 protected:
  void SetUp() override {
    Make(33, 3000);
    ASSERT_TRUE(qvTrigramIndex::Build(images.index.data(), images.index.size(), images.extCase.data(),
                                      images.extCase.size(), {}, trigrams));
    ASSERT_GT(full->fileList.Count(), 5 * qvTrigramIndex::kBlockRecords);
  }

  std::vector<uint8_t> trigrams;
};

// Every mode, with pinyin terms long enough for the index (names of wide
// units are found through their readings' initials): each answer read
// through the index is the whole index's, row for row.
TEST_F(OfflineTrigrams, AnswersAsTheWholeIndexInEveryMode) {
  std::mt19937 rng(11);
  const std::vector<std::string> terms = {"report", "REPORT", "rep", "notes1", "pdf", "t.p", ".tar", "port.pdf",
                                          "*.pdf", "re*t", "code/src", "/main", "baogao", "bgao", "beij", "报告",
                                          "x.y", "git", "photo main", "zzz", "rep?rt", "xrx", "_long_", "ode",
                                          "data1", "src4", ".cache"};
  const std::vector<std::string> regexes = {"^report", "pdf$", "r.p+ort", "main[0-9]", "[0-9]{2}\\.c$"};
  const std::vector<std::string> filters = {"", "", "", "pdf", "pdf txt", "jpg"};
  int through = 0;
  for (int i = 0; i < 300; ++i) {
    const auto [q, o, trace] = NextAsk(rng, terms, regexes, filters);
    SCOPED_TRACE(trace);
    auto app = Reader();
    if (ReadInPlace(*app, images, {q}, o, 256 * 1024, &trigrams) == Outcome::kFallBack) {
      EXPECT_TRUE(dbtest::TablesEmpty(*app));
      continue;
    }
    ++through;
    EXPECT_EQ(dbtest::CheckLoaded(*app, true), "");
    EXPECT_EQ(Search(*app, q, o), Search(*full, q, o));
  }
  EXPECT_GT(through, 100);
  // Several calls at once, each with its own filter.
  qvMatchOptions o;
  o.pathTerms = o.pinyin = true;
  const std::vector<Query> calls = {{u"report", u"pdf"}, {u"notes1", u""}, {u"photo2", u""}};
  auto app = Reader();
  ASSERT_EQ(ReadInPlace(*app, images, calls, o, 256 * 1024, &trigrams), Outcome::kLoaded);
  for (const Query& q : calls) EXPECT_EQ(Search(*app, q, o), Search(*full, q, o));
}

// A run under three bytes, or one that may reach into an extension, is
// not the index's to narrow: the reader falls back and leaves no record.
TEST_F(OfflineTrigrams, FallsBackWhereTheIndexCannotNarrow) {
  qvMatchOptions o;
  o.pathTerms = true;
  o.pinyin = true;
  for (const char16_t* text : {u"bg", u"ab", u"t.pdf"}) {
    qvMatchOptions mode = o;
    mode.wholeName = text[1] == u'.';
    auto app = Reader();
    EXPECT_EQ(ReadInPlace(*app, images, {{text, u""}}, mode, 256 * 1024, &trigrams), Outcome::kFallBack)
        << qvNameCodec::EncodeToString(text);
    EXPECT_TRUE(dbtest::TablesEmpty(*app));
  }
}

// The rows of an answer, each as often as it comes.
std::multiset<std::string> RowSet(const std::vector<std::string>& rows) { return {rows.begin(), rows.end()}; }

bool Within(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  const auto a = RowSet(part), b = RowSet(whole);
  return std::includes(b.begin(), b.end(), a.begin(), a.end());
}

// A damaged index is never trusted beyond the records it leads to, which
// are read and checked as any: every cut and random bytes changed either
// fall back or answer with rows of the whole index, never another row and
// never a crash.
TEST_F(OfflineTrigrams, DamagedIndexNeverCrashesNorInventsRows) {
  qvMatchOptions o;
  o.wholeName = o.pathTerms = o.pinyin = true;
  const std::vector<Query> queries = {{u"report", u""}, {u"baogao", u""}, {u"notes1", u"pdf"}};
  std::vector<std::vector<std::string>> expected;
  for (const Query& q : queries) expected.push_back(Search(*full, q, o));
  auto judge = [&](const std::vector<uint8_t>& damaged) {
    for (size_t k = 0; k < queries.size(); ++k) {
      auto app = Reader();
      if (ReadInPlace(*app, images, {queries[k]}, o, 256 * 1024, &damaged) == Outcome::kLoaded) {
        EXPECT_EQ(dbtest::CheckLoaded(*app, true), "");
        EXPECT_TRUE(Within(Search(*app, queries[k], o), expected[k]));
      } else {
        EXPECT_TRUE(dbtest::TablesEmpty(*app));
      }
    }
  };
  for (size_t cut = 0; cut < trigrams.size(); cut += 97) judge({trigrams.begin(), trigrams.begin() + cut});
  std::mt19937 rng(5);
  for (int i = 0; i < 400; ++i) {
    std::vector<uint8_t> damaged = trigrams;
    for (int k = 0; k < 2; ++k) damaged[rng() % damaged.size()] = static_cast<uint8_t>(rng());
    judge(damaged);
  }
}

// A block's first name comes from the index, and the names of the block
// after it are read against it: a byte of it changed must not put a prefix
// no record has before names the query then finds (the fuzz target found
// rows for "git" that no saved name has). For each block, the first byte
// of its first name is changed, and the query is the name's last bytes.
TEST_F(OfflineTrigrams, ADamagedFirstNameIsRefused) {
  qvMatchOptions o;
  o.pathTerms = true;
  qvImageByteSource source(trigrams.data(), trigrams.size());
  qvTrigramIndex::View view;
  ASSERT_TRUE(view.Open(source, nullptr));
  int tried = 0;
  for (uint32_t b = 0; b < view.BlockCount(); ++b) {
    qvTrigramIndex::View::BlockRun run;
    ASSERT_TRUE(view.ReadBlocks(b, b, run));
    const std::string name(run.name.begin(), run.name.end());
    if (name.size() < 10 || name.find('\x81') != std::string::npos || name[0] == '.') continue;
    const auto at = std::search(trigrams.begin(), trigrams.end(), run.name.begin(), run.name.end());
    ASSERT_NE(at, trigrams.end());
    std::vector<uint8_t> damaged = trigrams;
    damaged[static_cast<size_t>(at - trigrams.begin())] = '~';
    const Query q{qvNameCodec::DecodeToString(name.substr(name.size() - 6)), u""};
    auto app = Reader();
    if (ReadInPlace(*app, images, {q}, o, 256 * 1024, &damaged) == Outcome::kLoaded) {
      EXPECT_TRUE(Within(Search(*app, q, o), Search(*full, q, o))) << name;
    }
    ++tried;
  }
  EXPECT_GT(tried, 5);
}

// The index marks every 64th entry of "extcase.db" (the real case of an
// extension) by its file position and offset. A mark moved by damage must
// not hide an entry: the file would be shown as "x.pdf" where it is
// "x.PDF" (the fuzz target found this). Each mark's position and offset
// are moved in turn; every answer is refused or the whole index's.
TEST_F(OfflineTrigrams, ADamagedExtCaseMarkNeverHidesARealCase) {
  qvMatchOptions o;
  o.pathTerms = true;
  const uint32_t entries = LoadU32(images.extCase.data() + 4);
  const size_t marks = (entries + qvTrigramIndex::kExtCaseStride - 1) / qvTrigramIndex::kExtCaseStride;
  ASSERT_GT(marks, 4u);
  const size_t marksAt = trigrams.size() - marks * 8;
  const std::vector<Query> queries = {{u"report1", u""}, {u"photo2", u""}, {u"notes3", u""}, {u"main4", u""}};
  std::vector<std::vector<std::string>> expected;
  for (const Query& q : queries) expected.push_back(Search(*full, q, o));
  int loaded = 0;
  for (size_t m = 0; m < marks; ++m) {
    for (size_t field : {0, 4}) {
      for (int delta : {-1, 1, 6, 63, -200}) {
        std::vector<uint8_t> damaged = trigrams;
        uint8_t* at = damaged.data() + marksAt + m * 8 + field;
        StoreU32(at, LoadU32(at) + static_cast<uint32_t>(delta));
        for (size_t k = 0; k < queries.size(); ++k) {
          auto app = Reader();
          if (ReadInPlace(*app, images, {queries[k]}, o, 256 * 1024, &damaged) != Outcome::kLoaded) continue;
          ++loaded;
          EXPECT_EQ(Search(*app, queries[k], o), expected[k]) << "mark " << m << " field " << field << " " << delta;
        }
      }
    }
  }
  // The undamaged index answers these through itself.
  for (size_t k = 0; k < queries.size(); ++k) {
    auto app = Reader();
    ASSERT_EQ(ReadInPlace(*app, images, {queries[k]}, o, 256 * 1024, &trigrams), Outcome::kLoaded);
    EXPECT_EQ(Search(*app, queries[k], o), expected[k]);
  }
  EXPECT_GT(loaded, 0) << "no damaged mark was passed over";
}

// Through the data folder: the index is written only for a set left alone
// long enough for a later change to show in the files' times, is then
// read for an answer, and is passed over as soon as a file of the set is
// changed in place or the set is saved again.
TEST_F(OfflineTrigrams, IsUsedOnlyForTheSetItWasBuiltFrom) {
  dbtest::TempDir dir;
  auto saver = SaveInto(dir);
  qvMatchOptions o;
  o.wholeName = o.pathTerms = true;
  const Query q{u"report4", u""};
  auto load = [&](bool* wanted) {
    auto app = dbtest::NewApp(dir.Path());
    dbtest::Discover(*app, volumes);
    Outcome outcome = qvOfflineReader::LoadForQueries(*app, nullptr, {q}, o, wanted);
    return std::make_pair(outcome, outcome == Outcome::kLoaded ? Search(*app, q, o) : std::vector<std::string>{});
  };
  const std::string indexPath = dir.Path("ntfsqs.db"), trigramPath = dir.Path(qvTrigramIndex::kFileName);

  bool wanted = false;
  EXPECT_EQ(load(&wanted), std::make_pair(Outcome::kLoaded, Search(*full, q, o)));
  EXPECT_TRUE(wanted);
  // Just saved: not yet.
  auto writer = dbtest::NewApp(dir.Path());
  EXPECT_FALSE(qvOfflineReader::WriteTrigramIndex(*writer));
  EXPECT_TRUE(dbtest::ReadFile(trigramPath).empty());
  ASSERT_TRUE(qvOfflineReader::WriteTrigramIndex(*writer, 0));
  std::vector<uint8_t> built;
  ASSERT_TRUE(qvTrigramIndex::Build(images.index.data(), images.index.size(), images.extCase.data(),
                                    images.extCase.size(), {}, built));
  EXPECT_EQ(dbtest::ReadFile(trigramPath).size(), built.size());
  EXPECT_EQ(load(&wanted), std::make_pair(Outcome::kLoaded, Search(*full, q, o)));
  EXPECT_FALSE(wanted);

  // A name the query finds changed in place, the size kept: read through
  // the index it would answer "repxrt4". The times differ, the index is
  // passed over, and the sum refuses the file as before.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // past the clock's tick
  std::vector<uint8_t> bytes = dbtest::ReadFile(indexPath);
  const std::vector<FileRecordAt> records = FileRecords(bytes);
  bool changed = false;
  for (const FileRecordAt& r : records) {
    std::string name(bytes.begin() + static_cast<long>(r.suffixAt),
                     bytes.begin() + static_cast<long>(r.suffixAt + r.suffixLength));
    if (size_t found = name.find("report4"); found != std::string::npos) {
      bytes[r.suffixAt + found + 3] = 'x';
      changed = true;
      break;
    }
  }
  ASSERT_TRUE(changed);
  const std::vector<uint8_t> saved = dbtest::ReadFile(indexPath);
  dbtest::WriteFile(indexPath, bytes);
  EXPECT_EQ(load(&wanted).first, Outcome::kFallBack);
  EXPECT_FALSE(qvOfflineReader::WriteTrigramIndex(*writer, 0));

  // Put back and saved again (a new set): the old index is not this set's.
  dbtest::WriteFile(indexPath, saved);
  ASSERT_TRUE(qvDatabase::SaveIndex(*saver).ok());
  EXPECT_EQ(load(&wanted), std::make_pair(Outcome::kLoaded, Search(*full, q, o)));
  EXPECT_TRUE(wanted);
}

}  // namespace
