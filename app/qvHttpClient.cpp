#include "qvHttpClient.h"

#include <curl/curl.h>

#include <QThreadPool>

#include <mutex>

namespace {

constexpr long kTimeoutSeconds = 3;

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
  auto* response = static_cast<std::string*>(user);
  // Any count other than the one delivered makes libcurl fail the transfer.
  if (!response || !data) return 0;
  response->append(data, size * count);
  return size * count;
}

// curl_easy_init would do this on first use, but not safely from two
// threads at once.
void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

int HttpGetText(const std::string& url, const std::string& cookieFile, std::string& response) {
  InitOnce();
  CURL* curl = curl_easy_init();
  if (!curl) return CURLE_FAILED_INIT;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, nullptr);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  // An empty name turns the cookie engine on without reading a file.
  curl_easy_setopt(curl, CURLOPT_COOKIEFILE, cookieFile.c_str());
  // Requests run on worker threads: no SIGALRM-based name look-up time-outs.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTimeoutSeconds);
  CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return result;
}

void HttpGetTextAsync(QThreadPool& pool, QObject* context, std::string url, std::function<void(std::string)> done) {
  pool.start([context, url = std::move(url), done = std::move(done)]() mutable {
    std::string response;
    HttpGetText(url, std::string(), response);
    QMetaObject::invokeMethod(
        context, [done = std::move(done), response = std::move(response)] { done(response); }, Qt::QueuedConnection);
  });
}
