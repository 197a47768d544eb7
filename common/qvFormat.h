// The texts of the result list's columns: size, time and attributes, as
// the search window and the command line show them.
#pragma once

#include <cstdint>
#include <string>

// "%d B" below 1024, else two decimals in KB, MB or GB. Empty for a folder.
std::string qvFormatSize(uint64_t size, bool isFolder);

// A FILETIME (100 ns since 1601, UTC) in local time as
// "%d年%d月%d日 %d时%d分". Empty for 0 (no time known).
std::string qvFormatFileTime(uint64_t fileTime);

// "[隐藏,系统]文件夹", "[普通]文件" ...: the hidden (2) and system (4) bits
// and whether the row is a folder.
std::string qvFormatAttributes(uint32_t attributes, bool isFolder);
