#include "qvConvert.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "qvIconv.h"

namespace {

using qvIconv::Invalid;

constexpr const char* kUtf8 = "UTF-8";
constexpr const char* kGbk = "GBK";

// Each direction as one function over string objects; the three public
// shapes are made from it.
bool AnsiToWide(std::string_view in, qvString* out) {
  return qvIconv::Decode(qvIconv::LocaleCharset(), in, out, Invalid::kReplace);
}
bool WideToAnsi(std::u16string_view in, std::string* out) {
  return qvIconv::Encode(qvIconv::LocaleCharset(), in, out, Invalid::kReplace);
}
bool Utf8ToWide(std::string_view in, qvString* out) {
  return qvIconv::Decode(kUtf8, in, out, Invalid::kReplace);
}
bool WideToUtf8(std::u16string_view in, std::string* out) {
  return qvIconv::Encode(kUtf8, in, out, Invalid::kReplace);
}
// The two-step directions pass through UTF-16.
bool AnsiToUtf8Bytes(std::string_view in, std::string* out) {
  qvString wide;
  return AnsiToWide(in, &wide) && WideToUtf8(wide, out);
}
bool Utf8ToAnsiBytes(std::string_view in, std::string* out) {
  qvString wide;
  return Utf8ToWide(in, &wide) && WideToAnsi(wide, out);
}

template <typename T>
std::basic_string_view<T> View(const T* s) {
  return std::basic_string_view<T>(s);
}

template <typename Out>
Out* NewBuffer(const Out* data, size_t n) {
  Out* buf = new Out[n + 1]();
  std::memcpy(buf, data, n * sizeof(Out));
  return buf;
}

template <typename Out>
int CopyOut(const Out* data, size_t n, Out* dst, int dstSize) {
  if (!dst || dstSize <= 0) return 0;
  if (n >= static_cast<size_t>(dstSize)) {
    dst[0] = 0;
    return 0;
  }
  std::memcpy(dst, data, n * sizeof(Out));
  dst[n] = 0;
  return 1;
}

// The three shapes of one direction.
template <typename In, typename Out, typename Fn>
Out* ToNew(const In* src, Fn fn) {
  if (!src) return nullptr;
  std::basic_string<Out> out;
  if (!fn(View(src), &out)) return nullptr;
  return NewBuffer(out.data(), out.size());
}

template <typename In, typename Out, typename Fn>
int ToBuffer(const In* src, Out* dst, int dstSize, Fn fn) {
  if (!src) return 0;
  std::basic_string<Out> out;
  if (!fn(View(src), &out)) {
    if (dst && dstSize > 0) dst[0] = 0;
    return 0;
  }
  return CopyOut(out.data(), out.size(), dst, dstSize);
}

template <typename In, typename Out, typename Fn>
std::basic_string<Out> ToString(const std::basic_string<In>& src, Fn fn) {
  std::basic_string<Out> out;
  if (!fn(src, &out)) out.clear();
  return out;
}

}  // namespace

qvChar* AnsiToUnicode(const char* src) { return ToNew<char, qvChar>(src, AnsiToWide); }
int AnsiToUnicode(const char* src, qvChar* dst, int dstSize) {
  return ToBuffer(src, dst, dstSize, AnsiToWide);
}
qvString AnsiToUnicode(const std::string& src) { return ToString<char, qvChar>(src, AnsiToWide); }

char* UnicodeToAnsi(const qvChar* src) { return ToNew<qvChar, char>(src, WideToAnsi); }
int UnicodeToAnsi(const qvChar* src, char* dst, int dstSize) {
  return ToBuffer(src, dst, dstSize, WideToAnsi);
}
std::string UnicodeToAnsi(const qvString& src) { return ToString<qvChar, char>(src, WideToAnsi); }

char* AnsiToUtf8(const char* src) { return ToNew<char, char>(src, AnsiToUtf8Bytes); }
int AnsiToUtf8(const char* src, char* dst, int dstSize) {
  return ToBuffer(src, dst, dstSize, AnsiToUtf8Bytes);
}
std::string AnsiToUtf8(const std::string& src) {
  return ToString<char, char>(src, AnsiToUtf8Bytes);
}

char* Utf8ToAnsi(const char* src) { return ToNew<char, char>(src, Utf8ToAnsiBytes); }
int Utf8ToAnsi(const char* src, char* dst, int dstSize) {
  return ToBuffer(src, dst, dstSize, Utf8ToAnsiBytes);
}
std::string Utf8ToAnsi(const std::string& src) {
  return ToString<char, char>(src, Utf8ToAnsiBytes);
}

char* UnicodeToUtf8(const qvChar* src) { return ToNew<qvChar, char>(src, WideToUtf8); }
int UnicodeToUtf8(const qvChar* src, char* dst, int dstSize) {
  return ToBuffer(src, dst, dstSize, WideToUtf8);
}
std::string UnicodeToUtf8(const qvString& src) { return ToString<qvChar, char>(src, WideToUtf8); }

qvChar* Utf8ToUnicode(const char* src) { return ToNew<char, qvChar>(src, Utf8ToWide); }
int Utf8ToUnicode(const char* src, qvChar* dst, int dstSize) {
  return ToBuffer(src, dst, dstSize, Utf8ToWide);
}
qvString Utf8ToUnicode(const std::string& src) { return ToString<char, qvChar>(src, Utf8ToWide); }

qvChar* convert_UTF8_to_wchar(const char* utf8) {
  if (!utf8) return nullptr;
  qvString wide;
  if (!qvIconv::Decode(kUtf8, utf8, &wide, Invalid::kFail)) return nullptr;
  auto* buf = static_cast<qvChar*>(std::calloc(wide.size() + 1, sizeof(qvChar)));
  if (buf) std::memcpy(buf, wide.data(), wide.size() * sizeof(qvChar));
  return buf;
}

char* convert_wchar_to_UTF8(const qvChar* text) {
  if (!text) return nullptr;
  std::string utf8;
  if (!WideToUtf8(text, &utf8)) return nullptr;
  auto* buf = static_cast<char*>(std::calloc(utf8.size() + 1, 1));
  if (buf) std::memcpy(buf, utf8.data(), utf8.size());
  return buf;
}

int StringToWString(const std::string& in, qvString& out) {
  qvString wide;
  if (!AnsiToWide(in, &wide)) return 0;
  out = std::move(wide);
  return 1;
}

int WStringToString(const qvString& in, std::string& out) {
  std::string bytes;
  if (!WideToAnsi(in, &bytes)) return 0;
  out = std::move(bytes);
  return 1;
}

int ConvertUtf8ToGBK(std::string& text) {
  qvString wide;
  std::string gbk;
  if (!Utf8ToWide(text, &wide) || !qvIconv::Encode(kGbk, wide, &gbk, Invalid::kReplace)) return 0;
  text = std::move(gbk);
  return 1;
}

int ConvertGBKToUtf8(std::string& text) {
  qvString wide;
  std::string utf8;
  if (!qvIconv::Decode(kGbk, text, &wide, Invalid::kReplace) || !WideToUtf8(wide, &utf8)) return 0;
  text = std::move(utf8);
  return 1;
}
