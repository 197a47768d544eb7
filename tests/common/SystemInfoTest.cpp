#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <vector>

#include "TestSupport.h"
#include "qvUtils.h"

namespace {

// The same fact read another way: sysfs, in interface-index order.
std::string FirstAdapterFromSysfs() {
  std::vector<std::pair<int, std::string>> found;
  DIR* d = opendir("/sys/class/net");
  if (!d) return std::string();
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string base = std::string("/sys/class/net/") + e->d_name + "/";
    int index = std::atoi(qvtest::ReadFile(base + "ifindex").c_str());
    int flags =
        static_cast<int>(std::strtol(qvtest::ReadFile(base + "flags").c_str(), nullptr, 16));
    std::string address = qvtest::ReadFile(base + "address");
    address.erase(address.find_last_not_of("\n") + 1);
    if ((flags & 0x8) || address.size() != 17 || address == "00:00:00:00:00:00") continue;
    std::transform(address.begin(), address.end(), address.begin(),
                   [](char c) { return c == ':' ? '-' : static_cast<char>(std::toupper(c)); });
    found.emplace_back(index, address);
  }
  closedir(d);
  std::sort(found.begin(), found.end());
  return found.empty() ? std::string() : found.front().second;
}

}  // namespace

TEST(SystemInfo, MacAddressOfTheFirstRealAdapter) {
  char buf[32];
  std::memset(buf, '#', sizeof buf);
  int r = qvUtils::QV_GetMac(buf, sizeof buf);
  std::string expected = FirstAdapterFromSysfs();
  if (expected.empty()) {
    EXPECT_NE(r, qvUtils::kMacOk);
  } else {
    EXPECT_EQ(r, qvUtils::kMacOk);
    EXPECT_EQ(std::string(buf), expected);
  }
}

TEST(SystemInfo, MacRefusesASmallBuffer) {
  char buf[17];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(qvUtils::QV_GetMac(buf, sizeof buf), qvUtils::kMacBufferTooSmall);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(qvUtils::QV_GetMac(nullptr, 18), qvUtils::kMacBufferTooSmall);
}

TEST(SystemInfo, OsVersionIsTheReleaseNameCutToTheBuffer) {
  char buf[300];
  std::memset(buf, 0, sizeof buf);
  ASSERT_EQ(qvUtils::QV_getOsVersion(buf, sizeof buf), 1);
  std::string name = buf;
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 259u);
  EXPECT_NE(name.front(), '"');
  std::string release = qvtest::ReadFile("/etc/os-release");
  if (release.find("PRETTY_NAME=") != std::string::npos) {
    EXPECT_NE(release.find("PRETTY_NAME=\"" + name + "\""), std::string::npos) << name;
  }

  char small[8];
  std::memset(small, '#', sizeof small);
  ASSERT_EQ(qvUtils::QV_getOsVersion(small, 6), 1);
  EXPECT_EQ(std::string(small), name.substr(0, std::min<size_t>(5, name.size())));
  EXPECT_EQ(small[6], '#');
  EXPECT_EQ(qvUtils::QV_getOsVersion(small, 0), 0);
}

TEST(SystemInfo, SixtyFourBitMachine) {
  // This build is a 64-bit process, so the machine must be 64-bit too.
  static_assert(sizeof(void*) == 8 || sizeof(void*) == 4);
  if (sizeof(void*) == 8)
    EXPECT_EQ(qvUtils::QV_GetSystemBits(), 64);
  else
    EXPECT_TRUE(qvUtils::QV_GetSystemBits() == 32 || qvUtils::QV_GetSystemBits() == 64);
}
