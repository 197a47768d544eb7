// libFuzzer target for the trigram index read beside the saved index for an
// offline answer (qvTrigramIndex through qvOfflineReader). The saved files
// are those of a fixed tree of a few thousand entries; the input is an
// options byte, then either a whole "trigram.idx" (options bit 7) or edits
// of the tree's own index: a u32 length to cut it to, then (u32 offset,
// byte) pairs to write. What is loaded must hold together and answer only
// rows of the whole index; the index as built must answer them all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>

#include "fuzz_discovery.h"
#include "qvExtCaseFile.h"
#include "qvTrigramIndex.h"
#include "qvWriteMgr.h"

namespace {

struct Fixed {
  std::vector<dbtest::VolumeSpec> volumes;
  std::vector<uint8_t> index, ext, extCase, trigrams;
  qvFileBaseApp* whole = nullptr;
};

std::vector<uint8_t> Bytes(const CWriteMgr& out) {
  std::vector<uint8_t> bytes;
  out.ForEachChunk([&](const uint8_t* data, size_t n) { bytes.insert(bytes.end(), data, data + n); });
  return bytes;
}

// Words in either case, extensions, hidden and Chinese names, under
// folders enough to fill several blocks of the pool.
const Fixed& TheTree() {
  static const Fixed fixed = [] {
    Fixed f;
    std::mt19937 rng(17);
    const char* words[] = {"report", "Report", "notes", "src", "main", "报告", ".git", "data", "x.y", "北京"};
    const char* exts[] = {"", ".pdf", ".PDF", ".c", ".tar.gz"};
    dbtest::VolumeSpec v{0, "/", 100, 0, 1000, {}};
    std::vector<uint64_t> folders = {5};
    for (uint64_t ref = 16; ref < 16 + 2500; ++ref) {
      std::string name = std::string(words[rng() % 10]) + std::to_string(rng() % 60);
      const bool folder = rng() % 5 == 0;
      if (!folder) name += exts[rng() % 5];
      v.entries.push_back({ref, folders[rng() % folders.size()], folder ? 0x10u : 0x20u,
                           qvNameCodec::DecodeToString(name)});
      if (folder) folders.push_back(ref);
    }
    f.volumes.push_back(v);
    auto app = dbtest::NewApp();
    dbtest::Scan(*app, f.volumes);
    qvHeap& heap = app->heap;
    CWriteMgr index(heap), ext(heap), extCase(heap);
    if (!qvDatabase::BuildIndexImage(*app, index) || !qvDatabase::BuildExtImage(*app, ext) ||
        !qvExtCaseFile::BuildImage(*app, extCase))
      std::abort();
    f.index = Bytes(index);
    f.ext = Bytes(ext);
    f.extCase = Bytes(extCase);
    if (!qvTrigramIndex::Build(f.index.data(), f.index.size(), f.extCase.data(), f.extCase.size(), {}, f.trigrams))
      std::abort();
    f.whole = dbtest::NewApp().release();
    dbtest::Discover(*f.whole, f.volumes);
    if (!qvDatabase::LoadIndexImage(*f.whole, f.index.data(), f.index.size()).ok() ||
        !qvDatabase::LoadExtImage(*f.whole, f.ext.data(), f.ext.size()).ok() ||
        !qvExtCaseFile::LoadImage(*f.whole, f.extCase.data(), f.extCase.size()).ok())
      std::abort();
    return f;
  }();
  return fixed;
}

std::multiset<qvString> Rows(qvFileBaseApp& app, const qvOfflineReader::Query& query, const qvMatchOptions& options) {
  const std::vector<qvString> rows = AnswerRows(app, query, options);
  return {rows.begin(), rows.end()};
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Fixed& tree = TheTree();
  static qvFileBaseApp* app = dbtest::NewApp().release();
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  ++data;
  --size;
  std::vector<uint8_t> trigrams;
  bool untouched = false;
  if (flags & 0x80) {
    trigrams.assign(data, data + size);
  } else {
    trigrams = tree.trigrams;
    if (size >= 4) {
      uint32_t cut;
      std::memcpy(&cut, data, 4);
      if (cut < trigrams.size()) trigrams.resize(cut);
      data += 4;
      size -= 4;
    }
    untouched = trigrams.size() == tree.trigrams.size() && size < 5;
    for (; size >= 5 && !trigrams.empty(); data += 5, size -= 5) {
      uint32_t at;
      std::memcpy(&at, data, 4);
      trigrams[at % trigrams.size()] = data[4];
    }
    untouched = untouched || trigrams == tree.trigrams;
  }
  qvMatchOptions options;
  options.wholeName = flags & 1;
  options.pathTerms = true;
  options.pinyin = flags & 2;
  options.showHidden = !(flags & 4);
  static const char16_t* const kQueries[] = {u"report", u"baogao", u"notes1", u"rep?rt", u"beijing", u"data5",
                                             u"src/ main", u"git"};
  const qvOfflineReader::Query query{kQueries[(flags >> 3) & 7], (flags & 0x40) && !(flags & 0x80) ? u"pdf" : u""};
  dbtest::Discover(*app, tree.volumes);
  auto outcome = qvOfflineReader::LoadImagesForQueries(
      *app, tree.index.data(), tree.index.size(), tree.ext.data(), tree.ext.size(), tree.extCase.data(),
      tree.extCase.size(), {query}, options, 256 * 1024, trigrams.data(), trigrams.size());
  if (!KeptHoldsTogether(*app, outcome)) return 0;
  const std::multiset<qvString> kept = Rows(*app, query, options);
  const std::multiset<qvString> all = Rows(*tree.whole, query, options);
  if (!std::includes(all.begin(), all.end(), kept.begin(), kept.end()))
    Fail("a row read through the index is not one of the whole index's");
  if (untouched && kept != all) Fail("the index as built lost a row");
  return 0;
}
