#include "qvCliOutput.h"

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "qvFormat.h"
#include "qvNameCodec.h"
#include "qvPath.h"

namespace {

struct Row {
  qvString path;
  qvString folder;
  qvString name;
  bool isFolder;
};

// Copies the rows handed out under the engine lock; prints nothing there.
class RowCopy : public IQvRowSink {
 public:
  explicit RowCopy(std::vector<Row>& rows) : rows_(rows) {}
  void OnRow(int32_t, const QvRowText& t) override {
    std::u16string_view folder(t.folderPath, t.folderLength), name(t.name, t.nameLength);
    rows_.push_back({qvPath::RowPath(folder, name, t.isFolder != 0), qvString(folder), qvString(name), t.isFolder != 0});
  }

 private:
  std::vector<Row>& rows_;
};

// Every row of one answer; false when the answer changed while it was read.
bool CopyAnswer(IQvSearchResults* results, std::vector<Row>* rows, uint64_t* answer) {
  int32_t folders = 0, files = 0;
  *answer = results->GetAnswer(&folders, &files);
  int64_t total = static_cast<int64_t>(folders) + files;
  rows->clear();
  rows->reserve(static_cast<size_t>(total));
  RowCopy copy(*rows);
  while (static_cast<int64_t>(rows->size()) < total) {
    int32_t first = static_cast<int32_t>(rows->size());
    int32_t got = results->CopyRows(*answer, first, static_cast<int32_t>(std::min<int64_t>(total - first, 4096)), &copy);
    if (got < 0) return false;
    if (got == 0) break;
  }
  return static_cast<int64_t>(rows->size()) == total;
}

std::string LongLine(IQvSearch* engine, int32_t r, const Row& row) {
  auto d = std::make_unique<ItemDetails>();
  engine->GetItemDetails(d.get(), r);
  bool folder = row.isFolder;
  auto utf8 = [](const qvString& s) { return qvNameCodec::EncodeToString(s); };
  return utf8(row.name) + '\t' + utf8(row.folder) + '\t' + qvFormatSize(d->size, folder) + '\t' +
         qvFormatFileTime(d->creationTime) + '\t' + qvFormatFileTime(d->modificationTime) + '\t' +
         qvFormatFileTime(d->accessTime) + '\t' + qvFormatAttributes(d->attributes, folder);
}

}  // namespace

std::string RenderCliAnswer(IQvSearch* engine, IQvSearchResults* results, const qvCliOptions& o, int32_t* rowsOut) {
  if (o.count) {
    int32_t folders = 0, files = 0;
    results->GetAnswer(&folders, &files);
    *rowsOut = folders + files;
    return std::to_string(*rowsOut) + "\n";
  }
  std::vector<Row> rows;
  uint64_t answer = 0;
  // A live change between two reads starts the reading over; changes come
  // in batches, so a short pause finds a quiet moment.
  for (int tries = 1;; ++tries) {
    if (!CopyAnswer(results, &rows, &answer)) {
      if (tries > 3) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    std::string out;
    const char end = o.nul ? '\0' : '\n';
    for (size_t r = 0; r < rows.size(); ++r) {
      out += o.longForm ? LongLine(engine, static_cast<int32_t>(r), rows[r]) : qvNameCodec::EncodeToString(rows[r].path);
      out += end;
    }
    // The long form's details were read row by row: the answer must still
    // be the one its names came from.
    int32_t folders = 0, files = 0;
    if (o.longForm && tries < 20 && results->GetAnswer(&folders, &files) != answer) continue;
    *rowsOut = static_cast<int32_t>(rows.size());
    return out;
  }
}
