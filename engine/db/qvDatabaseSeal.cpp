#include "qvDatabaseSeal.h"

#include <cstring>

namespace qvDbSeal {

namespace {

void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
uint64_t Get64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

// Each step is a bijection of the state for a given word, so a word that
// differs leaves a different state from then on.
void Checksum::Mix(uint64_t word) {
  state_ = (state_ ^ word) * 0xFF51AFD7ED558CCDull;
  state_ ^= state_ >> 32;
}

void Checksum::Update(const uint8_t* data, size_t n) {
  length_ += n;
  while (pendingBytes_ > 0 && pendingBytes_ < 8 && n) {
    pending_[pendingBytes_++] = *data++;
    --n;
    if (pendingBytes_ == 8) {
      Mix(Get64(pending_));
      pendingBytes_ = 0;
    }
  }
  for (; n >= 8; data += 8, n -= 8) Mix(Get64(data));
  if (n) std::memcpy(pending_ + pendingBytes_, data, n);  // data may be null when n is 0
  pendingBytes_ += n;
}

uint64_t Checksum::Final() const {
  Checksum tail = *this;
  uint8_t last[8] = {};
  std::memcpy(last, pending_, pendingBytes_);
  tail.Mix(Get64(last));
  tail.Mix(length_);
  uint64_t h = tail.state_;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 29);
}

FileSum SumOf(const uint8_t* data, size_t n) {
  Checksum c;
  c.Update(data, n);
  return {n, c.Final()};
}

void Build(const Seal& seal, uint8_t out[kSize]) {
  std::memcpy(out, &kMagic, 4);
  std::memcpy(out + 4, &kVersion, 4);
  Put64(out + 8, seal.generation);
  for (int f = 0; f < kFileCount; ++f) {
    Put64(out + 16 + 16 * f, seal.files[f].size);
    Put64(out + 24 + 16 * f, seal.files[f].sum);
  }
  Put64(out + kSize - 8, SumOf(out, kSize - 8).sum);
}

bool Parse(const uint8_t* data, size_t n, Seal& seal) {
  if (n != kSize || Get32(data) != kMagic || Get32(data + 4) != kVersion) return false;
  if (Get64(data + kSize - 8) != SumOf(data, kSize - 8).sum) return false;
  seal.generation = Get64(data + 8);
  for (int f = 0; f < kFileCount; ++f) seal.files[f] = {Get64(data + 16 + 16 * f), Get64(data + 24 + 16 * f)};
  return true;
}

}  // namespace qvDbSeal
