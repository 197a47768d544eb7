#include "qvIdleCore.h"

#include <fcntl.h>
#include <unistd.h>

namespace qvIdleCore {

long RunnableIn(std::string_view text) {
  // Three load averages, then "ready/all".
  size_t at = 0;
  for (int field = 0; field < 3; ++field) {
    at = text.find(' ', at);
    if (at == std::string_view::npos) return -1;
    while (at < text.size() && text[at] == ' ') ++at;
  }
  long ready = 0;
  size_t digits = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
    if (digits == 9) return -1;  // no machine runs a billion threads
    ready = ready * 10 + (text[at] - '0');
  }
  if (digits == 0 || at >= text.size() || text[at] != '/') return -1;
  return ready;
}

bool Available() {
  // Opened once and read again from its start each time: the kernel makes
  // the text anew on every read at offset 0.
  static const int fd = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
  static const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  if (fd < 0 || cores < 1) return true;
  char text[128];
  const ssize_t n = pread(fd, text, sizeof text, 0);
  if (n <= 0) return true;
  const long ready = RunnableIn(std::string_view(text, static_cast<size_t>(n)));
  return ready < 0 || ready < cores;
}

}  // namespace qvIdleCore
