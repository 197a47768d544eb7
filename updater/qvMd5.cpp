#include "qvMd5.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <memory>

namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string Hex(const unsigned char* digest, unsigned length) {
  std::string text;
  char pair[3];
  for (unsigned i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  return text;
}

std::string Final(EVP_MD_CTX* context) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_DigestFinal_ex(context, digest, &length) != 1) return std::string();
  return Hex(digest, length);
}

}  // namespace

std::string Md5Hex(std::string_view bytes) {
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1)
    return std::string();
  return Final(context.get());
}

std::optional<std::string> Md5HexOfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return std::nullopt;
  char block[64 * 1024];
  while (in.read(block, sizeof block) || in.gcount() > 0)
    if (EVP_DigestUpdate(context.get(), block, static_cast<size_t>(in.gcount())) != 1) return std::nullopt;
  if (in.bad()) return std::nullopt;
  std::string hex = Final(context.get());
  if (hex.empty()) return std::nullopt;
  return hex;
}
