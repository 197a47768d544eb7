// Text conversions between the locale's character set ("ANSI"), UTF-8 and
// UTF-16. "ANSI" is the character set of the current locale (LC_CTYPE, as
// set by setlocale); the two GBK functions always use GBK.
//
// Every direction comes in three shapes:
//   new buffer     X* F(const Y* src): a zero-terminated array made with
//                  new[]; the caller frees it with delete[]. Null for a null
//                  source or a failed conversion.
//   caller buffer  int F(const Y* src, X* dst, int dstSize): dstSize counts
//                  elements of dst, terminator included. 1 when the whole
//                  result and its terminator fit, else 0 (dst then holds an
//                  empty text when dstSize > 0). Nothing beyond dstSize is
//                  ever written.
//   string object  std::string / qvString by value; empty on failure.
//
// Text that is not valid in its character set becomes U+FFFD; characters
// the target cannot hold become '?' (U+FFFD in UTF-8). Only
// convert_UTF8_to_wchar rejects invalid input.
//
// File names are not text: they go through qvNameCodec, which keeps every
// byte.
#pragma once

#include <string>

#include "qvTypes.h"

qvChar* AnsiToUnicode(const char* src);
int AnsiToUnicode(const char* src, qvChar* dst, int dstSize);
qvString AnsiToUnicode(const std::string& src);

char* UnicodeToAnsi(const qvChar* src);
int UnicodeToAnsi(const qvChar* src, char* dst, int dstSize);
std::string UnicodeToAnsi(const qvString& src);

char* AnsiToUtf8(const char* src);
int AnsiToUtf8(const char* src, char* dst, int dstSize);
std::string AnsiToUtf8(const std::string& src);

char* Utf8ToAnsi(const char* src);
int Utf8ToAnsi(const char* src, char* dst, int dstSize);
std::string Utf8ToAnsi(const std::string& src);

char* UnicodeToUtf8(const qvChar* src);
int UnicodeToUtf8(const qvChar* src, char* dst, int dstSize);
std::string UnicodeToUtf8(const qvString& src);

qvChar* Utf8ToUnicode(const char* src);
int Utf8ToUnicode(const char* src, qvChar* dst, int dstSize);
qvString Utf8ToUnicode(const std::string& src);

// UTF-8 to UTF-16; null for null or invalid UTF-8. The block comes from
// malloc: free it with free().
qvChar* convert_UTF8_to_wchar(const char* utf8);
// UTF-16 to UTF-8; null for null input. Freed with free().
char* convert_wchar_to_UTF8(const qvChar* text);

// `out` becomes the UTF-16 form of the ANSI text `in`; 1 on success.
int StringToWString(const std::string& in, qvString& out);
// `out` becomes the ANSI form of `in`, however many bytes it needs; 1 on
// success.
int WStringToString(const qvString& in, std::string& out);

// Re-encode in place; 1 on success, 0 leaves the text as it was.
int ConvertUtf8ToGBK(std::string& text);
int ConvertGBKToUtf8(std::string& text);
