#include "qvSpawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace qvSpawn {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Only async-signal-safe calls from here on: another thread may have held a
// lock (malloc's, say) at the moment of the fork.
[[noreturn]] void RunChild(const char* file, char* const* argv, const char* workDir, int reportFd,
                           int maxFd) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);

    // Our descriptors (database files, sockets) stay ours: mark every one
    // above standard error close-on-exec. The report pipe is already.
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) != 0)
#endif
    for (int fd = 3; fd < maxFd; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);

  if (workDir && chdir(workDir) != 0) {
    int err = errno;
    (void)!write(reportFd, &err, sizeof err);
    _exit(127);
  }
  execve(file, argv, environ);
  int err = errno;
  (void)!write(reportFd, &err, sizeof err);
  _exit(127);
}

}  // namespace

std::string FindProgram(const std::string& program) {
  if (program.empty()) return std::string();
  if (program.find('/') != std::string::npos)
    return IsExecutableFile(program) ? program : std::string();
  const char* env = std::getenv("PATH");
  std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t colon = path.find(':', start);
    if (colon == std::string::npos) colon = path.size();
    std::string dir = path.substr(start, colon - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
    if (IsExecutableFile(candidate)) return candidate;
    start = colon + 1;
  }
  return std::string();
}

bool StartDetached(const std::vector<std::string>& argv, const std::string& workDir) {
  if (argv.empty()) return false;
  const std::string file = FindProgram(argv[0]);
  if (file.empty()) return false;

  // Everything the child needs is prepared here, before the fork.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const char* dir = workDir.empty() ? nullptr : workDir.c_str();
  long openMax = sysconf(_SC_OPEN_MAX);
  int maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;

  // The grandchild writes errno here when it cannot execute; a successful
  // exec closes the pipe and the read sees its end.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;

  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    // The middle process only starts the grandchild and exits, so the
    // grandchild is adopted by init and nobody has to wait for it.
    close(report[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) RunChild(file.c_str(), args.data(), dir, report[1], maxFd);
    _exit(grandchild < 0 ? 1 : 0);
  }

  close(report[1]);
  int status = 0;
  pid_t reaped;
  do reaped = waitpid(child, &status, 0);
  while (reaped < 0 && errno == EINTR);
  // ECHILD: the application ignores SIGCHLD, so the system reaped the
  // middle process itself; the report pipe still tells.
  bool started = reaped == child ? WIFEXITED(status) && WEXITSTATUS(status) == 0 : errno == ECHILD;
  int childErr = 0;
  ssize_t n;
  do n = read(report[0], &childErr, sizeof childErr);
  while (n < 0 && errno == EINTR);
  close(report[0]);
  return started && n == 0;
}

}  // namespace qvSpawn
