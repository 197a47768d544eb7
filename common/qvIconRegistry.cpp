#include "qvIconRegistry.h"

#include <algorithm>
#include <cstring>

namespace qvIconRegistry {

namespace {

// Index order is fixed: it is what the engine hands out and what the
// application's list shows, so never reorder.
const char* const kNames[] = {
    "folder",                     // 0
    "drive-harddisk",             // 1
    "text-x-generic",             // 2
    "text-x-generic",             // 3 no extension
    "image-x-generic",            // 4
    "audio-x-generic",            // 5
    "video-x-generic",            // 6
    "package-x-generic",          // 7
    "application-x-executable",   // 8
    "x-office-document",          // 9
    "x-office-spreadsheet",       // 10
    "x-office-presentation",      // 11
    "application-pdf",            // 12
    "text-html",                  // 13
    "text-x-script",              // 14
    "text-x-csrc",                // 15
    "application-x-desktop",      // 16
    "font-x-generic",             // 17
    "application-x-cd-image",     // 18
    "application-x-sharedlib",    // 19
};

struct ExtIcon {
  const char* ext;
  int32_t index;
};

// Sorted by extension for the binary search below.
const ExtIcon kByExtension[] = {
    {"7z", 7},     {"aac", 5},    {"ai", 4},     {"apk", 7},    {"appimage", 8},
    {"avi", 6},    {"bash", 14},  {"bat", 14},   {"bmp", 4},    {"bz2", 7},
    {"c", 15},     {"cc", 15},    {"cmd", 14},   {"com", 8},    {"cpp", 15},
    {"csv", 10},   {"cur", 4},    {"deb", 7},    {"desktop", 16}, {"djvu", 12},
    {"dll", 19},   {"doc", 9},    {"docx", 9},   {"epub", 9},   {"exe", 8},
    {"flac", 5},   {"flv", 6},    {"gif", 4},    {"gz", 7},     {"h", 15},
    {"heic", 4},   {"hpp", 15},   {"htm", 13},   {"html", 13},  {"ico", 4},
    {"iso", 18},   {"jar", 7},    {"jpeg", 4},   {"jpg", 4},    {"js", 14},
    {"key", 11},   {"lnk", 16},   {"lz", 7},     {"m4a", 5},    {"m4v", 6},
    {"mid", 5},    {"mkv", 6},    {"mov", 6},    {"mp3", 5},    {"mp4", 6},
    {"mpeg", 6},   {"mpg", 6},    {"msi", 8},    {"odp", 11},   {"ods", 10},
    {"odt", 9},    {"ogg", 5},    {"opus", 5},   {"otf", 17},   {"pdf", 12},
    {"php", 14},   {"pl", 14},    {"png", 4},    {"ppt", 11},   {"pptx", 11},
    {"ps", 12},    {"psd", 4},    {"py", 14},    {"rar", 7},    {"rb", 14},
    {"rpm", 7},    {"rs", 15},    {"rtf", 9},    {"sh", 14},    {"so", 19},
    {"svg", 4},    {"tar", 7},    {"tgz", 7},    {"tif", 4},    {"tiff", 4},
    {"ts", 6},     {"ttf", 17},   {"wav", 5},    {"webm", 6},   {"webp", 4},
    {"wma", 5},    {"wmv", 6},    {"woff", 17},  {"xhtml", 13}, {"xls", 10},
    {"xlsx", 10},  {"xz", 7},     {"zip", 7},    {"zsh", 14},   {"zst", 7},
};

}  // namespace

int32_t ForFileName(const qvChar* name, size_t length) {
  size_t dot = length;
  for (size_t i = length; i-- > 0;) {
    if (name[i] == u'.') {
      dot = i;
      break;
    }
    if (name[i] == u'/') break;
  }
  if (dot == length || dot == 0) return kNoExtension;
  char ext[16];
  size_t n = length - dot - 1;
  if (n == 0 || n >= sizeof ext) return kGenericFile;
  for (size_t i = 0; i < n; ++i) {
    qvChar c = name[dot + 1 + i];
    if (c >= u'A' && c <= u'Z') c = static_cast<qvChar>(c + 32);
    if (c >= 128) return kGenericFile;
    ext[i] = static_cast<char>(c);
  }
  ext[n] = 0;
  const ExtIcon* end = kByExtension + sizeof kByExtension / sizeof kByExtension[0];
  const ExtIcon* it = std::lower_bound(kByExtension, end, ext, [](const ExtIcon& e, const char* key) {
    return std::strcmp(e.ext, key) < 0;
  });
  if (it != end && std::strcmp(it->ext, ext) == 0) return it->index;
  return kGenericFile;
}

const char* IconName(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= sizeof kNames / sizeof kNames[0])
    return "text-x-generic";
  return kNames[index];
}

}  // namespace qvIconRegistry
