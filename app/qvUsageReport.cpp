#include "qvUsageReport.h"

#include <cstdio>

#include "qvUtils.h"

namespace qvUsageReport {

namespace {
// Both machine texts are at most 259 bytes.
constexpr size_t kTextBuffer = 260;
}  // namespace

std::string OsText(const std::string& osVersion, int bits) {
  return osVersion + "-" + std::to_string(bits) + "###bit";
}

std::string PercentEncode(const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string RequestUrl(const std::string& countUrl, const std::string& mac, const std::string& osText) {
  return countUrl + "?soft_id=" + std::to_string(kSoftId) + "&countype_id=" + std::to_string(kCountTypeId) +
         "&ditch_id=" + std::to_string(kDitchId) + "&soft_version=" + PercentEncode(kSoftVersion) +
         "&user_mac=" + PercentEncode(mac) + "&user_osversion=" + PercentEncode(osText);
}

std::string RequestUrlForThisMachine(const std::string& countUrl) {
  // Each buffer stays empty when its function has nothing to say.
  char mac[kTextBuffer] = "";
  char os[kTextBuffer] = "";
  qvUtils::QV_GetMac(mac, sizeof mac);
  qvUtils::QV_getOsVersion(os, sizeof os);
  return RequestUrl(countUrl, mac, OsText(os, qvUtils::QV_GetSystemBits()));
}

}  // namespace qvUsageReport
