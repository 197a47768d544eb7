#include "qvExtCaseFile.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "qvDatabaseIo.h"
#include "qvFileBaseApp.h"
#include "qvPackedName.h"
#include "qvWriteMgr.h"

namespace qvExtCaseFile {

namespace {

constexpr char kName[] = "extcase.db";
constexpr uint32_t kMagic = 0x43455651;  // "QVEC"

template <typename Fn>
void ForEachFile(qvFileBaseApp& app, Fn&& fn) {
  uint32_t index = 0;
  for (size_t p = 0; p < app.fileList.PageCount(); ++p) {
    RecordPage* page = app.fileList.Page(p);
    for (uint32_t s = page->first; s < page->end; ++s) fn(index++, page->slots[s]);
  }
}

}  // namespace

// u32 magic, u32 count, then per file: u32 position in the file list,
// u16 length in units, the units.
bool Save(qvFileBaseApp& app) {
  std::string path = qvDbIo::DataFilePath(app, kName);
  if (app.extCase.Size() == 0) {
    std::remove(path.c_str());
    return true;
  }
  CWriteMgr out(app.heap);
  out.AppendU32(kMagic);
  out.AppendU32(0);
  uint32_t count = 0;
  ForEachFile(app, [&](uint32_t index, const uint8_t* record) {
    const qvString* real = app.extCase.Get(record);
    if (!real || real->size() > 0xFFFF) return;
    uint16_t length = static_cast<uint16_t>(real->size());
    out.AppendU32(index);
    out.Append(&length, 2);
    out.Append(real->data(), real->size() * sizeof(qvChar));
    ++count;
  });
  out.Patch(4, &count, 4);
  return out.WriteToFile(path);
}

void Load(qvFileBaseApp& app) {
  app.extCase.Clear();
  std::ifstream in(qvDbIo::DataFilePath(app, kName), std::ios::binary);
  if (!in) return;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = 0;
  auto take = [&](void* dst, size_t n) {
    if (bytes.size() - at < n) return false;
    std::memcpy(dst, bytes.data() + at, n);
    at += n;
    return true;
  };
  uint32_t magic = 0, count = 0;
  if (!take(&magic, 4) || magic != kMagic || !take(&count, 4)) return;
  uint32_t index = 0;
  uint16_t length = 0;
  bool more = count > 0 && take(&index, 4) && take(&length, 2);
  qvString text;
  ForEachFile(app, [&](uint32_t position, const uint8_t* record) {
    while (more && index < position) more = false;  // positions ascend; anything else ends the file
    if (!more || index != position) return;
    text.resize(length);
    if (!take(text.data(), length * sizeof(qvChar))) {
      more = false;
      return;
    }
    // Only the case may differ from the record's own extension.
    const qvChar* own = FileRecord::HasExtension(record) ? app.extTable.Text(FileRecord::ExtId(record)) : nullptr;
    bool same = own && qvStrLen(own) == text.size();
    for (size_t i = 0; same && i < text.size(); ++i) same = qvFoldUnit(text[i]) == own[i];
    if (same) app.extCase.Set(record, text.data(), text.size());
    uint32_t previous = index;
    more = --count > 0 && take(&index, 4) && take(&length, 2) && index > previous;
  });
}

}  // namespace qvExtCaseFile
