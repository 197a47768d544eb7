// One manifest entry, and also the record of what a local file holds (its
// size, version texts, last-write time and MD5) when built from a path.
#pragma once

#include <cstdint>
#include <string>

#include "qvVersionInfo.h"

// 100-nanosecond intervals since 1 January 1601, low half first.
struct FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

class CMiniUpFileParse {
 public:
  // target: the local file's full path; empty for manifest entries, whose
  // path the manifest logic composes.
  explicit CMiniUpFileParse(std::string target) : m_strTargetPath(std::move(target)) {}

  // Fills Length, FileName, the version texts, FileDate and FileHash from
  // the file at the target path; true when any of version, time or hash
  // could be read.
  bool ReadLocalInfo();

  // Whether the local file differs from this entry: a missing or
  // unreadable target needs an update; otherwise a different MD5, or an
  // equal MD5 with a different FileVersion text, does.
  bool NeedUpdate();

  // Each returns 0 on success, negative on failure.
  int GetVersionInfo(const std::string& path);
  int GetLastWriteTime(const std::string& path);
  int GetFileHash(const std::string& path);

  VS_FIXEDFILEINFO m_FixedFileInfo{};
  int64_t m_Length = 0;
  std::string m_FileName;
  std::string m_FileVersion;
  std::string m_ProductVersion;
  bool m_bRegister = false;
  std::string m_InstallDir = "CURRENTDIR";
  bool m_bZipFile = false;
  bool m_bForceOverwrite = false;
  bool m_bExecute = false;
  std::string m_ExecutePar;
  std::string m_LocalPath;
  FILETIME m_FileDate{};
  std::string m_strTargetPath;
  std::string m_URL;
  std::string m_UserName;
  std::string m_Password;
  std::string m_FileHash;
  bool m_bNeedUpdate = false;
  // FileName or LocalPath would lead outside the base folder: the entry
  // has no target path and is never written.
  bool m_bPathRefused = false;
};
