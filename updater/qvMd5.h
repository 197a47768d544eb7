// MD5 digests (RFC 1321) as 32 lower-case hexadecimal digits, through
// OpenSSL's EVP interface.
#pragma once

#include <optional>
#include <string>
#include <string_view>

std::string Md5Hex(std::string_view bytes);

// The digest of a file's content, read in pieces; nothing when the file
// cannot be read.
std::optional<std::string> Md5HexOfFile(const std::string& path);
