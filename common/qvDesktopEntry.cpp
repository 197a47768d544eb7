#include "qvDesktopEntry.h"

#include <cstring>
#include <fstream>

namespace qvDesktopEntry {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string UnescapeValue(const std::string& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '\\' || i + 1 == v.size()) {
      out += v[i];
      continue;
    }
    char c = v[++i];
    switch (c) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:  // not a value escape: left for the Exec quoting rules
        out += '\\';
        out += c;
    }
  }
  return out;
}

// Appends one argument with its field codes expanded. An argument that is
// only %f %F %u %U (files: none here) or %i stands for whole arguments.
void ExpandField(const std::string& arg, const Entry& entry, const std::string& file,
                 std::vector<std::string>* argv) {
  if (arg == "%f" || arg == "%F" || arg == "%u" || arg == "%U") return;
  if (arg == "%i") {
    if (!entry.icon.empty()) {
      argv->push_back("--icon");
      argv->push_back(entry.icon);
    }
    return;
  }
  std::string out;
  for (size_t i = 0; i < arg.size(); ++i) {
    if (arg[i] != '%' || i + 1 == arg.size()) {
      out += arg[i];
      continue;
    }
    char code = arg[++i];
    if (code == '%')
      out += '%';
    else if (code == 'c')
      out += entry.name;
    else if (code == 'k')
      out += file;
    // Every other code stands for files or is deprecated: nothing.
  }
  argv->push_back(out);
}

}  // namespace

bool Read(const std::string& file, Entry* entry) {
  std::ifstream in(file);
  if (!in) return false;
  *entry = Entry();
  bool inGroup = false, found = false;
  std::string line;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (t[0] == '[') {
      inGroup = t == "[Desktop Entry]";
      found = found || inGroup;
      continue;
    }
    if (!inGroup) continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(t.substr(0, eq));
    std::string value = UnescapeValue(Trim(t.substr(eq + 1)));
    if (key == "Type")
      entry->type = value;
    else if (key == "Name")
      entry->name = value;
    else if (key == "Exec")
      entry->exec = value;
    else if (key == "Path")
      entry->path = value;
    else if (key == "Icon")
      entry->icon = value;
    else if (key == "URL")
      entry->url = value;
  }
  return found;
}

bool SplitExec(const Entry& entry, const std::string& file, std::vector<std::string>* argv) {
  argv->clear();
  const std::string& s = entry.exec;
  std::string arg;
  bool inArg = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (inArg) ExpandField(arg, entry, file, argv);
      arg.clear();
      inArg = false;
    } else if (c == '"') {
      inArg = true;
      for (++i; i < s.size() && s[i] != '"'; ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && std::strchr("\"`$\\", s[i + 1])) ++i;
        arg += s[i];
      }
      if (i == s.size()) return false;  // no closing quote
    } else {
      arg += c;
      inArg = true;
    }
  }
  if (inArg) ExpandField(arg, entry, file, argv);
  return !argv->empty() && !(*argv)[0].empty();
}

std::string QuoteExecArg(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  return out + "\"";
}

std::string EscapeValue(const std::string& value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  // Leading blanks would be trimmed on reading.
  if (!out.empty() && out[0] == ' ') out = "\\s" + out.substr(1);
  return out;
}

}  // namespace qvDesktopEntry
