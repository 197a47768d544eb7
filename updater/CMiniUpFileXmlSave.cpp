// The manifest writer: a GB2312 document with CR LF line ends and tab
// indents, one File element per local file.
#include <ctime>
#include <cstdio>
#include <fstream>
#include <strings.h>

#include "CMiniUpFileXmlLogic.h"
#include "qvUpText.h"

namespace {

// Values are written as element text: the three characters XML reserves
// there are escaped, so any file name reads back as it was.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Element(const char* name, const std::string& value) {
  return std::string("\t\t\t<") + name + ">" + qvUpText::Utf8ToGb2312Xml(Escape(value)) + "</" + name + ">\r\n";
}

std::string Number(uint32_t value) { return std::to_string(value); }

std::string FlagText(bool value, const char* trueText) { return value ? trueText : "NO"; }

std::string LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%.4u-%.2u-%.2u %.2u:%.2u:%.2u", unsigned(local.tm_year + 1900),
                unsigned(local.tm_mon + 1), unsigned(local.tm_mday), unsigned(local.tm_hour), unsigned(local.tm_min),
                unsigned(local.tm_sec));
  return text;
}

}  // namespace

bool CMiniUpFileXmlLogic::AddLocalFile(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock_);
  entries_.remove_if([&](const auto& entry) { return strcasecmp(entry->m_strTargetPath.c_str(), path.c_str()) == 0; });
  auto entry = std::make_unique<CMiniUpFileParse>(path);
  if (!entry->ReadLocalInfo()) return false;
  entries_.push_back(std::move(entry));
  return true;
}

std::string CMiniUpFileXmlLogic::FormatFileXml(CMiniUpFileParse* entry) const {
  entry->m_URL = m_strBaseUrl + "/" + entry->m_LocalPath + "/" + entry->m_FileName;
  std::string xml = "\t\t<File>\r\n";
  xml += Element("FileName", entry->m_FileName);
  xml += Element("FileVersion", entry->m_FileVersion);
  xml += Element("ProductVersion", entry->m_ProductVersion);
  xml += Element("Length", Number(static_cast<uint32_t>(entry->m_Length)));
  xml += Element("FileDateLow", Number(entry->m_FileDate.dwLowDateTime));
  xml += Element("FileDateHigh", Number(entry->m_FileDate.dwHighDateTime));
  xml += Element("FileHash", entry->m_FileHash);
  xml += Element("InstallDir", entry->m_InstallDir);
  xml += Element("Register", FlagText(entry->m_bRegister, "REGISTER"));
  xml += Element("ZipFile", FlagText(entry->m_bZipFile, "ZIPFILE"));
  xml += Element("ForceOverwrite", FlagText(entry->m_bForceOverwrite, "FORCEOVERWRITE"));
  xml += Element("Execute", FlagText(entry->m_bExecute, "EXECUTE"));
  xml += Element("ExecutePar", entry->m_ExecutePar);
  xml += Element("LocalPath", entry->m_LocalPath);
  xml += Element("URL", entry->m_URL);
  xml += Element("UserName", entry->m_UserName);
  xml += Element("Password", entry->m_Password);
  xml += "\t\t</File>\r\n";
  return xml;
}

bool CMiniUpFileXmlLogic::SaveXml(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock_);
  std::string xml = "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n<xmlRoot keyname=\"KeyValue\">\r\n";
  xml += "\t<Product productname=\"Product-Name\" createdate=\"" + LocalTimeNow() + "\" filenum=\"" +
         std::to_string(entries_.size()) + "\">\r\n";
  for (const auto& entry : entries_) xml += FormatFileXml(entry.get());
  xml += "\t</Product>\r\n</xmlRoot>\r\n";

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(xml.data(), static_cast<std::streamsize>(xml.size()));
  out.close();
  return static_cast<bool>(out);
}
