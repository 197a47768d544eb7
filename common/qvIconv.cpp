#include "qvIconv.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>

namespace qvIconv {

namespace {

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr const char* kUtf16 = "UTF-16LE";  // plain "UTF-16" would add a byte-order mark
#else
constexpr const char* kUtf16 = "UTF-16BE";
#endif

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `in`, appending to `out`. At input that cannot be
  // converted, `onBad` is told where it is; it returns how many input bytes
  // to skip (after appending a replacement to `out`), or 0 to give up.
  template <typename OnBad>
  bool Run(const char* in, size_t inLeft, std::string& out, OnBad onBad) {
    char chunk[1024];
    while (inLeft > 0) {
      char* src = const_cast<char*>(in);
      char* dst = chunk;
      size_t dstLeft = sizeof chunk;
      size_t r = iconv(cd_, &src, &inLeft, &dst, &dstLeft);
      int err = errno;
      out.append(chunk, static_cast<size_t>(dst - chunk));
      in = src;
      if (r != static_cast<size_t>(-1)) continue;
      if (err == E2BIG) continue;
      if (err != EILSEQ && err != EINVAL) return false;
      size_t skip = onBad(in, inLeft, out);
      if (skip == 0 || skip > inLeft) return false;
      in += skip;
      inLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
    }
    // Flush any shift sequence a stateful target needs at the end.
    char* dst = chunk;
    size_t dstLeft = sizeof chunk;
    if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
    out.append(chunk, static_cast<size_t>(dst - chunk));
    return true;
  }

 private:
  iconv_t cd_;
};

bool IsUtf8(const char* charset) {
  return strcasecmp(charset, "UTF-8") == 0 || strcasecmp(charset, "UTF8") == 0;
}

}  // namespace

const char* LocaleCharset() {
  const char* cs = nl_langinfo(CODESET);
  return cs && *cs ? cs : "ANSI_X3.4-1968";
}

bool Decode(const char* charset, std::string_view in, qvString* out, Invalid mode) {
  out->clear();
  Converter cv(kUtf16, charset);
  if (!cv.ok()) return false;
  std::string bytes;
  bool ok = cv.Run(in.data(), in.size(), bytes, [&](const char*, size_t, std::string& o) -> size_t {
    if (mode == Invalid::kFail) return 0;
    const char16_t replacement = 0xFFFD;
    o.append(reinterpret_cast<const char*>(&replacement), sizeof replacement);
    return 1;
  });
  if (!ok) return false;
  out->resize(bytes.size() / sizeof(qvChar));
  std::memcpy(out->data(), bytes.data(), out->size() * sizeof(qvChar));
  return true;
}

bool Encode(const char* charset, std::u16string_view in, std::string* out, Invalid mode) {
  out->clear();
  Converter cv(charset, kUtf16);
  if (!cv.ok()) return false;
  const char* replacement = IsUtf8(charset) ? "\xEF\xBF\xBD" : "?";
  return cv.Run(reinterpret_cast<const char*>(in.data()), in.size() * sizeof(qvChar), *out,
                [&](const char* at, size_t left, std::string& o) -> size_t {
                  if (mode == Invalid::kFail) return 0;
                  o.append(replacement);
                  if (left < 4) return left < 2 ? left : 2;
                  // Skip a whole surrogate pair when that is what could not be written.
                  char16_t u[2];
                  std::memcpy(u, at, sizeof u);
                  bool pair = u[0] >= 0xD800 && u[0] <= 0xDBFF && u[1] >= 0xDC00 && u[1] <= 0xDFFF;
                  return pair ? 4 : 2;
                });
}

}  // namespace qvIconv
