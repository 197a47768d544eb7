// The updater's command line: the server list's URL, one blank, and the
// mode word; "auto" in any letter case makes the run automatic.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct UpdaterCommandLine {
  std::string serverListUrl;
  bool automatic = false;
};

// False when no URL results (an empty line, no blank, or a leading blank):
// the program then ends without a window.
bool ParseCommandLine(std::string_view line, UpdaterCommandLine* result);

// The command line as one text: the program's arguments joined by one
// blank each, as the system passes it whole.
std::string JoinArguments(int argc, char** argv);

// Splits a parameter text into words at blanks; double quotes group a
// word that holds blanks.
std::vector<std::string> SplitParameters(std::string_view text);
