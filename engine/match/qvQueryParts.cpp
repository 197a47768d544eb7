#include "qvQueryParts.h"

namespace {

bool StartsWith(const qvString& s, size_t at, const char16_t* prefix) {
  for (size_t i = 0; prefix[i]; ++i)
    if (at + i >= s.size() || s[at + i] != prefix[i]) return false;
  return true;
}

}  // namespace

qvQueryParts qvSplitQuery(const qvChar* query, const qvMatchOptions& options) {
  qvQueryParts parts;
  parts.regex = options.regex;
  parts.matchCase = options.matchCase;
  qvString text;
  for (size_t i = 0; query && i < QV_QUERY_MAX - 1 && query[i]; ++i) text.push_back(query[i]);

  size_t at = 0;
  while (at < text.size() && text[at] == u' ') ++at;
  // The prefixes, in either order, each at most once.
  for (bool more = options.prefixes; more;) {
    more = false;
    if (!parts.regex && StartsWith(text, at, u"regex:")) {
      parts.regex = more = true;
      at += 6;
    } else if (!parts.matchCase && StartsWith(text, at, u"case:")) {
      parts.matchCase = more = true;
      at += 5;
    }
    while (more && at < text.size() && text[at] == u' ') ++at;
  }
  if (parts.regex) {
    parts.pattern = text.substr(at);
    return parts;
  }
  while (at < text.size()) {
    size_t end = text.find(u' ', at);
    if (end == qvString::npos) end = text.size();
    qvString term = text.substr(at, end - at);
    if (options.pathTerms && term.find(u'/') != qvString::npos) {
      if (term.find_first_of(u"*?") != qvString::npos) parts.pathWildcards = true;
      parts.pathTerms.push_back(std::move(term));
    } else {
      if (!parts.nameQuery.empty()) parts.nameQuery.push_back(u' ');
      parts.nameQuery += term;
    }
    at = end;
    while (at < text.size() && text[at] == u' ') ++at;
  }
  return parts;
}
