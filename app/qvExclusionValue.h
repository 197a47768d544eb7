// The exclusion rules as one value of the settings file: each rule
// percent-escaped ('%', '|', quotes, ';', '#', blanks, control bytes and
// bytes outside UTF-8 become %XX, so the profile form keeps the value as it
// is), the rules joined by '|'. Other UTF-8 stays readable.
#pragma once

#include <string>
#include <vector>

// Empty rules are left out.
std::string qvEncodeExclusions(const std::vector<std::string>& rules);
// Empty parts are skipped; a '%' not followed by two hex digits is taken
// as itself.
std::vector<std::string> qvDecodeExclusions(const std::string& value);
