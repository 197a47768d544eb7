#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "qvHex.h"

TEST(Hex, ToHexStrNeedsRoomForTheTerminator) {
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(ToHexStr("abc", 3, buf, 6), 0);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(ToHexStr("abc", 3, buf, 7), 1);
  EXPECT_STREQ(buf, "616263");
  EXPECT_EQ(buf[7], '#');

  const unsigned char bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
  char wide[9];
  EXPECT_EQ(ToHexStr(bytes, 4, wide, sizeof wide), 1);
  EXPECT_STREQ(wide, "000FA5FF");
}

TEST(Hex, ToHexStrRejectsBadArguments) {
  char buf[8];
  EXPECT_EQ(ToHexStr(nullptr, 1, buf, 8), 0);
  EXPECT_EQ(ToHexStr("a", 1, nullptr, 8), 0);
  EXPECT_EQ(ToHexStr("a", 0, buf, 8), 0);
  EXPECT_EQ(ToHexStr("a", -1, buf, 8), 0);
  EXPECT_EQ(ToHexStr("a", 1, buf, 0), 0);
  EXPECT_EQ(ToHexStr("a", 0x40000001, buf, 8), 0);  // count * 2 would wrap an int
}

TEST(Hex, StrToHexUsesTheBytesBeforeTheTerminator) {
  char buf[8];
  EXPECT_EQ(StrToHex("abc", buf, 7), 1);
  EXPECT_STREQ(buf, "616263");
  EXPECT_EQ(StrToHex("abc", buf, 6), 0);
  EXPECT_EQ(StrToHex("", buf, 1), 1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(StrToHex(nullptr, buf, 8), 0);
}

TEST(Hex, Swaps) {
  EXPECT_EQ(Swap16(0x1234), 0x3412);
  EXPECT_EQ(Swap32(0x12345678u), 0x78563412u);
  EXPECT_EQ(Swap32(0xFF000001u), 0x010000FFu);
}

TEST(Hex, ColourTextRoundTrip) {
  EXPECT_EQ(HexStrToRGB(u"FF8000"), 0x000080FFu);
  EXPECT_EQ(qvString(RGBToHexStr(0x000080FFu)), u"ff8000");
  EXPECT_EQ(HexStrToRGB(u"0x123456"), 0x00563412u);
  EXPECT_EQ(HexStrToRGB(u" 0a0b0c;"), 0x000C0B0Au);
  EXPECT_EQ(HexStrToRGB(nullptr), 0u);
  EXPECT_EQ(qvString(RGBToHexStr(HexStrToRGB(u"c0ffee"))), u"c0ffee");
}

TEST(Hex, ColourTextBufferIsPerThread) {
  const qvChar* mine = RGBToHexStr(0x00FFFFFF);
  std::thread([] { RGBToHexStr(0); }).join();
  EXPECT_EQ(qvString(mine), u"ffffff");
}
