#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "qvConvert.h"

namespace {

// The conversions follow the process locale; the tests pin it.
class Convert : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(std::setlocale(LC_ALL, "C.UTF-8")); }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

const char kChineseUtf8[] = "\xE4\xB8\xAD\xE6\x96\x87\xE6\x90\x9C\xE7\xB4\xA2";  // 中文搜索
const qvChar kChinese[] = u"\u4E2D\u6587\u641C\u7D22";
const char kChineseGbk[] = "\xD6\xD0\xCE\xC4\xCB\xD1\xCB\xF7";

template <typename T>
struct ArrayDelete {
  void operator()(T* p) const { delete[] p; }
};
template <typename T>
using Owned = std::unique_ptr<T, ArrayDelete<T>>;

}  // namespace

TEST_F(Convert, NullAndEmptyInputs) {
  EXPECT_EQ(UnicodeToAnsi(static_cast<const qvChar*>(nullptr)), nullptr);
  EXPECT_EQ(AnsiToUnicode(static_cast<const char*>(nullptr)), nullptr);
  EXPECT_EQ(Utf8ToAnsi(static_cast<const char*>(nullptr)), nullptr);
  EXPECT_EQ(convert_UTF8_to_wchar(nullptr), nullptr);
  EXPECT_EQ(convert_wchar_to_UTF8(nullptr), nullptr);
  char buf[4] = "zz";
  EXPECT_EQ(UnicodeToUtf8(static_cast<const qvChar*>(nullptr), buf, 4), 0);

  Owned<qvChar> empty(AnsiToUnicode(""));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty.get()[0], 0);
  EXPECT_EQ(Utf8ToUnicode("", reinterpret_cast<qvChar*>(buf), 2), 1);
  EXPECT_EQ(reinterpret_cast<qvChar*>(buf)[0], 0);
  EXPECT_EQ(AnsiToUnicode(std::string()), u"");
}

TEST_F(Convert, EveryDirectionRoundTripsChineseAndAstralText) {
  const std::string utf8 = std::string(kChineseUtf8) + "\xF0\x9F\x94\x8D";  // + U+1F50D
  const qvString wide = qvString(kChinese) + u"\U0001F50D";

  EXPECT_EQ(Utf8ToUnicode(utf8), wide);
  EXPECT_EQ(UnicodeToUtf8(wide), utf8);
  // With a UTF-8 locale the ANSI forms are UTF-8.
  EXPECT_EQ(AnsiToUnicode(utf8), wide);
  EXPECT_EQ(UnicodeToAnsi(wide), utf8);
  EXPECT_EQ(AnsiToUtf8(utf8), utf8);
  EXPECT_EQ(Utf8ToAnsi(utf8), utf8);

  Owned<qvChar> w(Utf8ToUnicode(utf8.c_str()));
  ASSERT_TRUE(w);
  EXPECT_EQ(qvString(w.get()), wide);
  Owned<char> n(UnicodeToUtf8(wide.c_str()));
  ASSERT_TRUE(n);
  EXPECT_EQ(std::string(n.get()), utf8);
}

TEST_F(Convert, CallerBufferMustHoldTextAndTerminator) {
  qvChar wide[8];
  std::fill(std::begin(wide), std::end(wide), u'#');
  // Two units for the astral character plus two plus the terminator: 5.
  const char* text = "ab\xF0\x9F\x94\x8D";
  EXPECT_EQ(Utf8ToUnicode(text, wide, 4), 0);
  EXPECT_EQ(wide[0], 0);
  EXPECT_EQ(wide[4], u'#');  // nothing written past the given size
  EXPECT_EQ(Utf8ToUnicode(text, wide, 5), 1);
  EXPECT_EQ(qvString(wide), u"ab\U0001F50D");
  EXPECT_EQ(Utf8ToUnicode(text, wide, 0), 0);
  EXPECT_EQ(Utf8ToUnicode(text, nullptr, 5), 0);

  char narrow[16];
  std::memset(narrow, '#', sizeof narrow);
  EXPECT_EQ(UnicodeToAnsi(kChinese, narrow, 12), 0);  // 12 bytes + terminator
  EXPECT_EQ(narrow[12], '#');
  EXPECT_EQ(UnicodeToAnsi(kChinese, narrow, 13), 1);
  EXPECT_STREQ(narrow, kChineseUtf8);
  EXPECT_EQ(AnsiToUtf8(kChineseUtf8, narrow, 13), 1);
  EXPECT_EQ(Utf8ToAnsi(kChineseUtf8, narrow, 12), 0);
}

TEST_F(Convert, InvalidUtf8IsRejectedByTheStrictFormOnly) {
  for (const char* bad : {"\xC3\x28", "a\xFF", "\xE4\xB8", "\xED\xA0\x80", "\xC0\xAF"}) {
    EXPECT_EQ(convert_UTF8_to_wchar(bad), nullptr) << bad;
  }
  qvChar* ok = convert_UTF8_to_wchar(kChineseUtf8);
  ASSERT_TRUE(ok);
  EXPECT_EQ(qvString(ok), kChinese);
  std::free(ok);

  EXPECT_EQ(Utf8ToUnicode(std::string("a\xFF"
                                      "b")),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUnicode(std::string("x\xE4\xB8")), u"x\uFFFD\uFFFD");
}

TEST_F(Convert, UnpairedSurrogatesBecomeReplacementCharacters) {
  const qvChar lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
  char* utf8 = convert_wchar_to_UTF8(lone);
  ASSERT_TRUE(utf8);
  EXPECT_STREQ(utf8,
               "a\xEF\xBF\xBD"
               "b\xEF\xBF\xBD");
  std::free(utf8);
}

TEST_F(Convert, CharactersTheLocaleCannotHoldBecomeQuestionMarks) {
  std::setlocale(LC_ALL, "C");  // ASCII
  EXPECT_EQ(UnicodeToAnsi(qvString(u"a\u4E2Db\U0001F50D")), "a?b?");
  EXPECT_EQ(AnsiToUnicode(std::string("a\xE4")), u"a\uFFFD");
}

TEST_F(Convert, StringObjectHelpersKeepOnlyConvertedText) {
  qvString wide = u"stale";
  EXPECT_EQ(StringToWString(kChineseUtf8, wide), 1);
  EXPECT_EQ(wide, kChinese);  // no trailing zeros left over from the byte count
  std::string narrow = "stale";
  // Three bytes per character here: a limit of one byte per unit would fail.
  EXPECT_EQ(WStringToString(kChinese, narrow), 1);
  EXPECT_EQ(narrow, kChineseUtf8);
  EXPECT_EQ(StringToWString("", wide), 1);
  EXPECT_EQ(wide, u"");
}

TEST_F(Convert, GbkRoundTripsAndReplacement) {
  std::string text = kChineseUtf8;
  EXPECT_EQ(ConvertUtf8ToGBK(text), 1);
  EXPECT_EQ(text, kChineseGbk);
  EXPECT_EQ(ConvertGBKToUtf8(text), 1);
  EXPECT_EQ(text, kChineseUtf8);

  // Whatever the locale says, these two use GBK.
  std::setlocale(LC_ALL, "C");
  text = "ok \xE4\xB8\xAD \xF0\x9F\x94\x8D";
  EXPECT_EQ(ConvertUtf8ToGBK(text), 1);
  EXPECT_EQ(text, "ok \xD6\xD0 ?");
  text = "\xD6\xD0\xFF";  // a lone 0xFF is no GBK
  EXPECT_EQ(ConvertGBKToUtf8(text), 1);
  EXPECT_EQ(text, "\xE4\xB8\xAD\xEF\xBF\xBD");
}
