// What the command line asks for, and its parsing.
#pragma once

#include <string>
#include <vector>

struct qvCliOptions {
  std::vector<std::string> roots;
  std::string data;
  std::string ext;
  std::string monitor;  // "" for the best kind
  std::vector<std::string> terms;
  bool count = false;
  bool longForm = false;
  bool offline = false;
  bool noSave = false;
  bool nul = false;
  bool watch = false;
  bool stats = false;
  bool help = false;
  bool json = false;         // one JSON object per row
  bool noService = false;    // never ask the running service
  bool serviceOnly = false;  // ask the running service or fail
  bool serve = false;        // be the service until SIGTERM
  bool version = false;
  // How names are tested.
  bool regex = false;     // the terms make one regular expression
  bool matchCase = false;
  bool baseName = false;  // files by their base name, as the window's designed test
  bool noPinyin = false;
  bool hideHidden = false;
  std::vector<std::string> excludes;  // folders and name patterns left out
  // Which rows, in which order.
  int sortColumn = 0;  // a QV_SORT_* value; 0 keeps the index's order
  bool reverse = false;
  uint64_t limit = 0;  // 0: every row
};

extern const char kQvCliUsage[];

// Reads argv into `o`; false with the reason in `error`.
bool ParseCliArgs(int argc, char** argv, qvCliOptions* o, std::string* error);

// Makes the roots absolute and checks that each is a readable folder;
// false with the reason in `error`.
bool CheckCliRoots(qvCliOptions* o, std::string* error);

// The query the terms make (joined by single blanks), "*?" for none.
std::string CliQuery(const qvCliOptions& o);
// The extension filter, commas read as blanks.
std::string CliFilter(const qvCliOptions& o);

// The --exclude rules as the engine's "exclude" option takes them.
std::string CliExcludes(const qvCliOptions& o);

// The rows are read through a copy of the answer, ordered or cut, rather
// than printed as the engine holds them.
inline bool CliReordersRows(const qvCliOptions& o) { return o.sortColumn != 0 || o.reverse || o.limit != 0; }
