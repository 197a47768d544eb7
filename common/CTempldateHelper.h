// Binds one creatable interface out of one plugin (the window and the
// command line bind the engine with it): loads the library,
// finds its creation export, asks it for the interface, and keeps the
// reason when any of that fails. Nothing is shown to the user; the text
// stays in GetErrorText.
#pragma once

#include <dlfcn.h>

#include <string>

#include "IQvSearch.h"
#include "qvNameCodec.h"
#include "qvTypes.h"

template <typename Interface>
class CTempldateHelper {
 public:
  using CreateFn = Interface* (*)(const qvGUID* iid, uint32_t version);

  // Error texts hold at most this many characters, terminator included.
  static constexpr size_t kErrorLimit = 128;

  // The library is loaded from `folder` (ending in '/') + `libraryName`.
  CTempldateHelper(const qvGUID* iid, uint32_t version, const char* exportName, const qvString& libraryName,
                   const qvString& folder)
      : m_iid(iid), m_version(version), m_exportName(exportName), m_libraryName(libraryName), m_folder(folder) {}
  CTempldateHelper(const CTempldateHelper&) = delete;
  CTempldateHelper& operator=(const CTempldateHelper&) = delete;
  virtual ~CTempldateHelper() { UnbindEngine(); }

  // Loads the library and creates the interface; false with the reason in
  // GetErrorText. A failure after loading keeps the library loaded until
  // the next BindEngine or UnbindEngine.
  bool BindEngine() {
    m_errorText.clear();
    Drop();
    try {
      std::string file = qvNameCodec::EncodeToString(m_folder + m_libraryName);
      m_library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!m_library) return Fail(u"“%s”模块加载失败", m_libraryName);
      auto create = reinterpret_cast<CreateFn>(dlsym(m_library, m_exportName.c_str()));
      if (!create) return Fail(u"找不到组件创建函数“%s”", ExportName());
      m_interface = create(m_iid, m_version);
      if (!m_interface) return Fail(u"调用函数“%s”生成对象失败", ExportName());
      return true;
    } catch (const qvChar* text) {
      return Fail(u"由于“%s”，组件创建失败", text ? qvString(text) : qvString());
    } catch (const qvString& text) {
      return Fail(u"由于“%s”，组件创建失败", text);
    } catch (...) {
      return Fail(u"组件创建函数“%s”产生未知异常错误，组件创建失败", ExportName());
    }
  }

  // Releases the interface (the engine saves its index there) and unloads
  // the library.
  void UnbindEngine() {
    m_errorText.clear();
    Drop();
  }

  // Takes an interface made elsewhere (an engine linked into the program);
  // there is no library to unload for it.
  void Adopt(Interface* object) {
    m_errorText.clear();
    Drop();
    m_interface = object;
  }

  Interface* GetInterface() const { return m_interface; }
  const qvString& GetErrorText() const { return m_errorText; }

 private:
  qvString ExportName() const { return qvNameCodec::DecodeToString(m_exportName); }

  void Drop() {
    if (m_interface) {
      m_interface->Release();
      m_interface = nullptr;
    }
    if (m_library) {
      dlclose(m_library);
      m_library = nullptr;
    }
  }

  bool Fail(const qvChar* format, const qvString& argument) {
    qvString text = format;
    size_t at = text.find(u"%s");
    if (at != qvString::npos) text.replace(at, 2, argument);
    if (text.size() > kErrorLimit - 1) text.resize(kErrorLimit - 1);
    m_errorText = text;
    return false;
  }

  const qvGUID* m_iid;
  uint32_t m_version;
  std::string m_exportName;
  qvString m_libraryName;
  qvString m_folder;
  void* m_library = nullptr;
  Interface* m_interface = nullptr;
  qvString m_errorText;
};
