#include "qvConfig.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "qvAppFolders.h"
#include "qvExclusionValue.h"
#include "qvNameCodec.h"

namespace {

// Built-in addresses; the reserved ".example" domain keeps an unconfigured
// program from talking to anyone.
constexpr const qvChar* kServerListUrl = u"http://update.qvsearch.example/serverlist.txt";
constexpr const qvChar* kHomeUrl = u"http://www.qvsearch.example/";
constexpr const qvChar* kCountUrl = u"http://count.qvsearch.example:82/api.php";

// Values longer than the limit are cut, never inside a surrogate pair.
qvString Cut(qvString value, size_t limit) {
  if (value.size() <= limit) return value;
  size_t n = limit;
  if (n > 0 && value[n - 1] >= 0xD800 && value[n - 1] <= 0xDBFF) --n;
  value.resize(n);
  return value;
}

bool EqualsIgnoringAsciiCase(const qvString& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    qvChar c = a[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<qvChar>(c + 32);
    if (c != static_cast<unsigned char>(b[i])) return false;
  }
  return i == a.size() && !b[i];
}

// The leading decimal integer of a text (blanks, an optional sign,
// digits); 0 without digits. Only whether it is zero matters here.
bool LeadingIntegerIsNonZero(const qvString& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
  bool nonZero = false;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) nonZero = nonZero || text[i] != u'0';
  return nonZero;
}

qvString Trim(const qvString& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == u' ' || s[b] == u'\t')) ++b;
  while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t')) --e;
  return s.substr(b, e - b);
}

// Comma-separated integers; empty when any of them is not one.
std::vector<int> ReadNumbers(const qvString& text) {
  std::vector<int> numbers;
  std::string ascii;
  for (qvChar c : text) {
    if (c > 127) return {};
    ascii += static_cast<char>(c);
  }
  size_t start = 0;
  while (start <= ascii.size() && !ascii.empty()) {
    size_t end = ascii.find(',', start);
    if (end == std::string::npos) end = ascii.size();
    std::string item = ascii.substr(start, end - start);
    size_t used = 0;
    try {
      long value = std::stol(item, &used);
      while (used < item.size() && item[used] == ' ') ++used;
      if (used != item.size() || value < -1000000 || value > 1000000) return {};
      numbers.push_back(static_cast<int>(value));
    } catch (...) {
      return {};
    }
    start = end + 1;
  }
  return numbers;
}

qvString WriteNumbers(const std::vector<int>& numbers) {
  std::string text;
  for (size_t i = 0; i < numbers.size(); ++i) text += (i ? "," : "") + std::to_string(numbers[i]);
  return qvString(text.begin(), text.end());
}

}  // namespace

void qvConfig::SetFolder(const qvString& appFolder) {
  const qvAppFolders folders = qvAppFolders::Locate(appFolder);
  m_updateIni.SetPath(folders.updateFile.c_str());
  m_configIni.SetPath(folders.configFile.c_str());
}

qvString qvConfig::GetServerListUrl() const {
  return Cut(m_updateIni.GetString(u"update", u"serverlist", kServerListUrl), kUrlLimit);
}

qvString qvConfig::GetHomeUrl() const { return Cut(m_updateIni.GetString(u"update", u"home", kHomeUrl), kUrlLimit); }

qvString qvConfig::GetCountUrl() const { return Cut(m_updateIni.GetString(u"count", u"url", kCountUrl), kUrlLimit); }

qvString qvConfig::GetVerUrl() const {
  return Cut(m_updateIni.GetString(u"update", u"verUrl", kServerListUrl), kUrlLimit);
}

bool qvConfig::IsAutoRun() const {
  // The value is read into 64 characters, terminator included.
  qvString value = Cut(m_configIni.GetString(u"config", u"autorun", u""), 63);
  if (value.empty()) return true;
  if (EqualsIgnoringAsciiCase(value, "true") || EqualsIgnoringAsciiCase(value, "yes")) return true;
  return LeadingIntegerIsNonZero(value);
}

bool qvConfig::SetAutoRun(bool value) const {
  return m_configIni.WriteString(u"config", u"autorun", value ? u"1" : u"0");
}

std::vector<qvString> qvConfig::GetRoots() const {
  std::vector<qvString> roots;
  qvString list = m_configIni.GetString(u"config", u"roots", u"");
  const char* home = std::getenv("HOME");
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(u';', start);
    if (end == qvString::npos) end = list.size();
    qvString root = Trim(list.substr(start, end - start));
    if (home && *home && (root == u"~" || root.rfind(u"~/", 0) == 0))
      root = qvNameCodec::DecodeToString(home) + root.substr(1);
    if (!root.empty() && root[0] == u'/') roots.push_back(root);
    start = end + 1;
  }
  return roots;
}

std::vector<std::string> qvConfig::GetExclusions() const {
  return qvDecodeExclusions(qvNameCodec::EncodeToString(m_configIni.GetString(u"config", u"exclude", u"")));
}

bool qvConfig::SetExclusions(const std::vector<std::string>& rules) const {
  return m_configIni.WriteString(u"config", u"exclude", qvNameCodec::DecodeToString(qvEncodeExclusions(rules)).c_str());
}

qvConfig::WindowState qvConfig::GetWindowState() const {
  WindowState state;
  std::vector<int> g = ReadNumbers(m_configIni.GetString(u"window", u"geometry", u""));
  if (g.size() == 4 && g[2] > 0 && g[3] > 0) {
    state.hasGeometry = true;
    state.x = g[0];
    state.y = g[1];
    state.width = g[2];
    state.height = g[3];
  }
  state.maximised = LeadingIntegerIsNonZero(m_configIni.GetString(u"window", u"maximised", u"0"));
  std::vector<int> columns = ReadNumbers(m_configIni.GetString(u"window", u"columns", u""));
  if (std::all_of(columns.begin(), columns.end(), [](int width) { return width > 0; })) state.columns = columns;
  std::vector<int> sort = ReadNumbers(m_configIni.GetString(u"window", u"sort", u""));
  if (sort.size() == 2 && sort[0] >= -1) {
    state.sortColumn = sort[0];
    state.sortReverse = sort[1] != 0;
  }
  return state;
}

bool qvConfig::SetWindowState(const WindowState& state) const {
  bool ok = true;
  if (state.hasGeometry)
    ok &= m_configIni.WriteString(u"window", u"geometry",
                                  WriteNumbers({state.x, state.y, state.width, state.height}).c_str());
  ok &= m_configIni.WriteString(u"window", u"maximised", state.maximised ? u"1" : u"0");
  ok &= m_configIni.WriteString(u"window", u"columns", WriteNumbers(state.columns).c_str());
  ok &= m_configIni.WriteString(u"window", u"sort", WriteNumbers({state.sortColumn, state.sortReverse ? 1 : 0}).c_str());
  return ok;
}

qvConfig::SearchModes qvConfig::GetSearchModes() const {
  SearchModes modes;
  auto flag = [&](const qvChar* key, bool fallback) {
    qvString v = m_configIni.GetString(u"search", key, u"");
    return v.empty() ? fallback : LeadingIntegerIsNonZero(v);
  };
  modes.baseName = flag(u"base_name", modes.baseName);
  modes.matchCase = flag(u"match_case", modes.matchCase);
  modes.pinyin = flag(u"pinyin", modes.pinyin);
  modes.showHidden = flag(u"hidden", modes.showHidden);
  return modes;
}

bool qvConfig::SetSearchModes(const SearchModes& modes) const {
  bool ok = m_configIni.WriteString(u"search", u"base_name", modes.baseName ? u"1" : u"0");
  ok &= m_configIni.WriteString(u"search", u"match_case", modes.matchCase ? u"1" : u"0");
  ok &= m_configIni.WriteString(u"search", u"pinyin", modes.pinyin ? u"1" : u"0");
  ok &= m_configIni.WriteString(u"search", u"hidden", modes.showHidden ? u"1" : u"0");
  return ok;
}
