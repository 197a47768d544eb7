// Builds a real engine over given entry streams, for tests that drive the
// whole path: create, initialise, scan, search, rows, release.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "IQvSearch.h"
#include "qvFileBaseApp.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"
#include "qvStreamVolumeSource.h"

// A sink that records every call.
class RecordingSink : public IQvSearchNotify {
 public:
  void Release() override {}
  IUnknownEx* QueryInterface(const qvGUID* iid, uint32_t version) override {
    if (!iid || !IsAcceptedQvVersion(version)) return nullptr;
    if (IsEqualQvGUID(*iid, IID_IQvSearchNotify) || IsEqualQvGUID(*iid, IID_IUnknownEx)) return this;
    return nullptr;
  }
  void OnStatus(int32_t count, const char* fmt, ...) override {
    std::lock_guard<std::mutex> g(lock);
    if (count >= 0 || !fmt) {
      statuses.push_back({count, fmt ? std::string(fmt) : std::string("<null>")});
      return;
    }
    char text[4096];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    statuses.push_back({count, text});
  }
  void OnVolumeFound(int32_t ordinal, const qvChar* root) override {
    std::lock_guard<std::mutex> g(lock);
    volumes.push_back({ordinal, qvNameCodec::EncodeToString(root)});
  }
  bool IsValid() override { return true; }

  std::mutex lock;
  std::vector<std::pair<int32_t, std::string>> statuses;
  std::vector<std::pair<int32_t, std::string>> volumes;
};

// A list window that records the calls it gets.
class RecordingList : public IQvListWindow {
 public:
  void SetItemCount(int32_t count) override {
    std::lock_guard<std::mutex> g(lock);
    calls.push_back("count " + std::to_string(count));
  }
  void RedrawItems() override {
    std::lock_guard<std::mutex> g(lock);
    calls.push_back("redraw");
  }
  std::mutex lock;
  std::vector<std::string> calls;
};

inline qvStreamVolumeSource::Volume MakeVolume(const std::string& root,
                                               std::vector<qvStreamVolumeSource::Entry> entries,
                                               uint64_t journalId = 0x1234) {
  qvStreamVolumeSource::Volume v;
  v.info.root = qvNameCodec::DecodeToString(root);
  v.info.opened = true;
  v.info.journalId = journalId;
  v.entries = std::move(entries);
  return v;
}

// Creates an engine over the volumes, initialised and ready (or, with
// wait = false, still initialising). dataFolder "" keeps the default.
inline qvKearchImpl* MakeEngine(std::vector<qvStreamVolumeSource::Volume> volumes, IQvSearchNotify* sink,
                                const std::string& dataFolder = "", bool wait = true) {
  IQvSearch* s = CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION);
  if (!s) return nullptr;
  auto* engine = static_cast<qvKearchImpl*>(s);
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  if (!dataFolder.empty()) config->SetDataFolder(qvNameCodec::DecodeToString(dataFolder).c_str());
  // Engines over a folder that does not exist have nowhere to save.
  if (dataFolder.empty() || dataFolder.rfind("/nonexistent", 0) == 0) config->SetOption("no_save", "1");
  engine->SetVolumeSource(std::make_unique<qvStreamVolumeSource>(std::move(volumes)));
  engine->Initialize(sink);
  if (wait) engine->WaitUntilInitialised();
  return engine;
}

// Row r as "folder path|display name".
inline std::string RowText(IQvSearch* engine, int32_t row) {
  std::vector<qvChar> path(QV_MAX_PATH), name(QV_MAX_PATH);
  engine->GetItemText(row, path.data(), name.data(), nullptr);
  return qvNameCodec::EncodeToString(path.data()) + "|" + qvNameCodec::EncodeToString(name.data());
}
