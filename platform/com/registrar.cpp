#include "platform/com/registrar.h"

#include "platform/com/guid.h"

namespace kestnet::platform {
namespace {

HRESULT FromRegistry(LSTATUS status) { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

bool IsMissing(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

HRESULT SetValue(HKEY key, const wchar_t* name, const RegistrarValue& value) {
  return FromRegistry(
      RegSetValueExW(key, name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size())));
}

HRESULT RegisterKey(HKEY parent, const RegistrarKey& key) {
  if (key.flag == RegistrarKeyFlag::Delete || key.flag == RegistrarKeyFlag::ForceRemove) {
    LSTATUS status = RegDeleteTreeW(parent, key.name.c_str());
    if (status != ERROR_SUCCESS && !IsMissing(status)) return FromRegistry(status);
    if (key.flag == RegistrarKeyFlag::Delete) return S_OK;
  }
  HKEY handle = nullptr;
  LSTATUS status =
      RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return FromRegistry(status);
  HRESULT hr = S_OK;
  if (key.defaultValue) hr = SetValue(handle, nullptr, *key.defaultValue);
  for (const auto& [name, value] : key.namedValues) {
    if (FAILED(hr)) break;
    hr = SetValue(handle, name.c_str(), value);
  }
  for (const RegistrarKey& subkey : key.subkeys) {
    if (FAILED(hr)) break;
    hr = RegisterKey(handle, subkey);
  }
  RegCloseKey(handle);
  return hr;
}

HRESULT UnregisterKey(HKEY parent, const RegistrarKey& key) {
  if (key.flag == RegistrarKeyFlag::Delete) return S_OK;
  if (key.flag == RegistrarKeyFlag::ForceRemove) {
    LSTATUS status = RegDeleteTreeW(parent, key.name.c_str());
    return status == ERROR_SUCCESS || IsMissing(status) ? S_OK : FromRegistry(status);
  }
  HKEY handle = nullptr;
  LSTATUS status = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_ALL_ACCESS, &handle);
  if (IsMissing(status)) return S_OK;
  if (status != ERROR_SUCCESS) return FromRegistry(status);

  // Children first, so a parent may become empty and go too.
  HRESULT hr = S_OK;
  for (const RegistrarKey& subkey : key.subkeys) {
    HRESULT subkeyResult = UnregisterKey(handle, subkey);
    if (FAILED(subkeyResult) && SUCCEEDED(hr)) hr = subkeyResult;
  }
  if (key.flag == RegistrarKeyFlag::NoRemove) {
    RegCloseKey(handle);
    return hr;
  }
  for (const auto& [name, value] : key.namedValues) {
    status = RegDeleteValueW(handle, name.c_str());
    if (status != ERROR_SUCCESS && !IsMissing(status) && SUCCEEDED(hr)) hr = FromRegistry(status);
  }
  if (key.defaultValue) {
    status = RegDeleteValueW(handle, nullptr);
    if (status != ERROR_SUCCESS && !IsMissing(status) && SUCCEEDED(hr)) hr = FromRegistry(status);
  }
  DWORD subkeys = 0;
  DWORD values = 0;
  status = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) return SUCCEEDED(hr) ? FromRegistry(status) : hr;
  if (subkeys == 0 && values == 0) {
    status = RegDeleteKeyW(parent, key.name.c_str());
    if (status != ERROR_SUCCESS && !IsMissing(status) && SUCCEEDED(hr)) hr = FromRegistry(status);
  }
  return hr;
}

HRESULT UnregisterRoots(const std::vector<RegistrarRoot>& roots) {
  HRESULT hr = S_OK;
  for (const RegistrarRoot& root : roots) {
    for (const RegistrarKey& key : root.keys) {
      HRESULT keyResult = UnregisterKey(root.root, key);
      if (FAILED(keyResult) && SUCCEEDED(hr)) hr = keyResult;
    }
  }
  return hr;
}

}  // namespace

HRESULT Registrar::AddReplacement(LPCOLESTR key, LPCOLESTR item) {
  if (key == nullptr || item == nullptr) return E_INVALIDARG;
  try {
    replacements_[key] = item;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Registrar::ClearReplacements() {
  replacements_.clear();
  return S_OK;
}

HRESULT Registrar::StringRegister(LPCOLESTR script) { return Run(script, true); }

HRESULT Registrar::StringUnregister(LPCOLESTR script) { return Run(script, false); }

HRESULT Registrar::Run(LPCOLESTR script, bool registering) {
  if (script == nullptr) return E_POINTER;
  try {
    std::vector<RegistrarRoot> roots;
    lastError_ = RegistrarParseError{};
    HRESULT hr = ParseRegistrarScript(script, replacements_, &roots, &lastError_);
    if (FAILED(hr)) return hr;
    if (!registering) return UnregisterRoots(roots);
    for (const RegistrarRoot& root : roots) {
      for (const RegistrarKey& key : root.keys) {
        hr = RegisterKey(root.root, key);
        if (FAILED(hr)) {
          // Take back what this script wrote; the first failure is what the caller sees.
          UnregisterRoots(roots);
          return hr;
        }
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT UpdateRegistryFromScript(LPCOLESTR script, BOOL bRegister, const _ATL_REGMAP_ENTRY* entries) {
  Registrar registrar;
  for (const _ATL_REGMAP_ENTRY* entry = entries; entry != nullptr && entry->szKey != nullptr; ++entry) {
    HRESULT hr = registrar.AddReplacement(entry->szKey, entry->szData);
    if (FAILED(hr)) return hr;
  }
  return bRegister ? registrar.StringRegister(script) : registrar.StringUnregister(script);
}

}  // namespace kestnet::platform
