// "skin.dat": the skin files of the windows in one archive beside the
// program. The layout is small and read whole:
//
//   8 bytes   "QVSKIN1\n"
//   u32       number of files
//   per file: u32 name length, name bytes (UTF-8),
//             u32 data length, data bytes
//
// Integers are little-endian. A file that is truncated or whose lengths
// run past its end is refused as a whole.
#pragma once

#include <map>
#include <optional>
#include <string>

class qvSkinArchive {
 public:
  // Reads the archive at `path` (file-system bytes); false when it is
  // missing or malformed, leaving the archive empty.
  bool Load(const std::string& path);
  // The same from bytes in memory.
  bool Parse(const std::string& bytes);

  // The contents of the named file, if the archive holds it.
  std::optional<std::string> Find(const std::string& name) const;
  bool Empty() const { return files_.empty(); }

  // The archive form of the given files.
  static std::string Build(const std::map<std::string, std::string>& files);

 private:
  std::map<std::string, std::string> files_;
};
