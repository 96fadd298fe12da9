#include "automation/windows_network_host_object.h"

#include <string_view>

#include "automation/module.h"
#include "netsys/get_host_info_result.h"
#include "platform/com/bstr.h"
#include "runtime/exceptions.h"

namespace KestAXLib {
namespace {

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNetX::IKestNetWindowsNetworkHost", "KestNetWindowsNetworkHost",
                               &CLSID_KestNetWindowsNetworkHost};

std::wstring_view ViewOf(BSTR text) {
  return text == nullptr ? std::wstring_view{} : std::wstring_view(text, SysStringLen(text));
}

}  // namespace

CWindowsNetworkHost::CWindowsNetworkHost() = default;

CWindowsNetworkHost::~CWindowsNetworkHost() = default;

HRESULT CWindowsNetworkHost::GetText(const char* methodName, const std::wstring& value, BSTR* pVal) {
  return GuardedMethod(kIdentity, methodName, [&] {
    if (pVal == nullptr) RejectParameter(kIdentity, methodName, "p_pbstrVal");
    BSTR copy = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    if (copy == nullptr) throw KestBase::OutOfMemoryException();
    *pVal = copy;
  });
}

HRESULT CWindowsNetworkHost::PutText(const char* methodName, std::wstring& value, BSTR newVal) {
  return GuardedMethod(kIdentity, methodName, [&] { value.assign(ViewOf(newVal)); });
}

HRESULT CWindowsNetworkHost::GetNumber(const char* methodName, LONG value, LONG* pVal) {
  return GuardedMethod(kIdentity, methodName, [&] {
    if (pVal == nullptr) RejectParameter(kIdentity, methodName, "p_plVal");
    *pVal = value;
  });
}

STDMETHODIMP CWindowsNetworkHost::get_IPAddress(BSTR* pVal) {
  return GetText("get_IPAddress", m_values.ipAddress, pVal);
}
STDMETHODIMP CWindowsNetworkHost::put_IPAddress(BSTR newVal) {
  return PutText("put_IPAddress", m_values.ipAddress, newVal);
}
STDMETHODIMP CWindowsNetworkHost::get_MACAddress(BSTR* pVal) {
  return GetText("get_MACAddress", m_values.macAddress, pVal);
}
STDMETHODIMP CWindowsNetworkHost::put_MACAddress(BSTR newVal) {
  return PutText("put_MACAddress", m_values.macAddress, newVal);
}
STDMETHODIMP CWindowsNetworkHost::get_Comment(BSTR* pVal) { return GetText("get_Comment", m_values.comment, pVal); }
STDMETHODIMP CWindowsNetworkHost::put_Comment(BSTR newVal) {
  return PutText("put_Comment", m_values.comment, newVal);
}
STDMETHODIMP CWindowsNetworkHost::get_MajorVersion(LONG* pVal) {
  return GetNumber("get_MajorVersion", m_values.majorVersion, pVal);
}
STDMETHODIMP CWindowsNetworkHost::put_MajorVersion(LONG newVal) {
  m_values.majorVersion = newVal;
  return S_OK;
}
STDMETHODIMP CWindowsNetworkHost::get_MinorVersion(LONG* pVal) {
  return GetNumber("get_MinorVersion", m_values.minorVersion, pVal);
}
STDMETHODIMP CWindowsNetworkHost::put_MinorVersion(LONG newVal) {
  m_values.minorVersion = newVal;
  return S_OK;
}
STDMETHODIMP CWindowsNetworkHost::get_PlatformID(LONG* pVal) {
  return GetNumber("get_PlatformID", m_values.platformId, pVal);
}
STDMETHODIMP CWindowsNetworkHost::put_PlatformID(LONG newVal) {
  m_values.platformId = newVal;
  return S_OK;
}

STDMETHODIMP CWindowsNetworkHost::get_PLATFORM_WINDOWS_9X(LONG* pVal) {
  return GetNumber("get_PLATFORM_WINDOWS_9X", KestNet::PLATFORM_WINDOWS_9X, pVal);
}
STDMETHODIMP CWindowsNetworkHost::get_PLATFORM_WINDOWS_2000(LONG* pVal) {
  return GetNumber("get_PLATFORM_WINDOWS_2000", KestNet::PLATFORM_WINDOWS_2000, pVal);
}
STDMETHODIMP CWindowsNetworkHost::get_PLATFORM_WINDOWS_NT40(LONG* pVal) {
  return GetNumber("get_PLATFORM_WINDOWS_NT40", KestNet::PLATFORM_WINDOWS_NT40, pVal);
}
STDMETHODIMP CWindowsNetworkHost::get_PLATFORM_WINDOWS_XP(LONG* pVal) {
  return GetNumber("get_PLATFORM_WINDOWS_XP", KestNet::PLATFORM_WINDOWS_XP, pVal);
}
STDMETHODIMP CWindowsNetworkHost::get_PLATFORM_WINDOWS_2003(LONG* pVal) {
  return GetNumber("get_PLATFORM_WINDOWS_2003", KestNet::PLATFORM_WINDOWS_2003, pVal);
}
STDMETHODIMP CWindowsNetworkHost::get_PLATFORM_WINDOWS_VISTA(LONG* pVal) {
  return GetNumber("get_PLATFORM_WINDOWS_VISTA", KestNet::PLATFORM_WINDOWS_VISTA, pVal);
}
STDMETHODIMP CWindowsNetworkHost::get_PLATFORM_WINDOWS_7(LONG* pVal) {
  return GetNumber("get_PLATFORM_WINDOWS_7", KestNet::PLATFORM_WINDOWS_7, pVal);
}
STDMETHODIMP CWindowsNetworkHost::get_PLATFORM_UNIX(LONG* pVal) {
  return GetNumber("get_PLATFORM_UNIX", KestNet::PLATFORM_UNIX, pVal);
}
STDMETHODIMP CWindowsNetworkHost::get_PLATFORM_UNKNOWN(LONG* pVal) {
  return GetNumber("get_PLATFORM_UNKNOWN", KestNet::PLATFORM_UNKNOWN, pVal);
}

OBJECT_ENTRY_AUTO(CLSID_KestNetWindowsNetworkHost, CWindowsNetworkHost)

}  // namespace KestAXLib
