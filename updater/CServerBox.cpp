#include "CServerBox.h"

#include <algorithm>
#include <cctype>

namespace {

int CompareNoCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>(a[i]));
    int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

void CServerBox::ResetContent() {
  items_.clear();
  selected_ = -1;
}

int CServerBox::AddString(const std::string& name, const CServer* server) {
  auto at = std::find_if(items_.begin(), items_.end(),
                         [&](const Item& item) { return CompareNoCase(name, item.name) < 0; });
  int index = static_cast<int>(at - items_.begin());
  items_.insert(at, Item{name, server});
  if (selected_ >= index) ++selected_;
  return index;
}

const CServer* CServerBox::GetSelectedServer() const {
  if (selected_ < 0 || selected_ >= static_cast<int>(items_.size())) return nullptr;
  return items_[static_cast<size_t>(selected_)].server;
}
