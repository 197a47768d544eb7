#include "qvResource.h"

#include <cstring>

// Bounds of the embedded tables, from engine/resources/*.S.
extern "C" {
__attribute__((visibility("hidden"))) extern const unsigned char qvZisortBegin[];
__attribute__((visibility("hidden"))) extern const unsigned char qvZisortEnd[];
__attribute__((visibility("hidden"))) extern const unsigned char qvPinyinBegin[];
__attribute__((visibility("hidden"))) extern const unsigned char qvPinyinEnd[];
}

namespace {

struct Resource {
  const char* type;
  int id;
  const unsigned char* begin;
  const unsigned char* end;
};

const Resource kResources[] = {
    {"ZISORT", QV_RESOURCE_ZISORT, qvZisortBegin, qvZisortEnd},
    {"PINYIN", QV_RESOURCE_PINYIN, qvPinyinBegin, qvPinyinEnd},
};

}  // namespace

const void* qvFindResource(const char* type, int id, size_t* size) {
  if (type) {
    for (const Resource& r : kResources) {
      if (r.id == id && std::strcmp(r.type, type) == 0) {
        if (size) *size = static_cast<size_t>(r.end - r.begin);
        return r.begin;
      }
    }
  }
  if (size) *size = 0;
  return nullptr;
}
