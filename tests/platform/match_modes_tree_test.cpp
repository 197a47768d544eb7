// The search modes over real trees of this machine (/usr/include and
// /usr/share): for queries made from the trees' own names, every mode's
// answer equals a plainly written reference over a listing of the tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "IQvSearch.h"
#include "qvKearchImpl.h"
#include "qvNameCodec.h"
#include "qvPath.h"

namespace fs = std::filesystem;

namespace {

std::u16string Fold(std::u16string s) {
  for (auto& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return s;
}

bool Glob(const std::u16string& p, const std::u16string& s) {
  std::vector<char> prev(s.size() + 1, 0), cur(s.size() + 1, 0);
  prev[0] = 1;
  for (size_t i = 1; i <= p.size(); ++i) {
    cur.assign(s.size() + 1, 0);
    for (size_t j = 0; j <= s.size(); ++j) {
      if (p[i - 1] == u'*') cur[j] = prev[j] || (j > 0 && cur[j - 1]);
      else if (j > 0) cur[j] = prev[j - 1] && (p[i - 1] == u'?' || p[i - 1] == s[j - 1]);
    }
    prev.swap(cur);
  }
  return prev[s.size()];
}

// What a user sees of one entry below the root.
struct Entry {
  std::string path;    // bytes, as printed
  std::u16string name;  // as shown
  std::u16string full;  // the whole path
  size_t baseLength;   // a file's name up to the dot of its extension
  bool hidden;         // it or a folder above it (below the root) begins with "."
};

// A file's extension starts after its last dot, unless a blank comes
// after that dot or the dot leads the name.
size_t BaseLength(const std::u16string& name, bool isFolder) {
  if (isFolder) return name.size();
  for (size_t i = name.size(); i-- > 0;) {
    if (name[i] == u' ') return name.size();
    if (name[i] == u'.') return i >= 1 ? i : name.size();
  }
  return name.size();
}

std::vector<Entry> ListTree(const std::string& root) {
  std::vector<Entry> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& p = it->path();
    bool isFolder = it->is_directory(ec) && !it->is_symlink(ec);
    Entry e;
    e.path = p.string();
    e.name = qvNameCodec::DecodeToString(p.filename().string());
    e.full = qvNameCodec::DecodeToString(e.path);
    e.baseLength = BaseLength(e.name, isFolder);
    std::string rel = e.path.substr(root.size());
    e.hidden = rel.find("/.") != std::string::npos;
    out.push_back(std::move(e));
  }
  return out;
}

struct Modes {
  bool wholeName = true, matchCase = false, showHidden = true;
};

bool Reference(const std::u16string& query, const Modes& m, const Entry& e) {
  if (!m.showHidden && e.hidden) return false;
  std::u16string name = m.wholeName ? e.name : e.name.substr(0, e.baseLength);
  std::u16string path = e.full;
  if (!m.matchCase) {
    name = Fold(name);
    path = Fold(path);
  }
  bool any = false;
  std::u16string t;
  for (char16_t c : query + u" ") {
    if (c != u' ') {
      t += c;
      continue;
    }
    if (t.empty()) continue;
    if (!m.matchCase) t = Fold(t);
    const std::u16string& target = t.find(u'/') != std::u16string::npos ? path : name;
    if (t.find_first_not_of(u'*') != std::u16string::npos) {
      any = true;
      bool wild = t.find_first_of(u"?*") != std::u16string::npos;
      if (wild ? !Glob(t, target) : target.find(t) == std::u16string::npos) return false;
    }
    t.clear();
  }
  return any;
}

class RealTree : public ::testing::TestWithParam<const char*> {};

TEST_P(RealTree, EveryModeAgreesWithAReference) {
  const std::string root = GetParam();
  if (!fs::is_directory(root)) GTEST_SKIP() << root << " is not on this machine";
  std::vector<Entry> entries = ListTree(root);
  ASSERT_GT(entries.size(), 100u);

  auto* engine = static_cast<qvKearchImpl*>(CreateObjcet(&IID_IQvSearch, QV_SEARCH_VERSION));
  auto* config = static_cast<IQvSearchConfig*>(engine->QueryInterface(&IID_IQvSearchConfig, QV_SEARCH_VERSION));
  config->AddRoot(qvNameCodec::DecodeToString(root).c_str());
  config->SetOption("monitor", "off");
  config->SetOption("no_save", "1");
  config->SetOption("no_load", "1");
  config->SetOption("path_terms", "1");
  engine->Initialize(nullptr);
  engine->WaitUntilInitialised();
  // The listing and the index are of the same moment only if nothing
  // changed between: /usr is installed software, changed by the package
  // manager alone.
  ASSERT_EQ(config->QueryValue("folders") + config->QueryValue("files"), static_cast<int64_t>(entries.size() + 1));

  std::mt19937 rng(1208);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  // Queries from the tree's own names: a piece of a name, a piece across
  // the dot, "*.ext", a path piece holding "/", two terms.
  auto piece = [&](const std::u16string& s, size_t len) {
    if (s.size() <= len) return s;
    return s.substr(pick(s.size() - len), len);
  };
  auto query = [&]() -> std::u16string {
    const Entry& e = entries[pick(entries.size())];
    switch (pick(5)) {
      case 0: return piece(e.name, 3 + pick(4));
      case 1: {
        size_t dot = e.name.rfind(u'.');
        return dot == std::u16string::npos || dot == 0 ? piece(e.name, 4) : u"*" + e.name.substr(dot);
      }
      case 2: return piece(e.full.substr(root.size()), 5 + pick(6));
      case 3: return piece(e.name, 3) + u" " + piece(entries[pick(entries.size())].name, 2);
      default: return e.name.size() > 2 ? e.name.substr(pick(2)) : e.name;
    }
  };
  int compared = 0, withRows = 0;
  for (int c = 0; c < 240; ++c) {
    Modes m;
    m.wholeName = c % 4 != 3;
    m.matchCase = c % 3 == 1;
    m.showHidden = c % 5 != 2;
    config->SetOption("whole_name", m.wholeName ? "1" : "0");
    config->SetOption("match_case", m.matchCase ? "1" : "0");
    config->SetOption("show_hidden", m.showHidden ? "1" : "0");
    std::u16string q = query();
    if (q.find_first_not_of(u' ') == std::u16string::npos) continue;
    engine->Search(q.c_str(), u"", 1);
    std::set<std::string> got;
    std::vector<qvChar> folder(QV_MAX_PATH), name(QV_MAX_PATH);
    int32_t folders = engine->GetFolderResultCount(), total = folders + engine->GetFileResultCount();
    for (int32_t r = 0; r < total; ++r) {
      engine->GetItemText(r, folder.data(), name.data(), nullptr);
      std::string row = qvNameCodec::EncodeToString(qvPath::RowPath(folder.data(), name.data(), r < folders));
      if (!row.empty() && row.back() == '/' && row.size() > 1) row.pop_back();
      if (row != root) got.insert(row);  // the root folder's own row is not listed
    }
    std::set<std::string> want;
    for (const Entry& e : entries)
      if (Reference(q, m, e)) want.insert(e.path);
    ASSERT_EQ(got, want) << "query '" << qvNameCodec::EncodeToString(q) << "' whole " << m.wholeName << " case "
                         << m.matchCase << " hidden shown " << m.showHidden;
    ++compared;
    withRows += !want.empty();
  }
  engine->Release();
  EXPECT_GT(compared, 200);
  EXPECT_GT(withRows, compared / 2);
}

INSTANTIATE_TEST_SUITE_P(Usr, RealTree, ::testing::Values("/usr/include", "/usr/share"));

}  // namespace
