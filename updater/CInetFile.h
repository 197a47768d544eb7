// One download: an http or https URL fetched into a local file on a
// thread of its own, reporting each chunk and its end to a notify window.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "CTovikThread.h"
#include "qvInetResult.h"

enum DownloadKind : int { DK_SERVERLIST = 0, DK_FILELIST = 1, DK_FILE = 2 };

// The two messages a download posts; wParam holds the kind in its high
// word and, in its low word, the chunk's size or the result code.
inline constexpr uint32_t WM_USER = 0x400;
inline constexpr uint32_t WM_INET_PROGRESS = WM_USER + 100;
inline constexpr uint32_t WM_INET_DONE = WM_USER + 101;

inline constexpr uint32_t MakeInetParam(uint32_t low, uint32_t kind) { return (kind << 16) | (low & 0xFFFF); }
inline constexpr uint32_t InetParamLow(uint32_t wParam) { return wParam & 0xFFFF; }
inline constexpr uint32_t InetParamKind(uint32_t wParam) { return wParam >> 16; }

// The bytes of one read, and so the largest chunk a progress message reports.
inline constexpr uint32_t kInetChunkSize = 1024;
// Server lists and manifests carry no expected length; they stop here.
inline constexpr uint64_t kInetListLimit = 64ull << 20;
// Appended to a file's target path while it downloads.
inline constexpr char kUpdateSuffix[] = ".update";

class CInetFile;

// Receives the messages of downloads, from their threads: an implementation
// hands them over to its own thread.
class CNotifyWindow {
 public:
  virtual ~CNotifyWindow() = default;
  virtual void PostMessage(uint32_t message, uint32_t wParam, CInetFile* file) = 0;
};

class CInetFile : public CTovikThread {
 public:
  CInetFile();
  ~CInetFile() override;

  // Counts the start, waits for an earlier run, clears the cancel flag and
  // starts the thread.
  bool Start();
  void Cancel() { m_bCancel = true; }

  // Where the bytes go while they arrive: the local path, with ".update"
  // appended for a file.
  std::string DownloadPath() const;

  std::string m_strErrorText = kInetInitialErrorText;
  bool m_bStatusCallback = false;
  int m_nKind = DK_FILE;
  std::string m_strLocalPath;
  std::string m_strDisplayName;
  std::string m_strUrl;
  CNotifyWindow* m_pNotifyWnd = nullptr;
  std::string m_strServerName;
  std::atomic<bool> m_bCancel{false};
  int m_nStartCount = 0;
  std::atomic<uint32_t> m_dwReceived{0};
  uint32_t m_dwLength = 0;
  bool m_bRegister = false;
  bool m_bZipFile = false;
  bool m_bForceOverwrite = false;
  bool m_bExecute = false;
  std::string m_strExecutePar;
  // Checked before a file is handed over for installation: its MD5 (when
  // not empty), and that the manifest gave no unsafe path.
  std::string m_strFileHash;
  bool m_bPathRefused = false;
  // A certificate bundle to trust besides the system's; empty for none.
  std::string m_strCaFile;

 protected:
  void Run() override;

 private:
  int Transfer();
  int CheckFile(uint64_t received);
};
