// The server box's content: names sorted as a sorted combo box keeps them,
// each with its server, and the selected item. The window shows it.
#pragma once

#include <string>
#include <vector>

struct CServer;

class CServerBox {
 public:
  struct Item {
    std::string name;
    const CServer* server;
  };

  void ResetContent();
  // Inserts in name order (letters compared without case, an equal name
  // goes after the ones already there) and returns the item's index.
  int AddString(const std::string& name, const CServer* server);
  void SetCurSel(int index) { selected_ = index; }
  int GetCurSel() const { return selected_; }
  const CServer* GetSelectedServer() const;
  const std::vector<Item>& Items() const { return items_; }

 private:
  std::vector<Item> items_;
  int selected_ = -1;
};
