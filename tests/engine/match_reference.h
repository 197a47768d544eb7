// The plainly written pieces the matching tests build their references
// from: ASCII folding, the query's words, and "?"/"*" patterns.
#pragma once

#include <string>
#include <vector>

namespace qvmatchref {

inline std::u16string Fold(std::u16string s) {
  for (auto& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return s;
}

inline std::vector<std::u16string> Words(const std::u16string& text) {
  std::vector<std::u16string> words;
  std::u16string w;
  for (char16_t c : text) {
    if (c == u' ') {
      if (!w.empty()) words.push_back(w);
      w.clear();
    } else {
      w += c;
    }
  }
  if (!w.empty()) words.push_back(w);
  return words;
}

// Whole-name match: "?" one unit, "*" any run.
inline bool Glob(const std::u16string& p, const std::u16string& s) {
  std::vector<std::vector<char>> dp(p.size() + 1, std::vector<char>(s.size() + 1, 0));
  dp[0][0] = 1;
  for (size_t i = 1; i <= p.size(); ++i) {
    for (size_t j = 0; j <= s.size(); ++j) {
      if (p[i - 1] == u'*') dp[i][j] = dp[i - 1][j] || (j > 0 && dp[i][j - 1]);
      else if (j > 0) dp[i][j] = dp[i - 1][j - 1] && (p[i - 1] == u'?' || p[i - 1] == s[j - 1]);
    }
  }
  return dp[p.size()][s.size()];
}

}  // namespace qvmatchref
