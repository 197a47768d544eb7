#include "CMiniUpFileXmlLogic.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <vector>

#include "qvUpText.h"

namespace {

// External entities and DTDs are never loaded, nothing is fetched from the
// network, and entities are not substituted (no XML_PARSE_NOENT): an
// entity reference stays a reference node and adds nothing to a value, so
// an entity bomb costs no more than its own bytes. Without
// XML_PARSE_HUGE the parser's own limits hold (text nodes of at most
// 10 MB, nesting of at most 256 levels).
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

using Document = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

bool NameIs(const xmlNode* node, const char* name) {
  return node->ns == nullptr || node->ns->prefix == nullptr ? xmlStrcmp(node->name, BAD_CAST name) == 0 : false;
}

bool NameIsNoCase(const xmlNode* node, const char* name) {
  return (node->ns == nullptr || node->ns->prefix == nullptr) &&
         qvUpText::EqualsNoCase(reinterpret_cast<const char*>(node->name), name);
}

// The text below a node: its text and CDATA nodes, in order, trimmed as
// the DOM's text property does.
std::string TextOf(const xmlNode* element) {
  std::string text;
  std::vector<const xmlNode*> pending;
  for (const xmlNode* child = element->last; child; child = child->prev) pending.push_back(child);
  while (!pending.empty()) {
    const xmlNode* node = pending.back();
    pending.pop_back();
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      if (node->content) text += reinterpret_cast<const char*>(node->content);
    } else if (node->type == XML_ELEMENT_NODE) {
      for (const xmlNode* child = node->last; child; child = child->prev) pending.push_back(child);
    }
  }
  return std::string(qvUpText::Trim(text));
}

bool Flag(const std::string& value) { return qvUpText::EqualsNoCase(value, "YES"); }

void StoreChild(CMiniUpFileParse* entry, const xmlNode* child) {
  struct Text {
    const char* name;
    std::string CMiniUpFileParse::*field;
  };
  static const Text kTexts[] = {
      {"FileName", &CMiniUpFileParse::m_FileName},     {"FileVersion", &CMiniUpFileParse::m_FileVersion},
      {"ProductVersion", &CMiniUpFileParse::m_ProductVersion}, {"FileHash", &CMiniUpFileParse::m_FileHash},
      {"InstallDir", &CMiniUpFileParse::m_InstallDir}, {"ExecutePar", &CMiniUpFileParse::m_ExecutePar},
      {"LocalPath", &CMiniUpFileParse::m_LocalPath},   {"URL", &CMiniUpFileParse::m_URL},
      {"UserName", &CMiniUpFileParse::m_UserName},     {"Password", &CMiniUpFileParse::m_Password},
  };
  struct Bool {
    const char* name;
    bool CMiniUpFileParse::*field;
  };
  static const Bool kFlags[] = {
      {"Register", &CMiniUpFileParse::m_bRegister},
      {"ZipFile", &CMiniUpFileParse::m_bZipFile},
      {"ForceOverwrite", &CMiniUpFileParse::m_bForceOverwrite},
      {"Execute", &CMiniUpFileParse::m_bExecute},
  };
  for (const Text& t : kTexts)
    if (NameIsNoCase(child, t.name)) entry->*t.field = TextOf(child);
  for (const Bool& b : kFlags)
    if (NameIsNoCase(child, b.name)) entry->*b.field = Flag(TextOf(child));
  if (NameIsNoCase(child, "Length")) entry->m_Length = qvUpText::ParseNumber(TextOf(child));
  if (NameIsNoCase(child, "FileDateLow"))
    entry->m_FileDate.dwLowDateTime = qvUpText::ParseUnsigned32(TextOf(child));
  if (NameIsNoCase(child, "FileDateHigh"))
    entry->m_FileDate.dwHighDateTime = qvUpText::ParseUnsigned32(TextOf(child));
}

// A single ordinary name that a file system can hold: not empty, not "."
// or "..", no separator, at most NAME_MAX bytes.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name.size() <= NAME_MAX && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos;
}

// A relative folder that stays inside its base: not absolute, no drive
// letter, no ".." component. Backslashes have become "/" already.
bool IsInsideFolder(const std::string& folder) {
  if (folder.empty()) return true;
  if (folder.size() >= PATH_MAX) return false;
  if (folder.front() == '/' || (folder.size() >= 2 && folder[1] == ':')) return false;
  size_t start = 0;
  while (start <= folder.size()) {
    size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    if (folder.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

void CMiniUpFileXmlLogic::RemoveAll() {
  std::lock_guard<std::mutex> hold(lock_);
  entries_.clear();
}

bool CMiniUpFileXmlLogic::LoadXml(const std::string& path) {
  RemoveAll();
  Document document(xmlReadFile(path.c_str(), nullptr, kParseOptions), &xmlFreeDoc);
  return LoadDocument(document.get());
}

bool CMiniUpFileXmlLogic::LoadXmlMemory(const std::string& text) {
  RemoveAll();
  if (text.size() > INT_MAX) return false;
  Document document(xmlReadMemory(text.data(), static_cast<int>(text.size()), "manifest.xml", nullptr, kParseOptions),
                    &xmlFreeDoc);
  return LoadDocument(document.get());
}

bool CMiniUpFileXmlLogic::LoadDocument(void* handle) {
  auto* document = static_cast<xmlDoc*>(handle);
  const xmlNode* root = document ? xmlDocGetRootElement(document) : nullptr;
  if (!root) return false;
  std::lock_guard<std::mutex> hold(lock_);
  // Every "File" element below the root, in document order.
  std::vector<const xmlNode*> pending;
  for (const xmlNode* child = root->last; child; child = child->prev) pending.push_back(child);
  while (!pending.empty()) {
    const xmlNode* node = pending.back();
    pending.pop_back();
    if (node->type != XML_ELEMENT_NODE) continue;
    for (const xmlNode* child = node->last; child; child = child->prev) pending.push_back(child);
    if (!NameIs(node, "File")) continue;
    auto entry = std::make_unique<CMiniUpFileParse>(std::string());
    for (const xmlNode* child = node->children; child; child = child->next)
      if (child->type == XML_ELEMENT_NODE) StoreChild(entry.get(), child);
    ComposeTargetPath(entry.get());
    entries_.push_back(std::move(entry));
  }
  return true;
}

void CMiniUpFileXmlLogic::ComposeTargetPath(CMiniUpFileParse* entry) const {
  const std::string* base = &folders_.own;
  if (qvUpText::EqualsNoCase(entry->m_InstallDir, "WINDOWSDIR")) base = &folders_.windows;
  else if (qvUpText::EqualsNoCase(entry->m_InstallDir, "SYSTEMDIR")) base = &folders_.system;

  std::string folder = entry->m_LocalPath;
  for (char& c : folder)
    if (c == '\\') c = '/';
  if (!IsPlainName(entry->m_FileName) || !IsInsideFolder(folder)) {
    entry->m_bPathRefused = true;
    entry->m_strTargetPath.clear();
    return;
  }
  entry->m_strTargetPath = folder.empty() ? *base + "/" + entry->m_FileName : *base + "/" + folder + "/" + entry->m_FileName;
}

unsigned CMiniUpFileXmlLogic::GetUpdateCount() {
  std::lock_guard<std::mutex> hold(lock_);
  unsigned kept = 0;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if ((*it)->NeedUpdate()) {
      ++kept;
      ++it;
    } else {
      it = entries_.erase(it);
    }
  }
  return kept;
}

uint32_t CMiniUpFileXmlLogic::GetUpdateLength() {
  std::lock_guard<std::mutex> hold(lock_);
  uint32_t total = 0;
  for (const auto& entry : entries_)
    if (entry->m_bNeedUpdate) total += static_cast<uint32_t>(entry->m_Length);
  return total;
}

std::unique_ptr<CMiniUpFileParse> CMiniUpFileXmlLogic::PopHead() {
  std::lock_guard<std::mutex> hold(lock_);
  if (entries_.empty()) return nullptr;
  std::unique_ptr<CMiniUpFileParse> head = std::move(entries_.front());
  entries_.pop_front();
  return head;
}

size_t CMiniUpFileXmlLogic::GetCount() {
  std::lock_guard<std::mutex> hold(lock_);
  return entries_.size();
}
