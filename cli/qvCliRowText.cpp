#include "qvCliRowText.h"

#include <cstdio>
#include <ctime>

#include "qvFormat.h"
#include "qvNameCodec.h"

using qvService::Row;

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendEscape(std::string& out, uint32_t unit) {
  char text[8];
  std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(unit));
  out += text;
}

// Bytes as a JSON string. They are read as the index reads names: invalid
// sequences become lone surrogates, which JSON can only carry escaped.
std::string JsonText(const std::string& bytes) {
  qvString units = qvNameCodec::DecodeToString(bytes);
  std::string out = "\"";
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendEscape(out, u);
    } else if (u == '"') {
      out += "\\\"";
    } else if (u == '\\') {
      out += "\\\\";
    } else if (u == '\n') {
      out += "\\n";
    } else if (u == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      AppendEscape(out, u);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out + "\"";
}

std::string JsonTime(uint64_t fileTime) {
  std::string iso = IsoTime(fileTime);
  return iso.empty() ? "null" : "\"" + iso + "\"";
}

std::string AttributeWords(uint32_t a) {
  static const struct {
    uint32_t bit;
    const char* word;
  } kWords[] = {{0x1, "readonly"}, {0x2, "hidden"}, {0x4, "system"}, {0x10, "directory"},
                {0x20, "archive"}, {0x80, "normal"}, {0x400, "symlink"}};
  std::string out = "[";
  for (const auto& w : kWords)
    if (a & w.bit) out += std::string(out.size() > 1 ? "," : "") + "\"" + w.word + "\"";
  return out + "]";
}

std::string LongLine(const Row& r) {
  return r.name + '\t' + r.folder + '\t' + qvFormatSize(r.size, r.isFolder) + '\t' + qvFormatFileTime(r.created) +
         '\t' + qvFormatFileTime(r.modified) + '\t' + qvFormatFileTime(r.accessed) + '\t' +
         qvFormatAttributes(r.attributes, r.isFolder);
}

}  // namespace

std::string IsoTime(uint64_t fileTime) {
  if (fileTime == 0) return std::string();
  constexpr int64_t kEpochDelta = 11644473600LL;
  time_t t = static_cast<time_t>(static_cast<int64_t>(fileTime / 10000000ULL) - kEpochDelta);
  struct tm utc;
  if (!gmtime_r(&t, &utc)) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::string CliJsonRow(const Row& r) {
  std::string out = "{\"path\":" + JsonText(r.Path()) + ",\"name\":" + JsonText(r.name) + ",\"type\":\"" +
                    (r.isFolder ? "folder" : "file") + "\"";
  if (r.hasDetails) {
    out += ",\"size\":" + std::to_string(r.size) + ",\"created\":" + JsonTime(r.created) +
           ",\"modified\":" + JsonTime(r.modified) + ",\"accessed\":" + JsonTime(r.accessed) +
           ",\"attributes\":" + AttributeWords(r.attributes);
  }
  return out + "}";
}

std::string RenderCliRows(const qvCliOptions& o, uint64_t count, const std::vector<Row>& rows) {
  if (o.count) return std::to_string(count) + "\n";
  const char end = o.nul ? '\0' : '\n';
  std::string out;
  for (const Row& r : rows) {
    out += o.json ? CliJsonRow(r) : o.longForm ? LongLine(r) : r.Path();
    out += end;
  }
  return out;
}
