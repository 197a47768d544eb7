// Installation of a downloaded file: the ".update" file beside the target
// takes the target's name in one rename, so the target is at every moment
// either the old file or the new one; then the file is started (Execute)
// and registered (Register), in that order, both detached.
#pragma once

#include <string>
#include <vector>

class CInetFile;

enum class InstallStep {
  kInstalled,
  kDeleteFailed,  // an existing target could not be replaced
  kRenameFailed,  // the new file could not take the (absent) target's name
};

struct InstallOutcome {
  InstallStep step = InstallStep::kInstalled;
  // The commands started afterwards, in order, each as its words.
  std::vector<std::vector<std::string>> started;
};

InstallOutcome InstallDownloadedFile(const CInetFile& file, const std::string& registerCommand);

// Starts a program with its arguments in a new session, not waited for;
// false when it could not be started.
bool StartDetached(const std::vector<std::string>& words);
