// The engine's interface, the application's callback interface and their
// common base, shared by the engine library and every program that loads it.
//
// Each interface is one table of virtual operations; the slot order below is
// part of the contract between separately built binaries, so never reorder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qvTypes.h"

// A 16-byte interface identifier in the usual little-endian GUID layout.
struct qvGUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(qvGUID) == 16, "identifiers are 16 bytes");

inline bool IsEqualQvGUID(const qvGUID& a, const qvGUID& b) {
  return std::memcmp(&a, &b, sizeof(qvGUID)) == 0;
}

// {344D6AD2-DC0E-4FB3-A21A-8EA186CF0D7E}
inline constexpr qvGUID IID_IQvSearch = {
    0x344D6AD2, 0xDC0E, 0x4FB3, {0xA2, 0x1A, 0x8E, 0xA1, 0x86, 0xCF, 0x0D, 0x7E}};
// {5FEEC21E-DBF3-46F0-9F57-D1CD711C46DE}
inline constexpr qvGUID IID_IUnknownEx = {
    0x5FEEC21E, 0xDBF3, 0x46F0, {0x9F, 0x57, 0xD1, 0xCD, 0x71, 0x1C, 0x46, 0xDE}};
// {794BADEB-8D92-4EEE-9645-F6B800033548}
inline constexpr qvGUID IID_IQvSearchNotify = {
    0x794BADEB, 0x8D92, 0x4EEE, {0x96, 0x45, 0xF6, 0xB8, 0x00, 0x03, 0x35, 0x48}};
// The Linux-only configuration interface of the engine (roots, data folder,
// error reporter, options): {B7C1E2A4-5D3F-4E8A-9C61-2F0A7D4B9E13}
inline constexpr qvGUID IID_IQvSearchConfig = {
    0xB7C1E2A4, 0x5D3F, 0x4E8A, {0x9C, 0x61, 0x2F, 0x0A, 0x7D, 0x4B, 0x9E, 0x13}};

// Version asked for by the application: major 1, minor 1, revision 1.
constexpr uint32_t QV_SEARCH_VERSION = 0x01010100;

// A version is accepted when the major and minor bytes are 1, the revision
// is 0 or 1, and the lowest byte is 0.
inline bool IsAcceptedQvVersion(uint32_t version) {
  return (version >> 24) == 1 && ((version >> 16) & 0xFF) == 1 && ((version >> 8) & 0xFF) <= 1 &&
         (version & 0xFF) == 0;
}

struct IUnknownEx {
  virtual void Release() = 0;                                                 // slot 0
  virtual IUnknownEx* QueryInterface(const qvGUID* iid, uint32_t version) = 0;  // slot 1
 protected:
  ~IUnknownEx() = default;
};

// Everything GetItemDetails tells about one result row. Times are FILETIME
// values: 100 ns units since 1601-01-01 UTC.
struct ItemDetails {
  qvChar name[QV_MAX_PATH];
  qvChar extension[QV_MAX_PATH];
  qvChar folderPath[QV_MAX_PATH];
  int32_t nameLength;
  uint64_t creationTime;
  uint64_t modificationTime;
  uint64_t accessTime;
  uint32_t attributes;
  int32_t iconIndex;
  uint64_t size;
  int32_t isFolder;
};

// The engine's window on the application's result list (a virtual list).
// Calls may come from any engine thread, possibly while the engine holds its
// lock: an implementation must hand them to its UI thread and never block.
struct IQvListWindow {
  virtual void SetItemCount(int32_t count) = 0;  // the list now has this many rows
  virtual void RedrawItems() = 0;                // repaint every row
 protected:
  ~IQvListWindow() = default;
};

struct IQvSearchNotify : IUnknownEx {
  // count -1: fmt and the arguments after it are a progress or status line;
  // count >= 0: the number of results, fmt is null. Texts are UTF-8.
  virtual void OnStatus(int32_t count, const char* fmt, ...) = 0;        // slot 2
  virtual void OnVolumeFound(int32_t ordinal, const qvChar* root) = 0;  // slot 3
  virtual bool IsValid() = 0;                                           // slot 4
 protected:
  ~IQvSearchNotify() = default;
};

struct IQvSearch : IUnknownEx {
  // Returns the folder icon index.
  virtual int32_t Initialize(IQvSearchNotify* sink) = 0;  // slot 2
  virtual void Search(const qvChar* query, const qvChar* extFilter, int32_t reset) = 0;  // slot 3
  virtual void SetListWindow(IQvListWindow* list) = 0;  // slot 4
  virtual int32_t GetItemDetails(ItemDetails* details, int32_t row) = 0;  // slot 5
  // Buffers hold QV_MAX_PATH units; ext may be null. Returns the length of
  // the folder path written.
  virtual int32_t GetItemText(int32_t row, qvChar* folderPath, qvChar* name, qvChar* ext) = 0;  // slot 6
  virtual int32_t GetFolderResultCount() = 0;  // slot 7
  virtual int32_t GetFileResultCount() = 0;    // slot 8
 protected:
  ~IQvSearch() = default;
};

// Receives every error text the engine would show (UTF-8, one line).
using qvErrorReporter = void (*)(void* context, const char* text);

// Set-up the engine takes before Initialize. Obtained from the engine with
// QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION); it lives as long
// as the engine and its Release does nothing.
struct IQvSearchConfig : IUnknownEx {
  // The folder that holds the database files; ends in '/'.
  virtual void SetDataFolder(const qvChar* folder) = 0;
  // Index this folder instead of the machine's volumes. Call once per
  // folder; up to 26 folders.
  virtual bool AddRoot(const qvChar* root) = 0;
  // Where error texts go (standard error by default).
  virtual void SetErrorReporter(qvErrorReporter reporter, void* context) = 0;
  // Named settings, "1" or "0": "offline" (answer from the saved index
  // alone, never scan), "no_load" (scan afresh, ignore the saved index),
  // "no_save" (do not save at release); "monitor": "off", "fanotify-fs",
  // "fanotify-marks", "inotify" (that kind or none) or "" (the best the
  // process may use). "exclude": what the index leaves out, UTF-8, one
  // rule per line: "/abs/folder" (with all below it) or a name pattern
  // with '*' and '?' (folders matching it go whole), taking effect at once
  // even while the index runs; false, keeping the rules, for a bad rule.
  // "answer_only" ("1" with "offline"): no search will come but those
  // asked before the index is ready, so the saved database is read in
  // place and only the records they may find, with their folders, are
  // built; such a part of the index is never saved.
  // How searches test names, "1" or "0", each 0 by default but
  // "show_hidden" (all at their defaults: the designed test), taking
  // effect at the next Search: "whole_name" (files by their name as
  // shown, "report.pdf", not the base name alone), "match_case" (ASCII
  // letters compared exactly), "pinyin" (a term of ASCII letters also
  // finds CJK names by the readings of their ideographs), "show_hidden"
  // (items whose name or a folder's above them begins with "."), "regex"
  // (the query is one regular expression, against the whole name, or the
  // whole path when it names "/"), "path_terms" (a term holding "/" is
  // tested against the item's path), "query_prefixes" (a query may begin
  // with "regex:" and "case:"). A refused query (an invalid regular
  // expression) finds nothing and says why in a status line.
  // Returns false for an unknown name.
  virtual bool SetOption(const char* name, const char* value) = 0;
  // Facts about the engine: "ready" (1 once the index is searchable),
  // "following" (1 once live changes are followed), "rescans" (volumes
  // scanned again after lost events), "monitor_tier" (0 none, 1 inotify,
  // 2 fanotify folder marks, 3 fanotify on the whole file system),
  // "loaded" (1 when it came from the saved database), "folders",
  // "files", "index_bytes"; how long the start took in microseconds:
  // "read_us" (volumes read into records), "build_us" (linked and sorted),
  // "load_us" (saved index loaded), and of "build_us": "link_us" (folders
  // and files linked to their parents), "sort_us" (both lists sorted),
  // "layout_us" (records laid out in list order); "sort_reading_us" (runs
  // of files sorted on a helper thread while the volumes were read); while
  // volumes are read:
  // "scan_entries" (entries read so far, all volumes) and "scan_volume"
  // (the ordinal of the volume being read, -1 before the first); each
  // search option above, 1 or 0; "query_error" (1 when the last query was
  // refused). -1 for an unknown name.
  virtual int64_t QueryValue(const char* name) = 0;
  virtual bool IsValid() = 0;
 protected:
  ~IQvSearchConfig() = default;
};

// {6A0E3F51-2C8B-4D17-A4E9-3B5F0C81D2A6}
inline constexpr qvGUID IID_IQvSearchResults = {
    0x6A0E3F51, 0x2C8B, 0x4D17, {0xA4, 0xE9, 0x3B, 0x5F, 0x0C, 0x81, 0xD2, 0xA6}};

// One result row as CopyRows hands it out. The texts are not terminated
// and are valid during the call only. The folder path is whole, whatever
// its length; it ends in '/' and is empty for a volume root, whose own
// path is its name followed by '/'.
struct QvRowText {
  const qvChar* folderPath;
  size_t folderLength;
  const qvChar* name;
  size_t nameLength;
  const qvChar* extension;  // the part after the name's last '.', or empty
  size_t extensionLength;
  int32_t isFolder;
};

// Takes the rows of CopyRows. Called under the engine lock: copy and
// return; never block or call the engine.
struct IQvRowSink {
  virtual void OnRow(int32_t row, const QvRowText& text) = 0;
 protected:
  ~IQvRowSink() = default;
};

// The current answer read without tearing, for callers on other threads
// than the one that searched (a terminal front end, a service). Obtained
// with QueryInterface(&IID_IQvSearchResults, QV_SEARCH_VERSION); it lives
// as long as the engine and its Release does nothing.
struct IQvSearchResults : IUnknownEx {
  // The current answer's id and its row counts, read together. The id
  // changes with every search and every change of the index.
  virtual uint64_t GetAnswer(int32_t* folders, int32_t* files) = 0;
  // Hands rows first .. first + count - 1 of answer `answer` to `sink`
  // under one hold of the engine lock (count is cut to 4096). Returns how
  // many rows were handed out, or -1 when `answer` is no longer the
  // current answer: the caller asks for the answer again and starts over.
  virtual int32_t CopyRows(uint64_t answer, int32_t first, int32_t count, IQvRowSink* sink) = 0;
  virtual bool IsValid() = 0;
  // Puts the current answer in order `column` (a QV_SORT_* value),
  // descending when `reverse` is not 0. Folders stay before files; each
  // group is ordered on its own and rows of equal keys keep the search's
  // order. Name order is the store's collation; path order compares the
  // folder paths name by name from the root, then the names. Sizes, times
  // and attributes are read from the disk without the engine lock, on
  // several threads, and kept until the next new search, so the caller's
  // thread waits for them (call it off the UI thread). The order is kept:
  // every later search, and the re-run after a live change, comes out in
  // it, with rows whose facts were not read yet after the others until
  // SortResults is called again. Tells no listener: the caller reads the
  // answer anew (its id changes). QV_SORT_STORE goes back to the search's
  // own order by running the search again, which reports as any search
  // does. Returns the number of rows of the answer, 0 before the index is
  // ready, -1 for an unknown column.
  virtual int32_t SortResults(int32_t column, int32_t reverse) = 0;
 protected:
  ~IQvSearchResults() = default;
};

// The orders of IQvSearchResults::SortResults.
enum : int32_t {
  QV_SORT_STORE = 0,
  QV_SORT_NAME = 1,
  QV_SORT_PATH = 2,
  QV_SORT_SIZE = 3,
  QV_SORT_CREATED = 4,
  QV_SORT_MODIFIED = 5,
  QV_SORT_ACCESSED = 6,
  QV_SORT_ATTRIBUTES = 7,
};

// The one export of the engine library.
using CreateObjcetFn = IQvSearch* (*)(const qvGUID* iid, uint32_t version);
extern "C" IQvSearch* CreateObjcet(const qvGUID* iid, uint32_t version);
