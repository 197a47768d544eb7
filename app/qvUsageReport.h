// The usage report: one request per run telling the counting service which
// build runs on which kind of machine. Its answer is not read.
#pragma once

#include <string>

namespace qvUsageReport {

constexpr int kSoftId = 21;
constexpr int kCountTypeId = 1002;
constexpr int kDitchId = 6;
constexpr const char* kSoftVersion = "1.1.0.1";

// The machine text: "<os version>-<bits>###bit".
std::string OsText(const std::string& osVersion, int bits);

// `countUrl` followed by the query "soft_id, countype_id, ditch_id,
// soft_version, user_mac, user_osversion" in that order. The text values
// are percent-encoded: the OS text holds blanks and '#', which would
// otherwise end the URL's query.
std::string RequestUrl(const std::string& countUrl, const std::string& mac, const std::string& osText);

// The same with this machine's hardware address, system name and width.
std::string RequestUrlForThisMachine(const std::string& countUrl);

// RFC 3986 percent-encoding of every byte other than the unreserved ones.
std::string PercentEncode(const std::string& value);

}  // namespace qvUsageReport
