// libFuzzer target for the saved index read in place (qvOfflineReader):
// the input is an options byte, then "ntfsqs.db" and "ext.db", each after
// its u32 length, then "extcase.db". The input's own volume table is taken
// as what discovery found. What the reader keeps must hold together, and
// where the designed loader takes the same files whole, the search must
// answer there row for row as it does on what was kept; a refusal leaves
// empty tables.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "database_fixture.h"
#include "fuzz_discovery.h"
#include "qvExtCaseFile.h"
#include "qvOfflineReader.h"
#include "qvRecordPath.h"
#include "qvSearchDriver.h"

namespace {

// Cuts `n` bytes off the front of the input after its u32 length.
bool TakePart(const uint8_t*& data, size_t& size, const uint8_t*& part, size_t& n) {
  if (size < 4) return false;
  uint32_t length;
  std::memcpy(&length, data, 4);
  data += 4;
  size -= 4;
  n = length < size ? length : size;
  part = data;
  data += n;
  size -= n;
  return true;
}

bool LoadWhole(qvFileBaseApp& app, const uint8_t* index, size_t indexSize, const uint8_t* ext, size_t extSize,
               const uint8_t* extCase, size_t extCaseSize) {
  app.ClearIndex();
  return qvDatabase::LoadIndexImage(app, index, indexSize).ok() && qvDatabase::LoadExtImage(app, ext, extSize).ok() &&
         (!extCase || qvExtCaseFile::LoadImage(app, extCase, extCaseSize).ok());
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

// The file records read a few KB at a time, as a large file is read:
// records fall across the reads.
constexpr size_t kChunk = 2100;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qvFileBaseApp* app = [] {
    auto* a = new qvFileBaseApp();
    a->extTable.Reset();
    return a;
  }();
  static qvFileBaseApp* whole = [] {
    auto* a = new qvFileBaseApp();
    a->extTable.Reset();
    return a;
  }();
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  ++data;
  --size;
  const uint8_t *index, *ext;
  size_t indexSize, extSize;
  if (!TakePart(data, size, index, indexSize) || !TakePart(data, size, ext, extSize)) return 0;
  qvMatchOptions options;
  options.wholeName = flags & 1;
  options.pathTerms = true;
  options.pinyin = flags & 2;
  options.matchCase = flags & 4;
  options.showHidden = !(flags & 8);
  options.regex = flags & 16;
  static const char16_t* const kQueries[] = {u"report", u"bg", u"a.c", u"src/ main", u"^r.*\\.c$"};
  qvOfflineReader::Query query{kQueries[(flags >> 5) % 5], (flags & 0x80) ? u"c pdf" : u""};
  DiscoverFromInput(*app, index, indexSize);
  const uint8_t* extCase = size ? data : nullptr;
  auto outcome =
      qvOfflineReader::LoadImagesForQueries(*app, index, indexSize, ext, extSize, extCase, size, {query}, options,
                                            kChunk);
  if (!KeptHoldsTogether(*app, outcome)) return 0;
  std::vector<qvString> kept = AnswerRows(*app, query, options);
  DiscoverFromInput(*whole, index, indexSize);
  if (LoadWhole(*whole, index, indexSize, ext, extSize, extCase, size) && AnswerRows(*whole, query, options) != kept)
    Fail("the answer read in place is not the whole index's");
  return 0;
}
