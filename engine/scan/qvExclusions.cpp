#include "qvExclusions.h"

#include <algorithm>

namespace {

// Bytes of the UTF-8 character at `at`; 1 for a byte that starts no
// well-formed sequence, so that every byte belongs to one character.
size_t CharLength(std::string_view s, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char lead = byte(at);
  size_t n = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
  if (n == 1 || at + n > s.size()) return 1;
  for (size_t i = 1; i < n; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 1;
  return n;
}

// An absolute path with single separators and no final '/' ("/" stays);
// false when a part is "." or "..", whose meaning depends on links.
bool PlainPath(std::string_view path, std::string* out) {
  out->clear();
  size_t at = 0;
  while (at < path.size()) {
    while (at < path.size() && path[at] == '/') ++at;
    size_t end = path.find('/', at);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(at, end - at);
    if (part == "." || part == "..") return false;
    if (!part.empty()) {
      out->push_back('/');
      out->append(part);
    }
    at = end;
  }
  if (out->empty()) *out = "/";
  return true;
}

bool IsBelowOrAt(std::string_view path, std::string_view folder) {
  if (folder == "/") return true;
  return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (path.size() == folder.size() || path[folder.size()] == '/');
}

// A path as given, without its final '/' (the root stays "/").
std::string_view WithoutFinalSlash(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

bool qvExclusions::Parse(std::string_view text, qvExclusions* out, std::string* badRule) {
  qvExclusions rules;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // a CRLF line end
    at = end + 1;
    if (line.empty()) continue;
    if (line[0] == '/') {
      std::string path;
      // A rule that ends in a carriage return would read back without it.
      if (!PlainPath(line, &path) || path.back() == '\r') {
        if (badRule) *badRule = std::string(line);
        return false;
      }
      if (std::find(rules.folders_.begin(), rules.folders_.end(), path) == rules.folders_.end())
        rules.folders_.push_back(std::move(path));
    } else {
      if (line.find('/') != std::string_view::npos || line.back() == '\r') {
        if (badRule) *badRule = std::string(line);
        return false;
      }
      if (std::find(rules.names_.begin(), rules.names_.end(), line) == rules.names_.end())
        rules.names_.emplace_back(line);
    }
  }
  *out = std::move(rules);
  return true;
}

std::string qvExclusions::Text() const {
  std::string text;
  for (const std::string& f : folders_) text += f + '\n';
  for (const std::string& n : names_) text += n + '\n';
  if (!text.empty()) text.pop_back();
  return text;
}

bool qvExclusions::MatchPattern(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      n += CharLength(name, n);
      ++p;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      // The last '*' takes one more character and the rest is tried again.
      starN += CharLength(name, starN);
      n = starN;
      p = starP + 1;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool qvExclusions::ExcludesName(std::string_view name) const {
  for (const std::string& pattern : names_)
    if (MatchPattern(pattern, name)) return true;
  return false;
}

bool qvExclusions::CoversPath(std::string_view path) const {
  path = WithoutFinalSlash(path);
  for (const std::string& folder : folders_)
    if (IsBelowOrAt(path, folder)) return true;
  return false;
}

bool qvExclusions::ExcludesEntry(std::string_view folderPath, std::string_view name) const {
  if (ExcludesName(name)) return true;
  if (folders_.empty()) return false;
  std::string path(WithoutFinalSlash(folderPath));
  if (path != "/") path.push_back('/');
  path.append(name);
  return CoversPath(path);
}

qvExclusionScope::qvExclusionScope(const qvExclusions* rules, std::string_view root) : rules_(rules) {
  if (!rules_ || !rules_->HasFolders()) return;
  root = WithoutFinalSlash(root);
  rootExcluded_ = rules_->CoversPath(root);
  if (rootExcluded_) return;
  for (const std::string& folder : rules_->Folders()) {
    if (root == "/") below_.push_back(folder.substr(1));
    else if (IsBelowOrAt(folder, root) && folder.size() > root.size()) below_.push_back(folder.substr(root.size() + 1));
  }
  std::sort(below_.begin(), below_.end());
}

qvExclusionScope::Step qvExclusionScope::Classify(std::string_view relative) const {
  if (below_.empty()) return kClear;
  if (std::binary_search(below_.begin(), below_.end(), relative)) return kExcluded;
  std::string prefix(relative);
  prefix.push_back('/');
  auto it = std::lower_bound(below_.begin(), below_.end(), prefix);
  if (it != below_.end() && it->compare(0, prefix.size(), prefix) == 0) return kToward;
  return kClear;
}
