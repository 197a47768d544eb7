// The download queue: downloads in the order added; the window starts the
// head and removes each one when its end message has been handled.
#pragma once

#include <list>
#include <memory>
#include <mutex>

#include "CInetFile.h"

class CInetFiles {
 public:
  ~CInetFiles() { RemoveAll(); }

  void Add(std::unique_ptr<CInetFile> file);
  CInetFile* GetHead();
  // Removes and destroys the download, which waits for its thread.
  void Remove(CInetFile* file);
  size_t GetCount();
  // Destroys every download; a running one is cancelled first.
  void RemoveAll();

 private:
  std::mutex lock_;
  std::list<std::unique_ptr<CInetFile>> files_;
};
