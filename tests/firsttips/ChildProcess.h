// A program started by a test in its own process group, ended with its
// whole group (helpers it started included) when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tipstest {

using Environment = std::map<std::string, std::string>;

inline Environment CurrentEnvironment() {
  Environment env;
  for (char** e = environ; *e; ++e) {
    const char* equals = std::strchr(*e, '=');
    if (equals) env[std::string(*e, static_cast<size_t>(equals - *e))] = equals + 1;
  }
  return env;
}

// The full path of a program found on $PATH (or given with a slash).
inline std::optional<std::string> FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    return access(name.c_str(), X_OK) == 0 ? std::optional(name) : std::nullopt;
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

class ChildProcess {
 public:
  // Starts program with args and env. When captureFd is 1, the child's
  // standard output is readable through ReadLine; when it is another
  // number, that descriptor of the child is (for programs that write to a
  // descriptor they are told). Standard error goes to errPath if given.
  ChildProcess(const std::string& program, const std::vector<std::string>& args, const Environment& env,
               int captureFd = -1, const std::string& errPath = "") {
    std::vector<std::string> argvStore{program};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<std::string> envStore;
    for (const auto& [k, v] : env) envStore.push_back(k + "=" + v);
    std::vector<char*> argv, envp;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    if (captureFd >= 0 && pipe2(pipeFds, O_CLOEXEC) != 0) return;
    const int errFd = errPath.empty() ? -1 : open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      if (captureFd >= 0) dup2(pipeFds[1], captureFd);
      if (errFd >= 0) dup2(errFd, 2);
      const int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      if (captureFd != 1) dup2(errFd >= 0 ? errFd : devnull, 1);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    if (pid_ > 0) setpgid(pid_, pid_);  // either side may get there first
    if (errFd >= 0) close(errFd);
    if (captureFd >= 0) {
      close(pipeFds[1]);
      readFd_ = pipeFds[0];
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    Stop();
    if (readFd_ >= 0) close(readFd_);
  }

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // One line of the captured output, waiting at most timeoutMs.
  std::optional<std::string> ReadLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
      const size_t newline = buffer_.find('\n');
      if (newline != std::string::npos) {
        std::string line = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (readFd_ < 0 || left.count() <= 0) return std::nullopt;
      pollfd p{readFd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      char chunk[256];
      const ssize_t n = read(readFd_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  // The exit status once the program has ended, waiting at most timeoutMs.
  std::optional<int> WaitExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0 && !status_) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status_;
  }

  // Ends the program's group: politely, then for good. Helpers it left
  // behind come to this process (see AdoptOrphans) and are collected too.
  void Stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    if (!WaitExit(3000)) kill(-pid_, SIGKILL);
    WaitExit(3000);
    kill(-pid_, SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int status = 0;
    while (waitpid(-pid_, &status, WNOHANG) >= 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }

  // Makes this process the parent of the orphans of the programs it starts,
  // so that they can be collected rather than left as zombies.
  static void AdoptOrphans() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

 private:
  pid_t pid_ = -1;
  int readFd_ = -1;
  std::string buffer_;
  std::optional<int> status_;
};

}  // namespace tipstest
