// The version check: the answer names the latest build before its first
// '|' ("1102|0"); a number above this build's offers the updater.
#pragma once

#include <cstdint>
#include <string_view>

namespace qvUpdateCheck {

// This build's version number.
constexpr uint32_t kThisVersion = 1101;

constexpr const char* kPromptText = "发现新版本,点击 [确定] 后程序自动退出更新！";
constexpr const char* kPromptCaption = "更新提示";

// The latest version an answer names: the leading decimal integer of the
// part before the first '|' (blanks, a sign, digits; saturating at the
// 32-bit range), taken as unsigned. 0 without a '|' or without digits.
uint32_t LatestVersion(std::string_view answer);

// Whether the answer names a build newer than this one.
bool Offered(std::string_view answer);

}  // namespace qvUpdateCheck
