#include "qvServiceProtocol.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace qvService {

namespace {

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutText(std::string& s, std::string_view t) {
  Put32(s, static_cast<uint32_t>(t.size()));
  s.append(t);
}

// A payload with its length in front.
std::string Frame(const std::string& payload) {
  std::string f;
  f.reserve(payload.size() + 4);
  Put32(f, static_cast<uint32_t>(payload.size()));
  f += payload;
  return f;
}

std::string Start(MsgType type) { return std::string(1, static_cast<char>(type)); }

void PutRow(std::string& s, const Row& r) {
  s += static_cast<char>((r.isFolder ? 1 : 0) | (r.hasDetails ? 2 : 0));
  PutText(s, r.folder);
  PutText(s, r.name);
  if (r.hasDetails) {
    Put64(s, r.size);
    Put64(s, r.created);
    Put64(s, r.modified);
    Put64(s, r.accessed);
    Put32(s, r.attributes);
  }
}

// Reads fields in order; any read past the end marks it failed, and every
// later read then fails too.
class Reader {
 public:
  explicit Reader(std::string_view data) : d_(data) {}
  bool U8(uint8_t* v) {
    if (!Have(1)) return false;
    *v = static_cast<uint8_t>(d_[p_++]);
    return true;
  }
  bool U32(uint32_t* v) {
    if (!Have(4)) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) *v |= static_cast<uint32_t>(static_cast<uint8_t>(d_[p_ + i])) << (8 * i);
    p_ += 4;
    return true;
  }
  bool U64(uint64_t* v) {
    if (!Have(8)) return false;
    *v = 0;
    for (int i = 0; i < 8; ++i) *v |= static_cast<uint64_t>(static_cast<uint8_t>(d_[p_ + i])) << (8 * i);
    p_ += 8;
    return true;
  }
  bool Text(std::string* t, size_t max) {
    uint32_t n = 0;
    if (!U32(&n) || n > max || !Have(n)) return ok_ = false;
    t->assign(d_.data() + p_, n);
    p_ += n;
    return true;
  }
  bool Bool(bool* b) {
    uint8_t v = 0;
    if (!U8(&v) || v > 1) return ok_ = false;
    *b = v == 1;
    return true;
  }
  bool AtEnd() const { return ok_ && p_ == d_.size(); }
  size_t Left() const { return d_.size() - p_; }

 private:
  bool Have(size_t n) {
    if (!ok_ || d_.size() - p_ < n) return ok_ = false;
    return true;
  }
  std::string_view d_;
  size_t p_ = 0;
  bool ok_ = true;
};

// A path is at most 4096 bytes; a text field holds at most a path's worth
// plus room for a query's UTF-8 (1023 characters of up to 4 bytes).
constexpr size_t kMaxText = 8192;
constexpr size_t kMaxRoots = 64;

bool DecodeRow(Reader& in, Row* r) {
  uint8_t flags = 0;
  if (!in.U8(&flags) || flags > 3) return false;
  r->isFolder = flags & 1;
  r->hasDetails = flags & 2;
  if (!in.Text(&r->folder, kMaxText) || !in.Text(&r->name, kMaxText)) return false;
  if (r->hasDetails)
    return in.U64(&r->size) && in.U64(&r->created) && in.U64(&r->modified) && in.U64(&r->accessed) &&
           in.U32(&r->attributes);
  return true;
}

bool DecodeBody(MsgType type, Reader& in, Message* m) {
  switch (type) {
    case kHello: return in.U32(&m->magic) && in.U32(&m->version);
    case kHelloOk: return in.U32(&m->magic) && in.U32(&m->version) && in.U32(&m->pid);
    case kSearch: {
      SearchRequest& r = m->search;
      return in.Text(&r.query, kMaxText) && in.Text(&r.extFilter, kMaxText) && in.U32(&r.match) && in.U8(&r.sort) &&
             in.Bool(&r.reverse) && in.Bool(&r.details) && in.Bool(&r.watch) && in.Bool(&r.countOnly) &&
             in.U64(&r.offset) && in.U64(&r.limit);
    }
    case kStatus:
    case kUnwatch: return true;
    case kAnswer:
      return in.U64(&m->header.answer) && in.U64(&m->header.folders) && in.U64(&m->header.files) &&
             in.U64(&m->header.rows);
    case kRows: {
      uint32_t count = 0;
      // Each row takes at least nine bytes: a count beyond that is a lie.
      if (!in.U32(&count) || count > in.Left() / 9) return false;
      m->rows.resize(count);
      for (Row& r : m->rows)
        if (!DecodeRow(in, &r)) return false;
      return true;
    }
    case kAnswerEnd: return in.U64(&m->rowsSent);
    case kStatusReply: {
      Status& s = m->status;
      uint32_t roots = 0;
      if (!in.Bool(&s.ready) || !in.Bool(&s.following) || !in.U64(&s.folders) || !in.U64(&s.files) ||
          !in.U32(&s.pid) || !in.Text(&s.progress, kMaxText) || !in.U32(&roots) || roots > kMaxRoots)
        return false;
      s.roots.resize(roots);
      for (std::string& root : s.roots)
        if (!in.Text(&root, kMaxText)) return false;
      return true;
    }
    case kError: return in.U32(&m->error.code) && in.Text(&m->error.text, kMaxText);
  }
  return false;
}

bool KnownType(uint8_t t) {
  switch (t) {
    case kHello: case kSearch: case kStatus: case kUnwatch: case kHelloOk: case kAnswer: case kRows:
    case kAnswerEnd: case kStatusReply: case kError: return true;
  }
  return false;
}

}  // namespace

std::string EncodeHello() {
  std::string s = Start(kHello);
  Put32(s, kMagic);
  Put32(s, kVersion);
  return Frame(s);
}

std::string EncodeHelloOk(uint32_t pid) {
  std::string s = Start(kHelloOk);
  Put32(s, kMagic);
  Put32(s, kVersion);
  Put32(s, pid);
  return Frame(s);
}

std::string EncodeSearch(const SearchRequest& r) {
  std::string s = Start(kSearch);
  PutText(s, r.query);
  PutText(s, r.extFilter);
  Put32(s, r.match);
  s += static_cast<char>(r.sort);
  s += static_cast<char>(r.reverse);
  s += static_cast<char>(r.details);
  s += static_cast<char>(r.watch);
  s += static_cast<char>(r.countOnly);
  Put64(s, r.offset);
  Put64(s, r.limit);
  return Frame(s);
}

std::string EncodeStatusRequest() { return Frame(Start(kStatus)); }
std::string EncodeUnwatch() { return Frame(Start(kUnwatch)); }

std::string EncodeAnswer(const AnswerHeader& h) {
  std::string s = Start(kAnswer);
  Put64(s, h.answer);
  Put64(s, h.folders);
  Put64(s, h.files);
  Put64(s, h.rows);
  return Frame(s);
}

std::string EncodeAnswerEnd(uint64_t rowsSent) {
  std::string s = Start(kAnswerEnd);
  Put64(s, rowsSent);
  return Frame(s);
}

std::string EncodeStatus(const Status& st) {
  std::string s = Start(kStatusReply);
  s += static_cast<char>(st.ready);
  s += static_cast<char>(st.following);
  Put64(s, st.folders);
  Put64(s, st.files);
  Put32(s, st.pid);
  PutText(s, st.progress.substr(0, kMaxText));
  size_t roots = std::min(st.roots.size(), kMaxRoots);
  Put32(s, static_cast<uint32_t>(roots));
  for (size_t i = 0; i < roots; ++i) PutText(s, st.roots[i].substr(0, kMaxText));
  return Frame(s);
}

std::string EncodeError(uint32_t code, std::string_view text) {
  std::string s = Start(kError);
  Put32(s, code);
  PutText(s, text.substr(0, kMaxText));
  return Frame(s);
}

RowsFrame::RowsFrame() { body_ = Start(kRows) + std::string(4, '\0'); }

bool RowsFrame::Add(const Row& row) {
  size_t before = body_.size();
  PutRow(body_, row);
  if (body_.size() > kMaxReplyBytes && count_ > 0) {
    body_.resize(before);
    return false;
  }
  ++count_;
  return true;
}

std::string RowsFrame::Take() {
  for (int i = 0; i < 4; ++i) body_[1 + i] = static_cast<char>((count_ >> (8 * i)) & 0xFF);
  std::string frame = Frame(body_);
  body_ = Start(kRows) + std::string(4, '\0');
  count_ = 0;
  return frame;
}

char* FrameReader::Room(size_t n) {
  if (pos_ > 0 && (pos_ == size_ || capacity_ - size_ < n)) {
    std::memmove(buf_.get(), buf_.get() + pos_, size_ - pos_);
    size_ -= pos_;
    pos_ = 0;
  }
  if (capacity_ - size_ < n) {
    size_t capacity = std::max(capacity_ * 2, size_ + n);
    std::unique_ptr<char[]> grown(new char[capacity]);  // not zeroed: bytes are written before read
    if (size_) std::memcpy(grown.get(), buf_.get(), size_);
    buf_ = std::move(grown);
    capacity_ = capacity;
  }
  return buf_.get() + size_;
}

void FrameReader::Append(const char* data, size_t n) {
  if (n == 0) return;
  std::memcpy(Room(n), data, n);
  size_ += n;
}

ssize_t FrameReader::Receive(int fd, size_t most) {
  ssize_t got = recv(fd, Room(most), most, 0);
  if (got > 0) size_ += static_cast<size_t>(got);
  return got;
}

FrameReader::Result FrameReader::Next(std::string_view* payload) {
  if (size_ - pos_ < 4) return kNeedMore;
  const char* at = buf_.get() + pos_;
  uint32_t n = 0;
  for (int i = 0; i < 4; ++i) n |= static_cast<uint32_t>(static_cast<uint8_t>(at[i])) << (8 * i);
  if (n == 0) return kEmptyFrame;
  if (n > max_) return kTooLarge;
  if (size_ - pos_ - 4 < n) return kNeedMore;
  *payload = std::string_view(at + 4, n);
  pos_ += 4 + n;
  return kFrame;
}

FrameReader::Result FrameReader::Next(std::string* payload) {
  std::string_view view;
  Result r = Next(&view);
  if (r == kFrame) payload->assign(view);
  return r;
}

bool Decode(std::string_view payload, Message* out, std::string* error) {
  *out = Message();
  if (payload.empty()) {
    *error = "an empty message";
    return false;
  }
  uint8_t type = static_cast<uint8_t>(payload[0]);
  if (!KnownType(type)) {
    *error = "unknown message type " + std::to_string(type);
    return false;
  }
  out->type = static_cast<MsgType>(type);
  Reader in(payload.substr(1));
  if (!DecodeBody(out->type, in, out) || !in.AtEnd()) {
    *error = "a malformed message of type " + std::to_string(type);
    return false;
  }
  return true;
}

}  // namespace qvService
