// A settings file in the private-profile (INI) form:
//
//   [section]
//   key = value
//
// Reading follows the classic profile rules: section and key names compare
// ignoring letter case, names and values are trimmed, a value enclosed in
// one pair of matching quotes loses them, the first matching section and
// the first matching key in it win, lines starting with ';' or '#' are
// comments, and a missing file, section or key gives the default (with
// its trailing blanks removed). The file is UTF-8 (a byte-order mark is
// skipped) and is read afresh on every call.
#pragma once

#include <optional>

#include "qvTypes.h"

class CIni {
 public:
  CIni() = default;
  explicit CIni(const qvChar* path) { SetPath(path); }
  CIni(const CIni&) = delete;
  CIni& operator=(const CIni&) = delete;
  virtual ~CIni() = default;

  void SetPath(const qvChar* path) { path_ = path ? qvString(path) : qvString(); }
  const qvString& GetPath() const { return path_; }

  // The value of [section] key, or the default (empty for null). A null
  // section or key gives the default without reading the file.
  qvString GetString(const qvChar* section, const qvChar* key, const qvChar* defaultValue) const;

  // Sets [section] key = value, adding the section or the key where they
  // are missing and keeping every other line as it was; a null value
  // removes the key. The file is replaced in one step (written beside it,
  // then renamed), so a failed write never leaves half a file. False when
  // section or key is null, a name cannot be written in this form, or the
  // file cannot be written.
  bool WriteString(const qvChar* section, const qvChar* key, const qvChar* value) const;

 private:
  std::optional<std::string> ReadFile() const;

  qvString path_;
};
