#include "qvServiceSocket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qvService {

namespace {

bool Fail(std::string* error, const std::string& what) {
  *error = what + ": " + std::strerror(errno);
  return false;
}

bool FillAddress(const std::string& path, sockaddr_un* addr, std::string* error) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) {
    *error = "the socket path " + path + " is too long";
    return false;
  }
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

std::string SocketFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    std::string folder = runtime;
    if (folder.back() != '/') folder += '/';
    return folder + "qvsearch/";
  }
  return "/tmp/qvsearch-" + std::to_string(geteuid()) + "/";
}

std::string SocketPath() { return SocketFolder() + "qvsearch.sock"; }

bool PrepareSocketFolder(const std::string& folder, std::string* error) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Fail(error, "cannot make " + folder);
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) return Fail(error, "cannot read " + folder);
  // Anyone who may write the folder could put a socket of theirs in ours.
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    *error = folder + " is not a folder of this user closed to others (mode 0700)";
    return false;
  }
  return true;
}

int ListenOn(const std::string& folder, int* lockFd, bool* busy, std::string* error) {
  *busy = false;
  *lockFd = -1;
  if (!PrepareSocketFolder(folder, error)) return -1;
  std::string lockPath = folder + "qvsearch.lock", sockPath = folder + "qvsearch.sock";
  int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock < 0) return Fail(error, "cannot open " + lockPath), -1;
  if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    *busy = errno == EWOULDBLOCK;
    Fail(error, "another process serves at " + sockPath);
    close(lock);
    return -1;
  }
  sockaddr_un addr;
  if (!FillAddress(sockPath, &addr, error)) return close(lock), -1;
  // The lock is ours: a socket still there was left by a process that ended.
  unlink(sockPath.c_str());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(error, "cannot make a socket"), close(lock), -1;
  // Made 0600 from the start: no moment where another user could connect.
  mode_t old = umask(0177);
  int bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  umask(old);
  if (bound != 0 || chmod(sockPath.c_str(), 0600) != 0 || listen(fd, 128) != 0) {
    Fail(error, "cannot listen on " + sockPath);
    close(fd);
    close(lock);
    return -1;
  }
  *lockFd = lock;
  return fd;
}

long PeerUid(int fd, pid_t* pid) {
  struct ucred cred;
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) return -1;
  if (pid) *pid = cred.pid;
  return static_cast<long>(cred.uid);
}

int ConnectTo(const std::string& folder, std::string* error) {
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0) return Fail(error, "no service folder " + folder), -1;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    *error = folder + " is not a folder of this user closed to others";
    return -1;
  }
  sockaddr_un addr;
  if (!FillAddress(folder + "qvsearch.sock", &addr, error)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(error, "cannot make a socket"), -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    Fail(error, "no service answers at " + folder + "qvsearch.sock");
    close(fd);
    return -1;
  }
  if (PeerUid(fd) != static_cast<long>(geteuid())) {
    *error = "the process at " + folder + "qvsearch.sock is another user's";
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace qvService
