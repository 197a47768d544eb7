// Any bytes as a server list: every server that counts has a name and a URL
// without surrounding blanks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "CServers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CServers servers;
  unsigned count = ParseServerList(std::string_view(reinterpret_cast<const char*>(data), size), &servers);
  CServerBox box;
  servers.FillComboBox(&box);
  if (box.Items().size() != count) std::abort();
  for (const CServerBox::Item& item : box.Items())
    if (item.name.empty() || item.server->url.empty() || item.name.front() == ' ' || item.server->url.back() == ' ')
      std::abort();
  return 0;
}
