// A query of any units, with any search options, searched in a small
// index: the splitting into terms, the regular expression's compile and
// literal run, the folder facts and the scan must never crash, hang or
// read out of bounds. The first byte picks the options; the rest are the
// query's UTF-16 units.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "IQvSearch.h"
#include "qvKearchImpl.h"
#include "qvStreamVolumeSource.h"

namespace {

qvKearchImpl* Engine() {
  static qvKearchImpl* engine = [] {
    auto* e = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
    auto* config = static_cast<IQvSearchConfig*>(e->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
    config->SetDataFolder(u"/nonexistent-qv-fuzz-data/");
    config->SetOption("no_save", "1");
    using E = qvStreamVolumeSource;
    E::Volume v;
    v.info.root = u"/";
    v.info.opened = true;
    v.info.journalId = 1;
    v.entries = {E::Folder(16, 5, u"code"),          E::Folder(17, 16, u"src"),
                 E::File(18, 17, u"main.c"),         E::Folder(19, 5, u".cache"),
                 E::File(20, 19, u"a.tar.gz"),       E::File(21, 5, u"\u62A5\u544A.pdf"),
                 E::File(22, 5, u"bad-\xDCFF-x"),     E::File(23, 16, u"Report.PDF"),
                 E::File(24, 5, u"\u884C\u674E.txt"), E::Folder(25, 17, u"a b.c")};
    std::vector<E::Volume> volumes;
    volumes.push_back(std::move(v));
    e->SetVolumeSource(std::make_unique<E>(std::move(volumes)));
    e->Initialize(nullptr);
    e->WaitUntilInitialised();
    return e;
  }();
  return engine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  qvKearchImpl* engine = Engine();
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  static const char* kOptions[] = {"whole_name", "match_case", "pinyin",        "show_hidden",
                                   "regex",      "path_terms", "query_prefixes"};
  for (int i = 0; i < 7; ++i) config->SetOption(kOptions[i], (data[0] >> i) & 1 ? "1" : "0");
  std::vector<qvChar> query;
  for (size_t i = 1; i + 1 < size && query.size() < 2000; i += 2)
    query.push_back(static_cast<qvChar>(data[i] | (data[i + 1] << 8)));
  query.push_back(0);
  engine->Search(query.data(), (data[0] & 0x80) ? u"pdf gz" : u"", 1);
  return 0;
}
