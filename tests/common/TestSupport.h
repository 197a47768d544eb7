// Helpers shared by the common-library tests: a temporary folder, scoped
// environment variables, small file helpers and a bounded wait.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "qvNameCodec.h"
#include "qvTypes.h"

namespace qvtest {

class TempDir {
 public:
  TempDir() {
    std::string pattern = "/tmp/qvcommon-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    nftw(
        path_.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, or a path inside it, as bytes and as UTF-16.
  std::string Path(const std::string& rel = "") const {
    return rel.empty() ? path_ : path_ + "/" + rel;
  }
  qvString W(const std::string& rel = "") const { return qvNameCodec::DecodeToString(Path(rel)); }

 private:
  std::string path_;
};

// Sets (or, with nullopt, unsets) a variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Polls for a file for at most `limit`; true once it exists.
inline bool WaitForFile(const std::string& path,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!Exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

inline qvString U(const char* utf8) { return qvNameCodec::DecodeToString(utf8); }

}  // namespace qvtest
