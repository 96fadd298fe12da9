// KestNetWindowsNetworkHost: what a host lookup found, as a script reads it.
//
// A plain value object with no events, window or listener: six stored
// properties (IPAddress, MACAddress, Comment, MajorVersion, MinorVersion,
// PlatformID; put stores a copy, get returns a copy) and the PLATFORM_*
// constants the platform id is one of. KestNetWindowsNetwork makes one for
// every OnGetHostInfoComplete and fills it with Assign before the event
// fires; an object a script creates itself starts as a lookup that found
// nothing: "UNKNOWN" texts and -1 numbers (PLATFORM_UNKNOWN).
#pragma once

#include <string>

#include "automation/class_factory.h"
#include "automation/com_object.h"
#include "automation/interfaces.h"
#include "automation/method_guard.h"
#include "automation/object_support.h"
#include "automation/tol_lock.h"
#include "automation/typelib_ids.h"

namespace KestAXLib {

// The six values of one host, as the lookup reported them; the defaults are
// those of a lookup that found nothing.
struct WindowsNetworkHostValues {
  std::wstring ipAddress = L"UNKNOWN";
  std::wstring macAddress = L"UNKNOWN";
  std::wstring comment = L"UNKNOWN";
  LONG majorVersion = -1;
  LONG minorVersion = -1;
  LONG platformId = -1;
};

class CWindowsNetworkHost
    : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
      public ATL::CComCoClass<CWindowsNetworkHost, &CLSID_KestNetWindowsNetworkHost>,
      public TolLock<CWindowsNetworkHost, IKestNetWindowsNetworkHost, &IID_IKestNetWindowsNetworkHost, &LIBID_KestNet,
                     1, 0>,
      public ATL::IObjectWithSiteImpl<CWindowsNetworkHost>,
      public ATL::IObjectSafetyImpl<CWindowsNetworkHost, 3>,
      public ATL::ISupportErrorInfoImpl<&IID_IKestNetWindowsNetworkHost> {
 public:
  CWindowsNetworkHost();
  virtual ~CWindowsNetworkHost();

  BEGIN_COM_MAP(CWindowsNetworkHost)
  COM_INTERFACE_ENTRY(IKestNetWindowsNetworkHost)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetWindowsNetworkHost)
  COM_INTERFACE_ENTRY(IObjectWithSite)
  COM_INTERFACE_ENTRY(IObjectSafety)
  COM_INTERFACE_ENTRY(ISupportErrorInfo)
  END_COM_MAP()

  // Replaces all six values at once (the object's own thread).
  void Assign(WindowsNetworkHostValues values) { m_values = std::move(values); }
  const WindowsNetworkHostValues& Values() const { return m_values; }

  // IKestNetWindowsNetworkHost
  STDMETHODIMP get_IPAddress(BSTR* pVal) override;
  STDMETHODIMP put_IPAddress(BSTR newVal) override;
  STDMETHODIMP get_MACAddress(BSTR* pVal) override;
  STDMETHODIMP put_MACAddress(BSTR newVal) override;
  STDMETHODIMP get_Comment(BSTR* pVal) override;
  STDMETHODIMP put_Comment(BSTR newVal) override;
  STDMETHODIMP get_MajorVersion(LONG* pVal) override;
  STDMETHODIMP put_MajorVersion(LONG newVal) override;
  STDMETHODIMP get_MinorVersion(LONG* pVal) override;
  STDMETHODIMP put_MinorVersion(LONG newVal) override;
  STDMETHODIMP get_PlatformID(LONG* pVal) override;
  STDMETHODIMP put_PlatformID(LONG newVal) override;
  STDMETHODIMP get_PLATFORM_WINDOWS_9X(LONG* pVal) override;
  STDMETHODIMP get_PLATFORM_WINDOWS_2000(LONG* pVal) override;
  STDMETHODIMP get_PLATFORM_WINDOWS_NT40(LONG* pVal) override;
  STDMETHODIMP get_PLATFORM_WINDOWS_XP(LONG* pVal) override;
  STDMETHODIMP get_PLATFORM_WINDOWS_2003(LONG* pVal) override;
  STDMETHODIMP get_PLATFORM_WINDOWS_VISTA(LONG* pVal) override;
  STDMETHODIMP get_PLATFORM_WINDOWS_7(LONG* pVal) override;
  STDMETHODIMP get_PLATFORM_UNIX(LONG* pVal) override;
  STDMETHODIMP get_PLATFORM_UNKNOWN(LONG* pVal) override;

 private:
  HRESULT GetText(const char* methodName, const std::wstring& value, BSTR* pVal);
  HRESULT PutText(const char* methodName, std::wstring& value, BSTR newVal);
  HRESULT GetNumber(const char* methodName, LONG value, LONG* pVal);

  WindowsNetworkHostValues m_values;
};

}  // namespace KestAXLib
