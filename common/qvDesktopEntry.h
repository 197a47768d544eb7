// Desktop entry files (".desktop" launchers): reading the keys of their
// [Desktop Entry] group, and the quoting of their Exec= command lines.
#pragma once

#include <string>
#include <vector>

namespace qvDesktopEntry {

struct Entry {
  std::string type;  // "Application", "Link", ...
  std::string name;
  std::string exec;  // with the value escapes (\s \n \t \r \\) undone
  std::string path;  // working folder
  std::string icon;
  std::string url;  // for Type=Link
};

// Reads the unlocalised keys of the [Desktop Entry] group. False when the
// file cannot be read or has no such group.
bool Read(const std::string& file, Entry* entry);

// Splits an Exec= value into the program and its arguments: double quotes
// group, and inside them a backslash escapes " ` $ and \. Field codes are
// expanded for a launch without files: %f %F %u %U and the deprecated codes
// vanish, %i gives "--icon" and the icon, %c the name, %k `file`, %% a '%'.
// False for an unbalanced quote or an empty command.
bool SplitExec(const Entry& entry, const std::string& file, std::vector<std::string>* argv);

// One argument as Exec= text that SplitExec gives back unchanged.
std::string QuoteExecArg(const std::string& arg);
// A value as file text: the value escapes Read undoes.
std::string EscapeValue(const std::string& value);

}  // namespace qvDesktopEntry
