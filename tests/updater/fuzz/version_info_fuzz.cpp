// Any bytes as a program file: the version reader stays inside them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qvVersionInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VS_FIXEDFILEINFO info;
  FindFixedFileInfo(std::string_view(reinterpret_cast<const char*>(data), size), &info);
  return 0;
}
