// The service's messages: what is written reads back the same, and what
// is cut short, overlong or lying about its counts is refused.
#include <gtest/gtest.h>

#include "qvServiceProtocol.h"

using namespace qvService;

namespace {

std::string PayloadOf(const std::string& frame) { return frame.substr(4); }

Message Read(const std::string& frame) {
  Message m;
  std::string error;
  EXPECT_TRUE(Decode(PayloadOf(frame), &m, &error)) << error;
  return m;
}

bool Refused(const std::string& payload) {
  Message m;
  std::string error;
  return !Decode(payload, &m, &error) && !error.empty();
}

}  // namespace

TEST(ServiceProtocol, EveryMessageReadsBackAsWritten) {
  SearchRequest r;
  r.query = "report \xFF 报告";
  r.extFilter = "pdf txt";
  r.match = kFilesOnly;
  r.sort = kSortSize;
  r.reverse = true;
  r.details = true;
  r.watch = true;
  r.offset = 7;
  r.limit = 1ULL << 40;
  Message m = Read(EncodeSearch(r));
  ASSERT_EQ(m.type, kSearch);
  EXPECT_EQ(m.search.query, r.query);
  EXPECT_EQ(m.search.extFilter, r.extFilter);
  EXPECT_EQ(m.search.match, r.match);
  EXPECT_EQ(m.search.sort, r.sort);
  EXPECT_TRUE(m.search.reverse && m.search.details && m.search.watch && !m.search.countOnly);
  EXPECT_EQ(m.search.offset, 7u);
  EXPECT_EQ(m.search.limit, r.limit);

  Row a{"/tmp/\xFE/", "name.txt", false, true, 12345, 1, 2, 3, 0x20};
  Row b{"", "", true, false};
  RowsFrame rows;
  ASSERT_TRUE(rows.Add(a));
  ASSERT_TRUE(rows.Add(b));
  m = Read(rows.Take());
  ASSERT_EQ(m.type, kRows);
  ASSERT_EQ(m.rows.size(), 2u);
  EXPECT_EQ(m.rows[0].Path(), "/tmp/\xFE/name.txt");
  EXPECT_EQ(m.rows[0].size, 12345u);
  EXPECT_EQ(m.rows[0].attributes, 0x20u);
  EXPECT_EQ(m.rows[1].Path(), "/");  // the root of /

  Status s;
  s.ready = true;
  s.folders = 3;
  s.files = 4;
  s.pid = 99;
  s.roots = {"/", "/home/"};
  m = Read(EncodeStatus(s));
  EXPECT_EQ(m.status.roots, s.roots);
  EXPECT_EQ(m.status.files, 4u);
  m = Read(EncodeError(kErrRefused, "refused: why"));
  EXPECT_EQ(m.error.code, kErrRefused);
  EXPECT_EQ(m.error.text, "refused: why");
}

TEST(ServiceProtocol, CutShortOverlongAndLyingMessagesAreRefused) {
  std::string search = PayloadOf(EncodeSearch(SearchRequest()));
  for (size_t n = 0; n < search.size(); ++n) EXPECT_TRUE(Refused(search.substr(0, n))) << "cut at " << n;
  EXPECT_TRUE(Refused(search + "x"));                 // bytes after the last field
  EXPECT_TRUE(Refused(std::string(1, '\x7E')));       // an unknown type
  std::string badBool = search;
  badBool[badBool.size() - 20] = 2;  // "reverse" is neither 0 nor 1
  EXPECT_TRUE(Refused(badBool));
  // A text claiming more bytes than there are.
  std::string longText = std::string(1, kSearch) + std::string("\xFF\xFF\xFF\x7F", 4);
  EXPECT_TRUE(Refused(longText));
  // A row count far beyond the bytes that follow.
  std::string rows = std::string(1, kRows) + std::string("\xFF\xFF\xFF\xFF", 4);
  EXPECT_TRUE(Refused(rows));
}

TEST(ServiceProtocol, FramesArriveInPiecesAndOversizedOnesAreCaught) {
  std::string stream = EncodeHello() + EncodeStatusRequest();
  FrameReader reader(kMaxRequestBytes);
  std::string payload;
  for (char c : stream.substr(0, stream.size() - 1)) {
    reader.Append(&c, 1);
    if (reader.Next(&payload) == FrameReader::kFrame) {
      EXPECT_EQ(static_cast<uint8_t>(payload[0]), kHello);
    }
  }
  EXPECT_TRUE(reader.Partial());
  reader.Append(&stream.back(), 1);
  ASSERT_EQ(reader.Next(&payload), FrameReader::kFrame);
  EXPECT_EQ(static_cast<uint8_t>(payload[0]), kStatus);
  EXPECT_FALSE(reader.Partial());

  FrameReader big(kMaxRequestBytes);
  big.Append("\x01\x00\x01\x00", 4);  // 65537 bytes announced
  EXPECT_EQ(big.Next(&payload), FrameReader::kTooLarge);
  FrameReader empty(kMaxRequestBytes);
  empty.Append("\0\0\0\0", 4);
  EXPECT_EQ(empty.Next(&payload), FrameReader::kEmptyFrame);

  // A row too big for what is left of a frame starts the next frame.
  RowsFrame frame;
  Row huge{std::string(4000, 'f'), std::string(255, 'n'), false};
  size_t added = 0;
  while (frame.Add(huge)) ++added;
  std::string full = frame.Take();
  EXPECT_LE(full.size() - 4, kMaxReplyBytes);
  EXPECT_EQ(Read(full).rows.size(), added);
}
