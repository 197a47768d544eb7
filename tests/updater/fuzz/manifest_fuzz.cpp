// Any bytes as a manifest: an entry either has a target path inside one of
// the base folders or is refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CMiniUpFileXmlLogic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMiniUpFileXmlLogic logic(UpdaterFolders{"/base/own", "/base/win", "/base/sys"});
  logic.LoadXmlMemory(std::string(reinterpret_cast<const char*>(data), size));
  while (auto entry = logic.PopHead()) {
    const std::string& path = entry->m_strTargetPath;
    if (entry->m_bPathRefused != path.empty()) std::abort();
    if (!path.empty() && (path.rfind("/base/", 0) != 0 || path.find("/../") != std::string::npos)) std::abort();
  }
  return 0;
}
