#include <gtest/gtest.h>

#include <random>

#include "qvNameCodec.h"

TEST(NameCodec, ArbitraryBytesRoundTrip) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> len(0, 40), byte(0, 255), lowBias(0, 3);
  for (int i = 0; i < 20000; ++i) {
    std::string bytes;
    int n = len(rng);
    for (int k = 0; k < n; ++k) {
      // Mix plain ASCII, lead bytes and continuation bytes so that valid,
      // truncated and overlong sequences all occur.
      int b = byte(rng);
      if (lowBias(rng) == 0) b = 0x80 | (b & 0x3F);
      bytes += static_cast<char>(b ? b : 'x');
    }
    qvString wide = qvNameCodec::DecodeToString(bytes);
    ASSERT_EQ(qvNameCodec::EncodeToString(wide), bytes) << "case " << i;
  }
}

TEST(NameCodec, ValidTextDecodesNormallyInvalidBytesEscape) {
  EXPECT_EQ(qvNameCodec::DecodeToString("a\xE4\xB8\xAD\xF0\x9F\x94\x8D"), u"a\u4E2D\U0001F50D");
  EXPECT_EQ(qvNameCodec::DecodeToString("\xFF\xC0\xAF"), u"\xDCFF\xDCC0\xDCAF");
  EXPECT_EQ(qvNameCodec::DecodeToString("\xED\xA0\x80"),
            u"\xDCED\xDCA0\xDC80");  // a surrogate's bytes
}

TEST(NameCodec, BoundedOutputNeverSplitsACharacter) {
  qvChar out[4] = {u'#', u'#', u'#', u'#'};
  // 'a' then a pair: capacity 2 holds only 'a'.
  EXPECT_EQ(qvNameCodec::Decode("a\xF0\x9F\x94\x8D", 5, out, 2), 1u);
  EXPECT_EQ(out[1], u'#');
  char bytes[4] = {'#', '#', '#', '#'};
  const qvChar wide[] = u"a\u4E2D";
  EXPECT_EQ(qvNameCodec::Encode(wide, 2, bytes, 3), 1u);
  EXPECT_EQ(bytes[1], '#');
  EXPECT_EQ(qvNameCodec::Encode(wide, 2, bytes, 4), 4u);
}
