// libFuzzer target for the saved index read in place (qvOfflineReader):
// the input is an options byte, then "ntfsqs.db" and "ext.db", each after
// its u32 length, then "extcase.db". The input's own volume table is taken
// as what discovery found. What the reader keeps must hold together and be
// searchable; a refusal leaves empty tables.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "database_fixture.h"
#include "qvOfflineReader.h"
#include "qvSearchDriver.h"

namespace {

void DiscoverFromInput(qvFileBaseApp& app, const uint8_t* data, size_t size) {
  app.volumes.Clear();
  size_t at = 44;
  for (int slot = 0; slot < QV_VOLUME_SLOTS && at < size; ++slot) {
    if (data[at++] != 1) continue;
    if (size - at < 16) return;
    uint64_t journal;
    std::memcpy(&journal, data + at, 8);
    at += 16;
    app.volumes.indexed[slot] = true;
    app.volumes.journalId[slot] = journal;
    app.volumes.firstUsn[slot] = INT64_MIN;  // every saved position is still held
  }
}

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qvFileBaseApp* app = [] {
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
  auto outcome = qvOfflineReader::LoadImagesForQueries(*app, index, indexSize, ext, extSize, size ? data : nullptr,
                                                       size, {query}, options);
  if (outcome == qvOfflineReader::Outcome::kLoaded) {
    std::string wrong = dbtest::CheckLoaded(*app, true);
    if (!wrong.empty()) {
      std::fprintf(stderr, "kept tables do not hold together: %s\n", wrong.c_str());
      std::abort();
    }
    qvString text = query.text + u'\0', filter = query.extFilter + u'\0';
    RunSearch(*app, app->patternSet, {text.data(), filter.data(), 1, &options, nullptr}, {});
  } else if (!dbtest::TablesEmpty(*app)) {
    std::fprintf(stderr, "a refused read left records behind\n");
    std::abort();
  }
  return 0;
}
