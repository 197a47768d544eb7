// The index service's protocol: length-prefixed messages over a local
// stream socket. Every message is a frame: a 32-bit little-endian length,
// then that many bytes whose first is the message type. Numbers are
// little-endian; a text is a 32-bit length and its bytes (names are bytes
// on Linux, so texts are not required to be UTF-8).
//
// A client starts with kHello; the service answers kHelloOk or kError.
// Then, in any order: kSearch (answered by kAnswer, kRows..., kAnswerEnd,
// and again after every change that alters the answer when it asks to
// watch), kStatus (answered by kStatusReply), kUnwatch. Anything else is
// answered by kError; a frame that cannot be read ends the connection.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qvService {

constexpr uint32_t kMagic = 0x31535651;  // "QVS1"
constexpr uint32_t kVersion = 1;

// A request never needs more: a query and a filter of 1023 characters.
constexpr size_t kMaxRequestBytes = 64 * 1024;
// Rows come in frames of at most this size (a row is at most two paths).
constexpr size_t kMaxReplyBytes = 1024 * 1024;

enum MsgType : uint8_t {
  kHello = 1,
  kSearch = 2,
  kStatus = 3,
  kUnwatch = 4,
  kHelloOk = 0x81,
  kAnswer = 0x82,
  kRows = 0x83,
  kAnswerEnd = 0x84,
  kStatusReply = 0x85,
  kError = 0x8F,
};

// Error codes of kError.
enum ErrorCode : uint32_t {
  kErrMalformed = 1,   // the frame or a field could not be read
  kErrVersion = 2,     // another protocol version
  kErrUnknown = 3,     // a message type this service does not know
  kErrRefused = 4,     // another user's client
  kErrBusy = 5,        // too many clients or too much buffered output
  kErrOrder = 6,       // a request before kHello
  kErrArgument = 7,    // a field out of range
  kErrEngine = 8,      // the engine could not answer
};

// kSearch's match options.
enum MatchBits : uint32_t {
  kFoldersOnly = 1,
  kFilesOnly = 2,
  // How names are tested (see the engine's search options).
  kMatchCase = 4,
  kRegex = 8,
  kBaseName = 16,   // files by their base name, not their whole name
  kNoPinyin = 32,
  kHideHidden = 64,
};
constexpr uint32_t kKindBits = kFoldersOnly | kFilesOnly;
constexpr uint32_t kKnownMatchBits = kKindBits | kMatchCase | kRegex | kBaseName | kNoPinyin | kHideHidden;

// kSearch's sort columns (the same numbers as the engine's QV_SORT_*).
enum SortColumn : uint8_t {
  kSortStore = 0,
  kSortName = 1,
  kSortPath = 2,
  kSortSize = 3,
  kSortCreated = 4,
  kSortModified = 5,
  kSortAccessed = 6,
  kSortAttributes = 7,
};

struct SearchRequest {
  std::string query;      // the terms joined by blanks, as typed
  std::string extFilter;  // extensions separated by blanks
  uint32_t match = 0;     // MatchBits
  uint8_t sort = kSortStore;
  bool reverse = false;
  bool details = false;  // size, times and attributes with each row
  bool watch = false;    // send the answer again whenever it changes
  bool countOnly = false;
  uint64_t offset = 0;
  uint64_t limit = 0;  // 0: every row
};

// One row: the folder path (ending in '/', empty for a volume root) and the
// name, as bytes; with details, what GetItemDetails tells.
struct Row {
  std::string folder;
  std::string name;
  bool isFolder = false;
  bool hasDetails = false;
  uint64_t size = 0;
  uint64_t created = 0;  // FILETIME: 100 ns units since 1601-01-01 UTC
  uint64_t modified = 0;
  uint64_t accessed = 0;
  uint32_t attributes = 0;

  // The row's full path, as qvsearch prints it.
  std::string Path() const { return folder.empty() && name.empty() && isFolder ? "/" : folder + name; }
};

struct AnswerHeader {
  uint64_t answer = 0;  // counts the answers sent on this connection
  uint64_t folders = 0;
  uint64_t files = 0;
  uint64_t rows = 0;  // rows to follow, after the match, offset and limit
};

struct Status {
  bool ready = false;
  bool following = false;
  uint64_t folders = 0;
  uint64_t files = 0;
  uint32_t pid = 0;
  std::string progress;  // the last progress line while not ready
  std::vector<std::string> roots;
};

struct Error {
  uint32_t code = 0;
  std::string text;
};

// One message of either direction, decoded.
struct Message {
  MsgType type = kError;
  uint32_t magic = 0, version = 0, pid = 0;  // kHello, kHelloOk
  SearchRequest search;                      // kSearch
  AnswerHeader header;                       // kAnswer
  std::vector<Row> rows;                     // kRows
  uint64_t rowsSent = 0;                     // kAnswerEnd
  Status status;                             // kStatusReply
  Error error;                               // kError
};

// Frames. Each Encode* returns the whole frame, length prefix included.
std::string EncodeHello();
std::string EncodeHelloOk(uint32_t pid);
std::string EncodeSearch(const SearchRequest& r);
std::string EncodeStatusRequest();
std::string EncodeUnwatch();
std::string EncodeAnswer(const AnswerHeader& h);
std::string EncodeAnswerEnd(uint64_t rowsSent);
std::string EncodeStatus(const Status& s);
std::string EncodeError(uint32_t code, std::string_view text);

// Appends rows to one kRows frame at a time: Add returns false when the row
// does not fit the frame any more (Take it, then Add again).
class RowsFrame {
 public:
  RowsFrame();
  bool Add(const Row& row);
  bool Empty() const { return count_ == 0; }
  std::string Take();

 private:
  std::string body_;
  uint32_t count_ = 0;
};

// Reads frames out of a byte stream that arrives in pieces.
class FrameReader {
 public:
  enum Result { kNeedMore, kFrame, kTooLarge, kEmptyFrame };
  explicit FrameReader(size_t maxFrame) : max_(maxFrame) {}
  void Append(const char* data, size_t n);
  // Reads at most `most` bytes from the socket straight into the buffer;
  // recv's result. Pages of the buffer are touched only as bytes arrive.
  ssize_t Receive(int fd, size_t most);
  // The next whole frame's payload (type byte first) in `payload`.
  Result Next(std::string* payload);
  // The same without a copy: the view stays valid until the next Append
  // or Receive.
  Result Next(std::string_view* payload);
  // Bytes of a frame begun but not whole.
  bool Partial() const { return pos_ < size_; }
  size_t Buffered() const { return size_ - pos_; }

 private:
  // Room for n more bytes at the end, the consumed bytes dropped first.
  char* Room(size_t n);

  std::unique_ptr<char[]> buf_;
  size_t size_ = 0;
  size_t capacity_ = 0;
  size_t pos_ = 0;
  size_t max_;
};

// Decodes one payload (type byte first). False with the reason in `error`
// for anything that is not a well-formed message of a known type.
bool Decode(std::string_view payload, Message* out, std::string* error);

}  // namespace qvService
