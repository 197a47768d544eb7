// Any bytes, as a stream of frames: every frame the reader gives is
// decoded, and a message that decodes is written again and must read back
// to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "qvServiceProtocol.h"

using namespace qvService;

namespace {

std::string Reencode(const Message& m) {
  switch (m.type) {
    case kSearch: return EncodeSearch(m.search);
    case kAnswer: return EncodeAnswer(m.header);
    case kAnswerEnd: return EncodeAnswerEnd(m.rowsSent);
    case kStatusReply: return EncodeStatus(m.status);
    case kError: return EncodeError(m.error.code, m.error.text);
    case kRows: {
      RowsFrame f;
      for (const Row& r : m.rows)
        if (!f.Add(r)) return std::string();
      return f.Take();
    }
    default: return std::string();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FrameReader reader(kMaxReplyBytes);
  reader.Append(reinterpret_cast<const char*>(data), size);
  std::string payload;
  while (reader.Next(&payload) == FrameReader::kFrame) {
    Message m;
    std::string error;
    if (!Decode(payload, &m, &error)) continue;
    std::string again = Reencode(m);
    if (!again.empty() && again.substr(4) != payload) __builtin_trap();
  }
  // The whole input as one payload too (no frame around it).
  Message m;
  std::string error;
  Decode(std::string_view(reinterpret_cast<const char*>(data), size), &m, &error);
  return 0;
}
