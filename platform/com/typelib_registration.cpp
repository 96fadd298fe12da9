#include "platform/com/typelib_registration.h"

#include <dlfcn.h>

#include <cwchar>
#include <string>

#include "platform/com/registry_text.h"
#include "platform/com/typelib_internal.h"
#include "platform/os/utf8.h"

namespace kestnet::platform {

void ReleaseTypeLibModule(void* module) {
  if (module != nullptr) dlclose(module);
}

namespace {

std::wstring VersionText(WORD major, WORD minor) {
  wchar_t buffer[32];
  std::swprintf(buffer, 32, L"%x.%x", major, minor);
  return buffer;
}

std::wstring LibraryKey(REFGUID libid, WORD major, WORD minor) {
  return L"TypeLib\\" + GuidToString(libid) + L"\\" + VersionText(major, minor);
}

HRESULT FromRegistry(LSTATUS status) { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

// Deletes HKCR\path when it has neither subkeys nor values left.
void DeleteIfEmpty(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subkeys = 0;
  DWORD values = 0;
  LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                    nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (status == ERROR_SUCCESS && subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
}

}  // namespace
}  // namespace kestnet::platform

using namespace kestnet::platform;

HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
  if (pptlib == nullptr) return E_INVALIDARG;
  *pptlib = nullptr;
  if (szFile == nullptr || szFile[0] == L'\0') return E_INVALIDARG;
  std::string path = Utf8FromWide(szFile);
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return TYPE_E_CANTLOADLIBRARY;
  auto getDescription =
      reinterpret_cast<DllGetTypeLibDescriptionFunction>(dlsym(module, "DllGetTypeLibDescription"));
  const TypeLibDescription* description = getDescription != nullptr ? getDescription() : nullptr;
  if (description == nullptr) {
    dlclose(module);
    return TYPE_E_CANTLOADLIBRARY;
  }
  HRESULT hr = CreateTypeLibForModule(description, module, pptlib);
  if (FAILED(hr)) {
    dlclose(module);
    return hr;
  }
  if (regkind == REGKIND_REGISTER) {
    hr = RegisterTypeLib(*pptlib, szFile, nullptr);
    if (FAILED(hr)) {
      (*pptlib)->Release();
      *pptlib = nullptr;
      return hr;
    }
  }
  return S_OK;
}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) { return LoadTypeLibEx(szFile, REGKIND_NONE, pptlib); }

HRESULT QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID /*lcid*/, BSTR* lpbstrPathName) {
  if (lpbstrPathName == nullptr) return E_INVALIDARG;
  *lpbstrPathName = nullptr;
  std::wstring path;
  if (!ReadClassesRootText(LibraryKey(guid, wMaj, wMin) + L"\\0\\win64", L"", &path) || path.empty()) {
    return TYPE_E_LIBNOTREGISTERED;
  }
  *lpbstrPathName = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  return *lpbstrPathName == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib) {
  if (pptlib == nullptr) return E_INVALIDARG;
  *pptlib = nullptr;
  BSTR path = nullptr;
  HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, &path);
  if (FAILED(hr)) return hr;
  hr = LoadTypeLib(path, pptlib);
  SysFreeString(path);
  if (SUCCEEDED(hr)) {
    TLIBATTR* attr = nullptr;
    (*pptlib)->GetLibAttr(&attr);
    // The registered file must be the library asked for.
    if (attr == nullptr || !(attr->guid == rguid)) {
      (*pptlib)->Release();
      *pptlib = nullptr;
      return TYPE_E_LIBNOTREGISTERED;
    }
  }
  return hr;
}

HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
  if (ptlib == nullptr || szFullPath == nullptr) return E_INVALIDARG;
  TLIBATTR* attr = nullptr;
  HRESULT hr = ptlib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  std::wstring libid = GuidToString(attr->guid);
  std::wstring version = VersionText(attr->wMajorVerNum, attr->wMinorVerNum);
  std::wstring libraryKey = LibraryKey(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum);
  ptlib->ReleaseTLibAttr(attr);

  BSTR help = nullptr;
  ptlib->GetDocumentation(-1, nullptr, &help, nullptr, nullptr);
  std::wstring helpText = help != nullptr ? std::wstring(help, SysStringLen(help)) : L"";
  SysFreeString(help);

  LSTATUS status = WriteClassesRootText(libraryKey, L"", helpText);
  if (status == ERROR_SUCCESS) status = WriteClassesRootText(libraryKey + L"\\0\\win64", L"", szFullPath);
  if (status == ERROR_SUCCESS) status = WriteClassesRootText(libraryKey + L"\\FLAGS", L"", L"0");
  if (status == ERROR_SUCCESS) {
    std::wstring helpDir = szHelpDir != nullptr ? szHelpDir : L"";
    status = WriteClassesRootText(libraryKey + L"\\HELPDIR", L"", helpDir);
  }
  if (status != ERROR_SUCCESS) return FromRegistry(status);

  UINT count = ptlib->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    ITypeInfo* info = nullptr;
    if (FAILED(ptlib->GetTypeInfo(i, &info))) continue;
    TYPEATTR* typeAttr = nullptr;
    info->GetTypeAttr(&typeAttr);
    bool isInterface = typeAttr != nullptr && (typeAttr->typekind == TKIND_DISPATCH || typeAttr->typekind == TKIND_INTERFACE);
    if (isInterface) {
      bool dual = (typeAttr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
      std::wstring key = L"Interface\\" + GuidToString(typeAttr->guid);
      BSTR name = nullptr;
      info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
      std::wstring proxy = GuidToString(dual ? CLSID_PSOAInterface : CLSID_PSDispatch);
      status = WriteClassesRootText(key, L"", name != nullptr ? name : L"");
      SysFreeString(name);
      if (status == ERROR_SUCCESS) status = WriteClassesRootText(key + L"\\ProxyStubClsid", L"", proxy);
      if (status == ERROR_SUCCESS) status = WriteClassesRootText(key + L"\\ProxyStubClsid32", L"", proxy);
      if (status == ERROR_SUCCESS) status = WriteClassesRootText(key + L"\\TypeLib", L"", libid);
      if (status == ERROR_SUCCESS) status = WriteClassesRootText(key + L"\\TypeLib", L"Version", version);
    }
    info->ReleaseTypeAttr(typeAttr);
    info->Release();
    if (status != ERROR_SUCCESS) return FromRegistry(status);
  }
  return S_OK;
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND /*syskind*/) {
  std::wstring libraryKey = LibraryKey(libID, wVerMajor, wVerMinor);
  HKEY probe = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, libraryKey.c_str(), 0, KEY_READ, &probe) != ERROR_SUCCESS) {
    return TYPE_E_LIBNOTREGISTERED;
  }
  RegCloseKey(probe);

  // The interfaces are found in the library itself, as Windows does; an
  // Interface key is removed only while it still points at this library.
  ITypeLib* library = nullptr;
  if (SUCCEEDED(LoadRegTypeLib(libID, wVerMajor, wVerMinor, lcid, &library))) {
    UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
      ITypeInfo* info = nullptr;
      if (FAILED(library->GetTypeInfo(i, &info))) continue;
      TYPEATTR* typeAttr = nullptr;
      info->GetTypeAttr(&typeAttr);
      if (typeAttr != nullptr && (typeAttr->typekind == TKIND_DISPATCH || typeAttr->typekind == TKIND_INTERFACE)) {
        std::wstring key = L"Interface\\" + GuidToString(typeAttr->guid);
        std::wstring owner;
        GUID ownerId{};
        if (ReadClassesRootText(key + L"\\TypeLib", L"", &owner) && GuidFromString(owner, &ownerId) &&
            ownerId == libID) {
          RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
        }
      }
      info->ReleaseTypeAttr(typeAttr);
      info->Release();
    }
    library->Release();
  }
  LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, libraryKey.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return FromRegistry(status);
  DeleteIfEmpty(L"TypeLib\\" + GuidToString(libID));
  return S_OK;
}
