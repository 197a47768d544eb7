// The result codes of a download, carried in the low word of its end
// message, and the texts shown for them.
#pragma once

#include <cstdint>

enum InetResult : uint16_t {
  kInetOk = 0,
  kInetBadUrl = 1,         // not an http or https URL
  kInetNetworkError = 2,   // no connection, name not resolved, time-out, broken transfer
  kInetLengthMismatch = 3, // the file's size differs from the manifest's Length
  kInetHashMismatch = 4,   // the file's MD5 differs from the manifest's FileHash
  kInetPathRefused = 5,    // FileName or LocalPath leads outside the base folder
  kInetHttpStatus = 6,     // the server answered with a status other than 200
  kInetCreateFailed = 7,   // the local file cannot be created
  kInetCancelled = 8,      // the window closed during the transfer
  kInetWriteFailed = 9,    // the local file cannot be written
};

// What the user reads while the download has not failed, and after a
// network error.
inline constexpr char kInetInitialErrorText[] = "连接服务器失败, 请选择其他服务器进行尝试";

// The error text a failure with this code sets; null when the code keeps
// the text it had (0, 2 and 8).
const char* InetErrorText(int result);
