#include "CServers.h"

#include <cstdio>
#include <fstream>

#include "qvUpText.h"

bool CServers::Add(std::string name, std::string url) {
  std::lock_guard<std::mutex> hold(lock_);
  servers_.push_back(std::make_unique<CServer>(CServer{std::move(name), std::move(url)}));
  return true;
}

void CServers::FillComboBox(CServerBox* box) const {
  box->ResetContent();
  std::lock_guard<std::mutex> hold(lock_);
  for (const auto& server : servers_) box->SetCurSel(box->AddString(server->name, server.get()));
}

void CServers::RemoveAll() {
  std::lock_guard<std::mutex> hold(lock_);
  servers_.clear();
}

size_t CServers::GetCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return servers_.size();
}

namespace {

// Takes the list in pieces, holding at most one line of kServerLineLimit
// bytes: a longer line is dropped as it streams past.
class ServerListReader {
 public:
  explicit ServerListReader(CServers* servers) : servers_(servers) {}

  void Feed(std::string_view bytes) {
    while (!bytes.empty()) {
      size_t end = bytes.find('\n');
      std::string_view piece = bytes.substr(0, end);
      if (!tooLong_) {
        if (line_.size() + piece.size() > kServerLineLimit) tooLong_ = true, line_.clear();
        else line_.append(piece);
      }
      if (end == std::string_view::npos) return;
      EndLine();
      bytes.remove_prefix(end + 1);
    }
  }

  unsigned Finish() {
    EndLine();
    return count_;
  }

 private:
  void EndLine() {
    if (!tooLong_) AddLine(line_);
    line_.clear();
    tooLong_ = false;
  }

  void AddLine(std::string_view raw) {
    std::string decoded = qvUpText::AnsiToUtf8(raw);
    std::string_view line = qvUpText::Trim(decoded);
    size_t bar = line.find('|');
    if (bar == std::string_view::npos || bar < 1) return;
    std::string_view name = qvUpText::Trim(line.substr(0, bar));
    std::string_view url = qvUpText::Trim(line.substr(bar + 1));
    if (name.empty() || url.empty()) return;
    if (servers_->Add(std::string(name), std::string(url))) ++count_;
  }

  CServers* servers_;
  std::string line_;
  bool tooLong_ = false;
  unsigned count_ = 0;
};

}  // namespace

unsigned ParseServerList(std::string_view text, CServers* servers) {
  ServerListReader reader(servers);
  reader.Feed(text);
  return reader.Finish();
}

unsigned ParseServerListFile(const std::string& path, CServers* servers) {
  ServerListReader reader(servers);
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    char block[64 * 1024];
    while (in.read(block, sizeof block) || in.gcount() > 0) reader.Feed(std::string_view(block, static_cast<size_t>(in.gcount())));
  }
  std::remove(path.c_str());
  return reader.Finish();
}
