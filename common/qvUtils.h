// System utilities: icons, opening files, autostart, machine facts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvTypes.h"

class qvUtils {
 public:
  qvUtils& operator=(const qvUtils&) { return *this; }

  // The folder icon for kind != 0 (looked up once, then cached), the drive
  // icon for kind 0. The path is not used.
  static int32_t QV_GetDirectoryIconIndex(const qvChar* path, int32_t kind);
  // Appends the name to the caller's path buffer at pathLength to form the
  // full path, looks up its icon, and terminates the buffer at pathLength
  // again: the buffer ends as it began. The buffer holds QV_MAX_PATH units.
  static int32_t QV_GetFileIconIndex(qvChar* pathBuffer, int32_t pathLength, const qvChar* name,
                                     int32_t nameLength);

  // Opens a file, folder or URL with the desktop's program for it
  // (xdg-open), without waiting. 1 when the opener was started; 0 for an
  // empty path or when it cannot be started.
  static int QV_OpenFile(const qvChar* path);
  // Opens what a launcher points at: a symbolic link's target (through
  // QV_OpenFile), a ".desktop" file's Exec= program with its arguments (in
  // its Path= folder), or a Type=Link entry's URL. 0 when the target cannot
  // be resolved or started.
  static int QV_OpenShortCut(const qvChar* path);

  // Adds or removes the autostart entry
  // $XDG_CONFIG_HOME/autostart/<name>.desktop (~/.config by default) that
  // starts the running executable at login. Enabling: 1 when the entry was
  // written. Disabling: 1 when it was removed or did not exist. 0 for a name
  // that is empty or holds a '/'.
  static int QV_SetAutoStart(int enable, const qvChar* name);

  // Results of QV_GetMac.
  static constexpr int kMacOk = 0;
  static constexpr int kMacBufferTooSmall = 1;
  static constexpr int kMacNoAdapter = 2;
  // The hardware address of the first interface that is not a loopback
  // and has a six-byte address, as "%02X-%02X-%02X-%02X-%02X-%02X" (18
  // bytes with the terminator); kMacOk, or a non-zero code with the buffer
  // left alone.
  static int QV_GetMac(char* buffer, size_t size);
  // A short name of the running system ("Debian GNU/Linux 12 (bookworm)"):
  // PRETTY_NAME of os-release, else its NAME, else the kernel's name and
  // release. At most 259 bytes and the buffer's size less one, cut at a
  // character boundary. 1 when written; 0 leaves the buffer as it was.
  static int QV_getOsVersion(char* buffer, size_t size);
  // 64 when the machine (uname) is 64-bit, whatever this process's width;
  // else 32.
  static int QV_GetSystemBits();
};
