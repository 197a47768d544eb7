#include "qvCliOutput.h"

#include <chrono>
#include <cstdio>
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
  int64_t Rows() const { return static_cast<int64_t>(rows_.size()); }

 private:
  std::vector<Row>& rows_;
};

// The plain form: each row's path encoded straight into the text, with
// no copy of the row between.
// With `stream`, the text is written there whenever a megabyte is ready,
// so that a long answer never sits whole in memory.
class PathText : public IQvRowSink {
 public:
  PathText(std::string& out, char end, FILE* stream) : out_(out), end_(end), stream_(stream) {
    if (stream_) out_.reserve(kChunk + kRoom);
  }
  void OnRow(int32_t, const QvRowText& t) override {
    ++rows_;
    if (t.isFolder && t.folderLength == 0 && t.nameLength == 0) {
      out_ += '/';  // a volume's root folder
    } else {
      Append(t.folderPath, t.folderLength);
      Append(t.name, t.nameLength);
    }
    out_ += end_;
    if (stream_ && out_.size() >= kChunk) Flush();
  }
  int64_t Rows() const { return rows_; }
  void Flush() {
    if (!stream_) return;
    std::fwrite(out_.data(), 1, out_.size(), stream_);
    out_.clear();
  }

 private:
  static constexpr size_t kChunk = 1 << 20;
  static constexpr size_t kRoom = 1 << 16;
  // A UTF-16 unit takes at most three bytes (a pair takes four); short
  // runs go through a buffer here, so the text is never zero-filled.
  void Append(const qvChar* units, size_t length) {
    char bytes[3 * 256];
    if (length <= 256) {
      out_.append(bytes, qvNameCodec::Encode(units, length, bytes, sizeof bytes));
      return;
    }
    const size_t at = out_.size();
    out_.resize(at + 3 * length);
    out_.resize(at + qvNameCodec::Encode(units, length, out_.data() + at, 3 * length));
  }

  std::string& out_;
  const char end_;
  FILE* const stream_;
  int64_t rows_ = 0;
};

// Every row of one answer into `sink`, which counts them; false when the
// answer changed while it was read.
template <typename Sink>
bool CopyAnswer(IQvSearchResults* results, Sink& sink, uint64_t* answer) {
  int32_t folders = 0, files = 0;
  *answer = results->GetAnswer(&folders, &files);
  int64_t total = static_cast<int64_t>(folders) + files;
  while (sink.Rows() < total) {
    int32_t first = static_cast<int32_t>(sink.Rows());
    int32_t got = results->CopyRows(*answer, first, static_cast<int32_t>(std::min<int64_t>(total - first, 4096)), &sink);
    if (got < 0) return false;
    if (got == 0) break;
  }
  return sink.Rows() == total;
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

std::string RenderCliAnswer(IQvSearch* engine, IQvSearchResults* results, const qvCliOptions& o, int32_t* rowsOut,
                            FILE* stream) {
  if (o.count) {
    int32_t folders = 0, files = 0;
    results->GetAnswer(&folders, &files);
    *rowsOut = folders + files;
    return std::to_string(*rowsOut) + "\n";
  }
  const char end = o.nul ? '\0' : '\n';
  std::vector<Row> rows;
  uint64_t answer = 0;
  // A live change between two reads starts the reading over; changes come
  // in batches, so a short pause finds a quiet moment.
  for (int tries = 1;; ++tries) {
    if (tries > 4) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::string out;
    if (!o.longForm) {
      PathText text(out, end, stream);
      // Text already written cannot be taken back: a streamed answer is
      // one that does not change.
      if (!CopyAnswer(results, text, &answer) && !stream) continue;
      text.Flush();
      *rowsOut = static_cast<int32_t>(text.Rows());
      return out;
    }
    rows.clear();
    RowCopy copy(rows);
    if (!CopyAnswer(results, copy, &answer)) continue;
    for (size_t r = 0; r < rows.size(); ++r) {
      out += LongLine(engine, static_cast<int32_t>(r), rows[r]);
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
