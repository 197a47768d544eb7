// Shows items in the desktop's file manager with each one selected,
// through the session bus's org.freedesktop.FileManager1.ShowItems call.
// Where no bus or no file manager answers, `fallback` runs instead (the
// caller opens the containing folders).
#pragma once

#include <QByteArrayList>
#include <QObject>

#include <functional>

namespace qvFileManager {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kPath = "/org/freedesktop/FileManager1";
constexpr const char* kInterface = "org.freedesktop.FileManager1";

// `uris` are file URIs. The call is made without waiting; `fallback` runs
// on `context`'s thread when the call fails, at once when there is no bus.
void ShowItems(const QByteArrayList& uris, QObject* context, std::function<void()> fallback);

}  // namespace qvFileManager
