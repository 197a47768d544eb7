// libFuzzer target for "extcase.db", read against a small loaded index of
// files with extensions of every case. A refused file leaves empty tables;
// a taken one only gives files the case of their own extension.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "database_fixture.h"
#include "qvExtCaseFile.h"
#include "qvPackedName.h"

namespace {

using E = qvStreamVolumeSource;

std::vector<dbtest::VolumeSpec> Volumes() {
  return {{0, "/", 1, 0, 0,
           {E::Folder(16, 5, u"d"), E::File(17, 16, u"a.JPG"), E::File(18, 16, u"b.jpg"), E::File(19, 5, u"c.Txt"),
            E::File(20, 5, u"noext"), E::File(21, 16, u"e.TXT")}}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto app = dbtest::NewApp();
  dbtest::Scan(*app, Volumes());
  app->extCase.Clear();
  qvStatus status = qvExtCaseFile::LoadImage(*app, data, size);
  if (!status.ok()) {
    if (!dbtest::TablesEmpty(*app) || app->extCase.Size() != 0) {
      std::fprintf(stderr, "a refused file left records behind\n");
      std::abort();
    }
    return 0;
  }
  bool wrong = false;
  app->extCase.ForEach([&](const uint8_t* record, const qvString& text) {
    const qvChar* own = app->extTable.Text(FileRecord::ExtId(record));
    if (!FileRecord::HasExtension(record) || !own || qvStrLen(own) != text.size()) wrong = true;
    for (size_t i = 0; !wrong && i < text.size(); ++i) wrong = qvFoldUnit(text[i]) != own[i];
  });
  if (wrong) {
    std::fprintf(stderr, "a file was given a text that is not its extension\n");
    std::abort();
  }
  return 0;
}
