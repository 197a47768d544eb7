// Text helpers of the updater: the 8-bit code page of the update servers
// (GBK), trimming, case-blind comparison and the manifest's number rule.
// Strings inside the updater are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qvUpText {

// Bytes from an update server: kept as they are when they are valid UTF-8,
// otherwise decoded from GBK; a byte sequence GBK cannot decode either
// becomes U+FFFD.
std::string AnsiToUtf8(std::string_view bytes);

// UTF-8 to GB2312, the code page the manifest writer declares. Characters
// GB2312 lacks become XML character references ("&#x20AC;"), so a written
// manifest reads back to the same text; invalid UTF-8 bytes become "?".
std::string Utf8ToGb2312Xml(std::string_view utf8);

bool IsValidUtf8(std::string_view bytes);

// Removes leading and trailing blanks, tabs, CR, LF, VT and FF.
std::string_view Trim(std::string_view text);

// ASCII letters compared without regard to case; other bytes exactly.
bool EqualsNoCase(std::string_view a, std::string_view b);

// The manifest's numbers: leading white space, one sign, then decimal
// digits up to the first other character; no digits gives 0, and values
// beyond the signed 32-bit range saturate.
int32_t ParseNumber(std::string_view text);

// The halves of a file time, which the manifest writer writes unsigned:
// the same reading, but values up to 4294967295 are kept; a negative
// value keeps its 32-bit pattern.
uint32_t ParseUnsigned32(std::string_view text);

}  // namespace qvUpText
