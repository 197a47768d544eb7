#include "CInetFile.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "qvMd5.h"
#include "qvUpText.h"

namespace {

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using Headers = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;
using Url = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

constexpr long kConnectTimeoutSeconds = 30;
// A transfer that moves less than one byte a second for this long is broken.
constexpr long kStallSeconds = 60;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsWebUrl(const std::string& text) {
  Url url(curl_url(), &curl_url_cleanup);
  if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) return false;
  char* scheme = nullptr;
  if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return false;
  bool web = qvUpText::EqualsNoCase(scheme, "http") || qvUpText::EqualsNoCase(scheme, "https");
  curl_free(scheme);
  return web;
}

// The state of one transfer, shared with libcurl's callbacks.
struct TransferState {
  CInetFile* file;
  CURL* easy;
  std::string path;
  uint64_t limit;  // bytes allowed; 0 for no limit
  int fd = -1;
  int failure = kInetOk;  // set by a callback that stops the transfer
  uint64_t total = 0;

  ~TransferState() {
    if (fd >= 0) close(fd);
  }

  // The local file is created once the server has answered 200.
  bool Open() {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) return failure = kInetHttpStatus, false;
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return failure = kInetCreateFailed, false;
    return true;
  }

  bool WriteAll(const char* data, size_t size) {
    while (size > 0) {
      ssize_t n = write(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  // One chunk of at most kInetChunkSize bytes: written, counted, reported;
  // the cancel flag is read after each.
  bool Chunk(const char* data, size_t size) {
    if (limit > 0 && total + size > limit) return failure = kInetLengthMismatch, false;
    if (!WriteAll(data, size)) return failure = kInetWriteFailed, false;
    total += size;
    file->m_dwReceived += static_cast<uint32_t>(size);
    if (file->m_pNotifyWnd)
      file->m_pNotifyWnd->PostMessage(WM_INET_PROGRESS, MakeInetParam(static_cast<uint32_t>(size), file->m_nKind), file);
    if (file->m_bCancel) return failure = kInetCancelled, false;
    return true;
  }
};

size_t OnBody(char* data, size_t, size_t size, void* user) {
  auto* t = static_cast<TransferState*>(user);
  if (t->fd < 0 && !t->Open()) return 0;
  for (size_t done = 0; done < size; done += kInetChunkSize) {
    size_t piece = size - done < kInetChunkSize ? size - done : kInetChunkSize;
    if (!t->Chunk(data + done, piece)) return 0;
  }
  return size;
}

// Lets a close of the window end a transfer that is waiting for the server.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<TransferState*>(user);
  if (t->file->m_bCancel) {
    t->failure = kInetCancelled;
    return 1;
  }
  return 0;
}

}  // namespace

CInetFile::CInetFile() { InitCurlOnce(); }

CInetFile::~CInetFile() {
  m_bCancel = true;
  Wait();
}

bool CInetFile::Start() {
  ++m_nStartCount;
  Wait();
  m_bCancel = false;
  return CTovikThread::Start();
}

std::string CInetFile::DownloadPath() const {
  return m_nKind == DK_FILE ? m_strLocalPath + kUpdateSuffix : m_strLocalPath;
}

void CInetFile::Run() {
  int result = Transfer();
  if (const char* text = InetErrorText(result)) m_strErrorText = text;
  if (m_pNotifyWnd) m_pNotifyWnd->PostMessage(WM_INET_DONE, MakeInetParam(static_cast<uint32_t>(result), m_nKind), this);
}

int CInetFile::Transfer() {
  if (m_nKind == DK_FILE && (m_bPathRefused || m_strLocalPath.empty())) return kInetPathRefused;
  if (!IsWebUrl(m_strUrl)) return kInetBadUrl;
  Easy easy(curl_easy_init(), &curl_easy_cleanup);
  if (!easy) return kInetNetworkError;

  TransferState t{this, easy.get(), DownloadPath(), m_nKind == DK_FILE ? m_dwLength : kInetListLimit};
  Headers headers(curl_slist_append(nullptr, "Accept: */*"), &curl_slist_free_all);
  curl_slist* tail = headers ? curl_slist_append(headers.get(), "User-Agent: AutoUpdate_Tovik") : nullptr;
  if (!tail) return kInetNetworkError;

  CURL* c = easy.get();
  curl_easy_setopt(c, CURLOPT_URL, m_strUrl.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(kInetChunkSize));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
  if (!m_strCaFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, m_strCaFile.c_str());

  m_dwReceived = 0;
  CURLcode code = curl_easy_perform(c);
  if (t.failure == kInetLengthMismatch && m_nKind == DK_FILE) {
    close(t.fd);
    t.fd = -1;
    unlink(t.path.c_str());
  }
  if (t.failure != kInetOk) return t.failure;
  if (code != CURLE_OK) return kInetNetworkError;
  // An empty body still makes a (empty) file.
  if (t.fd < 0 && !t.Open()) return t.failure;
  if (close(t.fd) != 0) {
    t.fd = -1;
    return kInetWriteFailed;
  }
  t.fd = -1;
  if (m_nKind == DK_FILE) return CheckFile(t.total);
  return kInetOk;
}

// A file is handed over only when it is what the manifest announced;
// otherwise its download is removed.
int CInetFile::CheckFile(uint64_t received) {
  int result = kInetOk;
  if (m_dwLength > 0 && received != m_dwLength) {
    result = kInetLengthMismatch;
  } else if (!m_strFileHash.empty()) {
    std::optional<std::string> hash = Md5HexOfFile(DownloadPath());
    if (!hash || !qvUpText::EqualsNoCase(*hash, m_strFileHash)) result = kInetHashMismatch;
  }
  if (result != kInetOk) unlink(DownloadPath().c_str());
  return result;
}
