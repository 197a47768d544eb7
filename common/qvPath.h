// Path and folder operations. The separator is '/'. Path arguments may be
// null, which counts as empty. Paths are turned into file-system bytes by
// qvNameCodec, so every name that was listed can be reached again.
#pragma once

#include <cstdint>
#include <string_view>

#include "qvTypes.h"

class qvPath {
 public:
  qvPath& operator=(const qvPath&) { return *this; }

  // The path of a result row: its folder path (ending in '/') and its
  // name. A volume root has an empty folder path and is named by its root
  // text without the final '/', so that the file system's root, whose
  // name is empty, is "/".
  static qvString RowPath(std::u16string_view folderPath, std::u16string_view name, bool isFolder);

  // The folder of the running program, from /proc/self/exe, ending in '/'.
  // Computed on the first call and cached for the life of the process.
  static qvString GetAppPath();

  // The current folder ending in '/'; empty when it cannot be found (it was
  // removed, say).
  static qvString GetCurDir();
  // $TMPDIR, or /tmp, ending in '/'.
  static qvString GetTempPathW();
  // GetRandomFileName(GetTempPathW(), name).
  static qvString GetTempFileNameW(const qvChar* name);
  // folder + base + n [+ '.' + extension] for the first n in 2..9999 under
  // which nothing exists yet (not even a dangling symbolic link); empty when
  // every one is taken. `folder` is used as given (so it should end in '/')
  // when it is an existing folder, otherwise the current folder is used. The
  // name may be taken by someone else before the caller creates it.
  static qvString GetRandomFileName(const qvChar* folder, const qvChar* name);

  // 1 when the path is not empty and something exists there (symbolic links
  // followed).
  static int IsFileExist(const qvChar* path);
  // 1 when the path is not empty and is an existing folder. Two names, one
  // function.
  static int IsDirectory(const qvChar* path);
  static int IsDirectoryExist(const qvChar* path);
  // Creates every missing folder along the path: each text before a '/'
  // after the first character. The last component is a folder only when
  // the path ends in '/'. 1 when the deepest of those folders exists
  // afterwards (or the path names none); 0 for an empty path or when a
  // folder could not be made. `mode` is given to mkdir (the umask applies).
  static int CreateDirectoryW(const qvChar* path, unsigned mode = 0777);

  // Up to and including the first '/'; the whole path when there is none.
  static qvString GetPathRoot(const qvChar* path);
  // Up to and including the last '/'; the whole path when there is none.
  static qvString GetDirectoryName(const qvChar* path);
  // After the last '/'; the whole path when there is none.
  static qvString GetFileName(const qvChar* path);
  // GetFileName cut before its last '.', if it has one (".profile" gives "").
  static qvString GetFileNameWithoutExtension(const qvChar* path);
  // After the last '.' of the whole path, even one in a folder name
  // ("/a.b/file" gives "b/file"); empty when there is no dot.
  static qvString GetExtension(const qvChar* path);
  // An absolute path is returned as it is; a relative one is put after
  // GetAppPath (the program's folder, not the current one). Not normalised.
  // Throws std::invalid_argument for an empty path.
  static qvString GetFullPath(const qvChar* path);

  // The low 32 bits of the size of the first file (sorted by name, folders
  // skipped) that matches the glob pattern; 0 when none matches.
  static uint32_t GetExistPic(const qvChar* pattern);
};
