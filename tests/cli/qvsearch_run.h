// Runs the built qvsearch as a user would (no shell), for the end-to-end
// tests of the terminal front end.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

// In a child process: becomes the built qvsearch with the arguments.
[[noreturn]] inline void ExecQvsearch(const std::vector<std::string>& args) {
  std::string exe = std::string(QV_APP_DIR) + "qvsearch";
  std::vector<char*> argv = {const_cast<char*>(exe.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(exe.c_str(), argv.data());
  _exit(127);
}

struct RunResult {
  int status = -1;  // the exit status, -1 when ended by a signal
  std::string out;
};

// Collects standard output; standard error goes to the test's own, or
// to /dev/null with `quiet`.
inline RunResult RunQvsearch(const std::vector<std::string>& args, bool quiet = false) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    if (quiet && !std::freopen("/dev/null", "w", stderr)) _exit(126);
    ExecQvsearch(args);
  }
  close(pipeFds[1]);
  RunResult r;
  char buf[65536];
  for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<size_t>(n));
  close(pipeFds[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}
