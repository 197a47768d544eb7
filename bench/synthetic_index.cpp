#include "synthetic_index.h"

#include <algorithm>
#include <random>
#include <string>

namespace {

const char* const kWords[] = {
    "report", "photo", "image", "data", "backup", "config", "test", "main", "index", "readme",
    "project", "notes", "draft", "final", "summary", "music", "video", "invoice", "letter", "log",
    "cache", "build", "source", "module", "library", "package", "setup", "install", "update", "user",
    "home", "share", "local", "temp", "doc", "manual", "guide", "release", "version", "archive",
    "screen", "shot", "holiday", "family", "budget", "plan", "meeting", "agenda", "chart", "table"};
const char* const kExts[] = {"txt", "jpg", "png", "pdf", "doc", "docx", "mp3", "mp4", "c", "h",
                             "cpp", "py", "js", "html", "json", "xml", "log", "gz", "zip", "so",
                             "JPG", "md", "ini", "conf", "dat", "exe", "lnk", "ico"};
const char16_t kCjk[] = u"报告照片数据备份文档音乐视频项目资料工作学习中国北京上海张赵王李新建文件夹";

}  // namespace

std::vector<qvStreamVolumeSource::Entry> MakeSyntheticEntries(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  std::vector<qvStreamVolumeSource::Entry> out;
  out.reserve(count);
  std::vector<uint64_t> folders = {5};
  uint64_t next = 16;
  const size_t cjkCount = sizeof kCjk / sizeof kCjk[0] - 1;
  for (size_t i = 0; i < count; ++i) {
    bool folder = pick(10) == 0;
    // Parents favour recent folders, which gives deep and wide parts.
    uint64_t parent = folders[folders.size() - 1 - pick(std::min<size_t>(folders.size(), pick(8) ? 64 : folders.size()))];
    std::u16string name;
    int parts = 1 + static_cast<int>(pick(3));
    for (int p = 0; p < parts; ++p) {
      if (p) name += pick(4) ? u'_' : (pick(2) ? u'-' : u' ');
      if (pick(12) == 0) {
        int n = 2 + static_cast<int>(pick(4));
        for (int k = 0; k < n; ++k) name += kCjk[pick(cjkCount)];
      } else {
        const char* w = kWords[pick(sizeof kWords / sizeof kWords[0])];
        bool upper = pick(5) == 0;
        for (const char* c = w; *c; ++c) name += static_cast<char16_t>(upper && c == w ? *c - 32 : *c);
      }
    }
    if (pick(3) == 0) {
      std::string num = std::to_string(rng() % 100000);
      name += u'_';
      for (char c : num) name += static_cast<char16_t>(c);
    }
    if (!folder && pick(20)) {
      if (pick(15) == 0) name += u".tar";
      name += u'.';
      for (const char* c = kExts[pick(sizeof kExts / sizeof kExts[0])]; *c; ++c) name += static_cast<char16_t>(*c);
    }
    uint64_t ref = next++;
    if (folder) {
      out.push_back(qvStreamVolumeSource::Folder(ref, parent, std::move(name)));
      folders.push_back(ref);
    } else {
      out.push_back(qvStreamVolumeSource::File(ref, parent, std::move(name)));
    }
  }
  return out;
}

size_t SyntheticNameUnits(const std::vector<qvStreamVolumeSource::Entry>& entries) {
  size_t n = 0;
  for (const auto& e : entries) n += e.name.size();
  return n;
}
