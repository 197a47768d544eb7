// Helpers of the updater's tests: temporary folders, whole-file reads and
// writes, GBK/GB2312 encodings, and waiting on the event loop for a
// condition (a bound against hangs, not a timing).
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace qvupdatetest {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// UTF-8 text in another encoding ("GBK", "GB2312").
inline std::string Encode(const std::string& utf8, const char* encoding) {
  iconv_t cd = iconv_open(encoding, "UTF-8");
  std::string out(utf8.size() * 2 + 16, '\0');
  char* src = const_cast<char*>(utf8.data());
  size_t srcLeft = utf8.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  iconv(cd, &src, &srcLeft, &dst, &dstLeft);
  iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return out;
}

// Runs the event loop until done() holds; false after the bound.
inline bool WaitFor(const std::function<bool()>& done, int boundMs = 20000) {
  QDeadlineTimer deadline(boundMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// A folder that lives as long as the test.
class TempFolder {
 public:
  TempFolder() { EXPECT_TRUE(dir_.isValid()); }
  std::string Path() const { return dir_.path().toStdString(); }
  std::string operator/(const std::string& name) const { return Path() + "/" + name; }

 private:
  QTemporaryDir dir_;
};

// One manifest File element from name/value pairs, in UTF-8.
inline std::string FileElement(std::initializer_list<std::pair<std::string, std::string>> children) {
  std::string xml = "<File>";
  for (const auto& [name, value] : children) xml += "<" + name + ">" + value + "</" + name + ">";
  return xml + "</File>";
}

// A GB2312 manifest around File elements.
inline std::string Manifest(const std::string& files) {
  return Encode("<?xml version=\"1.0\" encoding=\"GB2312\" ?>\r\n<xmlRoot keyname=\"KeyValue\"><Product>" + files +
                    "</Product></xmlRoot>\r\n",
                "GB2312");
}

}  // namespace qvupdatetest
