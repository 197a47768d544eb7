// The program's settings: "update.dat" (where updates, the home page and
// the usage report live; never written by this program) and
// "qvConfig.ini" (the user's choices), both in the application folder.
// Every getter reads its file afresh.
//
// qvConfig.ini keys read here:
//   [config] autorun = 0/1    start at login (absent or empty: yes)
//   [config] roots = a;b;...  folders to index instead of the machine's
//                             volumes: absolute paths or ~/..., separated
//                             by ';'; blank entries are skipped
//   [config] exclude = rule|rule|...   folders and names left out of the
//                             index (see GetExclusions), each rule
//                             percent-escaped as qvExclusionValue.h says
//   [window] geometry = x,y,width,height   the window as last left
//   [window] maximised = 0/1
//   [window] columns = w0,w1,...           result list column widths
//   [window] sort = column,reverse         -1 for the search's own order
//   [search] base_name, match_case, pinyin, hidden = 0/1   how the search
//                             box tests names (see SearchModes)
#pragma once

#include <string>
#include <vector>

#include "CIni.h"
#include "qvSingleton.h"
#include "qvTypes.h"

class qvConfig : public qvSingleton<qvConfig> {
 public:
  // The URL getters keep at most this many characters of a value.
  static constexpr size_t kUrlLimit = 260;

  qvConfig() { Register(this); }
  virtual ~qvConfig() = default;

  // Points both files where qvAppFolders puts them for the program in
  // `appFolder` (which ends in '/').
  void SetFolder(const qvString& appFolder);

  qvString GetServerListUrl() const;
  qvString GetHomeUrl() const;
  qvString GetCountUrl() const;
  qvString GetVerUrl() const;

  bool IsAutoRun() const;
  bool SetAutoRun(bool value) const;

  // The folders named by [config] roots, in the order given.
  std::vector<qvString> GetRoots() const;

  // The exclusion rules of [config] exclude, in the order stored, each as
  // the bytes the engine takes: an absolute folder path, or a name pattern
  // with '*' and '?'. Empty rules are skipped.
  std::vector<std::string> GetExclusions() const;
  bool SetExclusions(const std::vector<std::string>& rules) const;

  // The search window as it was left; fields the file lacks or that do
  // not read as numbers keep their defaults.
  struct WindowState {
    bool hasGeometry = false;
    int x = 0, y = 0, width = 0, height = 0;
    bool maximised = false;
    std::vector<int> columns;
    int sortColumn = -1;
    bool sortReverse = false;
  };
  WindowState GetWindowState() const;
  bool SetWindowState(const WindowState& state) const;

  // How the search box tests names; absent keys keep the defaults.
  struct SearchModes {
    bool baseName = false;  // files by their base name alone, as first designed
    bool matchCase = false;
    bool pinyin = true;
    bool showHidden = true;
  };
  SearchModes GetSearchModes() const;
  bool SetSearchModes(const SearchModes& modes) const;

  CIni m_updateIni;
  CIni m_configIni;
};
