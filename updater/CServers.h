// The update servers named by the server list: a display name and the URL
// of that server's manifest each, in file order.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "CServerBox.h"

struct CServer {
  std::string name;
  std::string url;
};

class CServers {
 public:
  // Appends a server; duplicates stay.
  bool Add(std::string name, std::string url);

  // Empties the box, then adds every server in list order, selecting each
  // one as it is added: the box sorts by name, so the server of the last
  // valid line ends up selected wherever it sorts.
  void FillComboBox(CServerBox* box) const;

  void RemoveAll();
  size_t GetCount() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<CServer>> servers_;
};

// Lines longer than this many bytes are skipped.
inline constexpr size_t kServerLineLimit = 1023;

// Parses the server list's text (GBK, or UTF-8 where the bytes are valid
// UTF-8): "name|URL" per line; returns how many servers were added.
unsigned ParseServerList(std::string_view text, CServers* servers);

// The same for the downloaded file at path, which is then deleted. A file
// that cannot be read gives 0 servers.
unsigned ParseServerListFile(const std::string& path, CServers* servers);
