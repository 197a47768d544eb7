// One process-wide pointer to the single instance of a class (the owner of
// the index, the configuration). The instance registers itself once it is
// constructed; its destructor clears the pointer.
#pragma once

template <typename T>
class qvSingleton {
 public:
  static T* Instance() { return instance_; }

 protected:
  qvSingleton() = default;
  ~qvSingleton() { instance_ = nullptr; }
  // Called at the end of the owner's constructor (a cast to T inside this
  // base's constructor would name an object not yet built).
  static void Register(T* owner) { instance_ = owner; }

 private:
  static inline T* instance_ = nullptr;
};
