// The manifest: the entries of a server's XML file list, filtered down to
// the files that differ from the local copies; and, the other way round, a
// writer that produces such a manifest from local files.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "CMiniUpFileParse.h"

// The base folders of target paths, without a trailing "/": the updater's
// own folder, and the folders that stand for "WINDOWSDIR" and "SYSTEMDIR".
struct UpdaterFolders {
  std::string own;
  std::string windows;
  std::string system;
};

class CMiniUpFileXmlLogic {
 public:
  explicit CMiniUpFileXmlLogic(UpdaterFolders folders) : folders_(std::move(folders)) {}

  void RemoveAll();

  // Replaces the list by one entry per element named exactly "File" below
  // the document element. False when the file is not a well-formed XML
  // document (or exceeds the parser's limits).
  bool LoadXml(const std::string& path);
  // The same for a document in memory.
  bool LoadXmlMemory(const std::string& document);

  // Keeps only the entries that need an update and returns their number.
  unsigned GetUpdateCount();
  // Sum of the low 32 bits of Length over the entries to update, modulo 2^32.
  uint32_t GetUpdateLength();
  // Takes the first entry out of the list; null when it is empty.
  std::unique_ptr<CMiniUpFileParse> PopHead();
  size_t GetCount();

  // The writer: adds (or replaces) the entry of a local file; false when
  // nothing of the file could be read.
  bool AddLocalFile(const std::string& path);
  // Writes every entry as a GB2312 manifest; false when the file cannot be
  // written completely.
  bool SaveXml(const std::string& path);
  // One File element; sets the entry's URL from the base URL first.
  std::string FormatFileXml(CMiniUpFileParse* entry) const;
  void SetBaseUrl(std::string url) { m_strBaseUrl = std::move(url); }

  // Where an entry's file goes: composes m_strTargetPath, or refuses an
  // entry whose FileName or LocalPath would leave the base folder.
  void ComposeTargetPath(CMiniUpFileParse* entry) const;

 private:
  bool LoadDocument(void* document);

  UpdaterFolders folders_;
  std::string m_strBaseUrl;
  std::mutex lock_;
  std::list<std::unique_ptr<CMiniUpFileParse>> entries_;
};
