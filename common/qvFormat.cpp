#include "qvFormat.h"

#include <cstdio>
#include <ctime>

std::string qvFormatSize(uint64_t size, bool isFolder) {
  if (isFolder) return std::string();
  char text[64];
  double s = static_cast<double>(size);
  if (size < 1024) std::snprintf(text, sizeof text, "%d B", static_cast<int>(size));
  else if (size < 1048576) std::snprintf(text, sizeof text, "%0.2f KB", s / 1024);
  else if (size < 1073741824) std::snprintf(text, sizeof text, "%0.2f MB", s / 1048576);
  else std::snprintf(text, sizeof text, "%0.2f GB", s / 1073741824);
  return text;
}

std::string qvFormatFileTime(uint64_t fileTime) {
  if (fileTime == 0) return std::string();
  constexpr int64_t kEpochDelta = 11644473600LL;
  time_t t = static_cast<time_t>(static_cast<int64_t>(fileTime / 10000000ULL) - kEpochDelta);
  struct tm local;
  if (!localtime_r(&t, &local)) return std::string();
  char text[96];
  std::snprintf(text, sizeof text, "%d年%d月%d日 %d时%d分", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min);
  return text;
}

std::string qvFormatAttributes(uint32_t attributes, bool isFolder) {
  std::string text = "[";
  if (attributes & 0x2) text += "隐藏,";
  if (attributes & 0x4) text += "系统,";
  if (text.size() > 1) text.back() = ']';
  else text += "普通]";
  text += isFolder ? "文件夹" : "文件";
  return text;
}
