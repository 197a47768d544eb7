#include "qvSkinArchive.h"

#include <cstdint>
#include <fstream>
#include <iterator>

namespace {

constexpr char kMagic[] = "QVSKIN1\n";
constexpr size_t kMagicSize = sizeof kMagic - 1;

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Reads a u32 at `at`, advancing it; false past the end.
bool GetU32(const std::string& in, size_t& at, uint32_t* v) {
  if (in.size() - at < 4) return false;
  *v = 0;
  for (int i = 0; i < 4; ++i) *v |= static_cast<uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
  at += 4;
  return true;
}

bool GetBytes(const std::string& in, size_t& at, uint32_t length, std::string* out) {
  if (in.size() - at < length) return false;
  out->assign(in, at, length);
  at += length;
  return true;
}

}  // namespace

bool qvSkinArchive::Load(const std::string& path) {
  files_.clear();
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return false;
  return Parse(bytes);
}

bool qvSkinArchive::Parse(const std::string& bytes) {
  files_.clear();
  if (bytes.compare(0, kMagicSize, kMagic) != 0) return false;
  size_t at = kMagicSize;
  uint32_t count = 0;
  if (!GetU32(bytes, at, &count)) return false;
  std::map<std::string, std::string> files;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t nameLength = 0, dataLength = 0;
    std::string name, data;
    if (!GetU32(bytes, at, &nameLength) || !GetBytes(bytes, at, nameLength, &name)) return false;
    if (!GetU32(bytes, at, &dataLength) || !GetBytes(bytes, at, dataLength, &data)) return false;
    files[name] = std::move(data);
  }
  if (at != bytes.size()) return false;
  files_ = std::move(files);
  return true;
}

std::optional<std::string> qvSkinArchive::Find(const std::string& name) const {
  auto it = files_.find(name);
  if (it == files_.end()) return std::nullopt;
  return it->second;
}

std::string qvSkinArchive::Build(const std::map<std::string, std::string>& files) {
  std::string out(kMagic, kMagicSize);
  PutU32(out, static_cast<uint32_t>(files.size()));
  for (const auto& [name, data] : files) {
    PutU32(out, static_cast<uint32_t>(name.size()));
    out += name;
    PutU32(out, static_cast<uint32_t>(data.size()));
    out += data;
  }
  return out;
}
