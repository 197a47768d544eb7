#include "qvCommandLine.h"

#include "qvUpText.h"

bool ParseCommandLine(std::string_view line, UpdaterCommandLine* result) {
  size_t blank = line.find(' ');
  if (line.empty() || blank == std::string_view::npos || blank == 0) return false;
  result->serverListUrl = std::string(line.substr(0, blank));
  result->automatic = qvUpText::EqualsNoCase(line.substr(blank + 1), "auto");
  return true;
}

std::string JoinArguments(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

std::vector<std::string> SplitParameters(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}
