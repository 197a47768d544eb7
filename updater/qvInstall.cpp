#include "qvInstall.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "CInetFile.h"
#include "qvCommandLine.h"

namespace {

// The target counts as present when it can be opened for reading.
bool TargetPresent(const std::string& path, struct stat* st) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fstat(fd, st) == 0;
  close(fd);
  return ok;
}

// Renames without replacing anything that appeared meanwhile; file
// systems without that mode fall back to a plain rename.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (access(to.c_str(), F_OK) == 0) return false;
  return rename(from.c_str(), to.c_str()) == 0;
}

// A started file needs its run bit: given wherever it can be read.
void MakeRunnable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  mode_t mode = st.st_mode & 07777;
  mode |= S_IXUSR;
  if (mode & S_IRGRP) mode |= S_IXGRP;
  if (mode & S_IROTH) mode |= S_IXOTH;
  chmod(path.c_str(), mode);
}

}  // namespace

bool StartDetached(const std::vector<std::string>& words) {
  if (words.empty()) return false;
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  // Two forks: the grandchild belongs to no one here and is never waited for.
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) {
      execvp(argv[0], argv.data());
      _exit(127);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

InstallOutcome InstallDownloadedFile(const CInetFile& file, const std::string& registerCommand) {
  InstallOutcome outcome;
  const std::string& target = file.m_strLocalPath;
  const std::string download = file.DownloadPath();
  struct stat old;
  if (TargetPresent(target, &old)) {
    // The new file keeps the old one's permissions (a program stays runnable).
    chmod(download.c_str(), old.st_mode & 07777);
    if (rename(download.c_str(), target.c_str()) != 0) {
      outcome.step = InstallStep::kDeleteFailed;
      return outcome;
    }
  } else if (!RenameNoReplace(download, target)) {
    outcome.step = InstallStep::kRenameFailed;
    return outcome;
  }

  if (file.m_bExecute) {
    MakeRunnable(target);
    std::vector<std::string> words{target};
    for (std::string& word : SplitParameters(file.m_strExecutePar)) words.push_back(std::move(word));
    StartDetached(words);
    outcome.started.push_back(std::move(words));
  }
  if (file.m_bRegister && !registerCommand.empty()) {
    std::vector<std::string> words = SplitParameters(registerCommand);
    words.push_back(target);
    StartDetached(words);
    outcome.started.push_back(std::move(words));
  }
  return outcome;
}
