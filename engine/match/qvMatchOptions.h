// How a search tests names, beyond the designed test. Every field at its
// default gives the designed search exactly: files tested by their base
// name, ASCII letters of either case alike, no pinyin, hidden items shown,
// the query's words taken as name terms.
#pragma once

struct qvMatchOptions {
  // Files tested by their whole name as shown ("report.pdf"), not by the
  // base name alone ("report").
  bool wholeName = false;
  // ASCII letters compared exactly.
  bool matchCase = false;
  // A term of ASCII letters also finds CJK names by their readings.
  bool pinyin = false;
  // Items whose name, or a folder's above them, begins with "." are shown.
  bool showHidden = true;
  // The whole query is one regular expression.
  bool regex = false;
  // A term holding "/" is tested against the item's path.
  bool pathTerms = false;
  // The query may begin with "regex:" and "case:", which turn those modes
  // on for that search.
  bool prefixes = false;

  bool Designed() const { return !wholeName && !matchCase && !pinyin && showHidden && !regex && !pathTerms && !prefixes; }
};
