// One process-wide pointer to the single instance of T: the constructor
// stores it, the destructor clears it.
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
