// qvUtils: facts about the machine and the system.
#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "qvUtils.h"

namespace {

constexpr size_t kMaxOsName = 259;

// A value of os-release: shell-like, optionally quoted, with backslash
// escapes inside double quotes.
std::string Unquote(const std::string& v) {
  if (v.size() < 2 || (v[0] != '"' && v[0] != '\'') || v.back() != v[0]) return v;
  std::string out;
  for (size_t i = 1; i + 1 < v.size(); ++i) {
    if (v[0] == '"' && v[i] == '\\' && i + 2 < v.size()) ++i;
    out += v[i];
  }
  return out;
}

std::string OsReleaseName() {
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(file);
    if (!in) continue;
    std::string line, pretty, name;
    while (std::getline(in, line)) {
      if (line.rfind("PRETTY_NAME=", 0) == 0)
        pretty = Unquote(line.substr(12));
      else if (line.rfind("NAME=", 0) == 0)
        name = Unquote(line.substr(5));
    }
    if (!pretty.empty()) return pretty;
    if (!name.empty()) return name;
  }
  struct utsname u;
  if (uname(&u) == 0) return std::string(u.sysname) + " " + u.release;
  return std::string();
}

}  // namespace

int qvUtils::QV_GetMac(char* buffer, size_t size) {
  if (!buffer || size < 18) return kMacBufferTooSmall;
  struct ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return kMacNoAdapter;
  int result = kMacNoAdapter;
  for (struct ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr || it->ifa_addr->sa_family != AF_PACKET || (it->ifa_flags & IFF_LOOPBACK))
      continue;
    const auto* ll = reinterpret_cast<const struct sockaddr_ll*>(it->ifa_addr);
    if (ll->sll_halen != 6) continue;
    const unsigned char* a = ll->sll_addr;
    if ((a[0] | a[1] | a[2] | a[3] | a[4] | a[5]) == 0) continue;  // no address of its own
    std::snprintf(buffer, size, "%02X-%02X-%02X-%02X-%02X-%02X", a[0], a[1], a[2], a[3], a[4],
                  a[5]);
    result = kMacOk;
    break;
  }
  freeifaddrs(list);
  return result;
}

int qvUtils::QV_getOsVersion(char* buffer, size_t size) {
  if (!buffer || size == 0) return 0;
  std::string name = OsReleaseName();
  if (name.empty()) return 0;
  size_t n = std::min({name.size(), kMaxOsName, size - 1});
  // Never end inside a UTF-8 sequence.
  while (n > 0 && n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buffer, name.data(), n);
  buffer[n] = 0;
  return 1;
}

int qvUtils::QV_GetSystemBits() {
  struct utsname u;
  if (uname(&u) != 0) return sizeof(void*) * 8;
  const std::string m = u.machine;
  // x86_64, aarch64, ppc64(le), s390x, riscv64, mips64, sparc64, ia64,
  // loongarch64, alpha.
  if (m.find("64") != std::string::npos || m == "s390x" || m == "alpha") return 64;
  return 32;
}
