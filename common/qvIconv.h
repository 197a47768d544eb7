// The one place that talks to iconv. Every conversion goes to or from
// UTF-16 in the machine's byte order, so that "cannot be represented" only
// happens when encoding and "invalid input" only when decoding.
#pragma once

#include <string>
#include <string_view>

#include "qvTypes.h"

namespace qvIconv {

// The character set of the current locale (LC_CTYPE), as iconv names it.
const char* LocaleCharset();

enum class Invalid {
  kReplace,  // invalid or unrepresentable text becomes a replacement character
  kFail,     // the conversion fails
};

// Decodes text in `charset` into UTF-16. With kReplace each invalid byte
// becomes U+FFFD. False when the charset is unknown, or on invalid input
// with kFail.
bool Decode(const char* charset, std::string_view in, qvString* out, Invalid mode);

// Encodes UTF-16 into `charset`. With kReplace a character the target cannot
// hold (and an unpaired surrogate) becomes '?', or U+FFFD for UTF-8.
bool Encode(const char* charset, std::u16string_view in, std::string* out, Invalid mode);

}  // namespace qvIconv
