// Plain HTTP GET of a short text (the version answer, the usage report)
// over libcurl's easy interface, one handle per request.
#pragma once

#include <QObject>

#include <functional>
#include <string>

class QThreadPool;

// Appends the body the server sends to `response` and returns libcurl's
// result code (CURLE_FAILED_INIT when no handle could be made). Blocks the
// calling thread for at most the 3-second connect and transfer limits;
// callable from any thread.
int HttpGetText(const std::string& url, const std::string& cookieFile, std::string& response);

// Runs HttpGetText with an empty cookie file on `pool` and hands the body
// (what arrived, whatever the result code) to `done` on `context`'s thread, queued. The pool
// must be done before `context` is destroyed, so make it a member of the
// context (members go before the QObject part).
void HttpGetTextAsync(QThreadPool& pool, QObject* context, std::string url, std::function<void(std::string)> done);
