// One process-wide pointer to the single owner of the index. The owner's
// constructor registers itself; its destructor clears the pointer.
#pragma once

template <typename T>
class qvSingleton {
 public:
  static T* Instance() { return instance_; }

 protected:
  qvSingleton() { instance_ = static_cast<T*>(this); }
  ~qvSingleton() { instance_ = nullptr; }

 private:
  static inline T* instance_ = nullptr;
};
