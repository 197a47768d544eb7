// What the user keeps out of the index: whole folders named by their
// absolute path, and names (of folders or files) matched by a pattern with
// '*' (any run of characters) and '?' (one character). A folder that is
// left out takes everything below it along. Names and paths are the bytes
// the file system gives; patterns compare them exactly (letter case counts).
//
// The rules are text, one rule per line ('\n'): a line starting with '/' is
// a folder, any other non-empty line a name pattern. A set of rules never
// changes once made; a change of the rules is a new set.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class qvExclusions {
 public:
  // Reads rules from text. False, with the offending line in *badRule,
  // when a line is neither a folder path nor a name pattern: a pattern
  // holding '/', a path with an empty, "." or ".." part that cannot be
  // made plain. Blank lines (and a '\r' before the '\n') are skipped.
  static bool Parse(std::string_view text, qvExclusions* out, std::string* badRule = nullptr);

  bool Empty() const { return folders_.empty() && names_.empty(); }
  bool HasNames() const { return !names_.empty(); }
  bool HasFolders() const { return !folders_.empty(); }
  // The folder rules as plain absolute paths without a final '/' ("/" for
  // the root of everything), and the name patterns, in the order read.
  const std::vector<std::string>& Folders() const { return folders_; }
  const std::vector<std::string>& Names() const { return names_; }
  // The rules as text again: folders, then names, one per line.
  std::string Text() const;

  // Whether a name pattern matches the whole of `name`.
  bool ExcludesName(std::string_view name) const;
  // Whether `path` (absolute; a final '/' is ignored) is an excluded
  // folder or lies below one.
  bool CoversPath(std::string_view path) const;
  // Whether the entry `name` in folder `folderPath` is left out, by its
  // name or by its path. The folder itself is taken as kept.
  bool ExcludesEntry(std::string_view folderPath, std::string_view name) const;

  // Whether a name pattern matches `name`: '*' any run of characters,
  // '?' exactly one character (a whole UTF-8 sequence, or one byte that
  // is not part of one).
  static bool MatchPattern(std::string_view pattern, std::string_view name);

  bool operator==(const qvExclusions& other) const = default;

 private:
  std::vector<std::string> folders_;
  std::vector<std::string> names_;
};

// The folder rules as a walk below one root meets them. A walk follows a
// folder's path below the root only while that path leads towards an
// excluded folder, so the usual folder costs one comparison.
class qvExclusionScope {
 public:
  enum Step {
    kClear,     // neither excluded nor on the way to an excluded folder
    kToward,    // an excluded folder lies below it
    kExcluded,  // left out, with everything below it
  };

  // `root`: the absolute path of the walk's root (a final '/' is ignored).
  qvExclusionScope(const qvExclusions* rules, std::string_view root);

  // The root itself is excluded: nothing below it is indexed.
  bool RootExcluded() const { return rootExcluded_; }
  // Where the root stands: kToward when some excluded folder lies below it.
  Step RootStep() const { return rootExcluded_ ? kExcluded : below_.empty() ? kClear : kToward; }
  // Where the entry at `relative` (its path below the root, parts joined
  // by '/', no leading '/') stands. Only asked for entries of folders
  // that were kToward.
  Step Classify(std::string_view relative) const;
  // Whether the entry's name alone leaves it out.
  bool ExcludesName(std::string_view name) const { return rules_ && rules_->ExcludesName(name); }
  bool Active() const { return rules_ && !rules_->Empty(); }
  // The excluded folders below the root, as relative paths, sorted.
  const std::vector<std::string>& Below() const { return below_; }

 private:
  const qvExclusions* rules_;
  bool rootExcluded_ = false;
  std::vector<std::string> below_;  // excluded folders below the root, relative, sorted
};

// The rules in force, shared by the threads that read them (scans, the
// monitor, the engine's setting). Each reader takes the set as it is at
// that moment and keeps it for the whole of one walk.
class qvExclusionHolder {
 public:
  qvExclusionHolder() : rules_(std::make_shared<const qvExclusions>()) {}
  std::shared_ptr<const qvExclusions> Get() const {
    std::lock_guard<std::mutex> guard(lock_);
    return rules_;
  }
  void Set(std::shared_ptr<const qvExclusions> rules) {
    std::lock_guard<std::mutex> guard(lock_);
    rules_ = std::move(rules);
  }

 private:
  mutable std::mutex lock_;
  std::shared_ptr<const qvExclusions> rules_;
};
