// KestNetWindowsNetwork: the scriptable face of Windows networking -- host
// information by NetBIOS name (KestNet::WindowsNetwork), the network
// neighbourhood and the share questions (KestSys::CNetNeighborhood).
//
// GetHostInfo and the four listings start work on worker threads and return
// at once; each worker reports through this object's listener side
// (GetHostInfoListener, CNetworkListener), which only copies the outcome into
// an event record and posts it to the hidden window. On the object's thread
// the window fires the event: OnGetHostInfoComplete with a new
// KestNetWindowsNetworkHost holding what was found, or the list event of the
// record's list type. The share questions (FileShareExists,
// FileSharePermission, CopyFileToShare, DeleteFileFromShare) run on the
// calling thread.
//
// Every list reaches a script as VT_ARRAY | VT_VARIANT (one dimension, lower
// bound 0) of VT_BSTR names in the network's order; a listing that failed
// gives an array with no elements, never VT_EMPTY.
//
// The interface is published whole; the members whose work (printers, drive
// mapping, local shares, sharing settings) is not built yet answer E_NOTIMPL
// through PendingMembers_IKestNetWindowsNetwork.
//
// Ownership: the object owns both engines. At final release the window goes
// first (records still queued are dropped), then the neighbourhood, which
// aborts its listings and waits for their threads, then the host lookups,
// aborted and waited for the same way; their last reports find no window
// and are deleted unsent.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/async_event_window.h"
#include "automation/class_factory.h"
#include "automation/com_object.h"
#include "automation/event_proxies.h"
#include "automation/interfaces.h"
#include "automation/kest_coclass.h"
#include "automation/method_guard.h"
#include "automation/object_support.h"
#include "automation/pending_members.h"
#include "automation/tol_lock.h"
#include "automation/typelib_ids.h"
#include "automation/windows_network_host_object.h"
#include "netsys/get_host_info_listener.h"
#include "netsys/network_listener.h"

namespace KestNet {
class WindowsNetwork;
}
namespace KestSys {
class CNetNeighborhood;
}

namespace KestAXLib {

// Event ids of the object's records: 0 and 1 are the host lookup and the
// listings; 2 to 8 belong to printer mapping, drive mapping and the local
// share operations.
inline constexpr DWORD kGetHostInfoEventId = 0;
inline constexpr DWORD kNetworkListEventId = 1;
inline constexpr DWORD kLastWindowsNetworkEventId = 8;

// The outcome of one host lookup, copied on the lookup's thread.
class GetInfoHostData : public KestBase::CAsyncEventData {
 public:
  GetInfoHostData(LONG status, std::wstring hostName, WindowsNetworkHostValues host, LONG reserved)
      : m_status(status), m_hostName(std::move(hostName)), m_host(std::move(host)), m_reserved(reserved) {}

  LONG Status() const { return m_status; }
  const std::wstring& HostName() const { return m_hostName; }
  const WindowsNetworkHostValues& Host() const { return m_host; }
  // Never set by the lookup (always -1); kept as the lookup reported it.
  LONG Reserved() const { return m_reserved; }

 private:
  LONG m_status;
  std::wstring m_hostName;
  WindowsNetworkHostValues m_host;
  LONG m_reserved;
};

// One finished listing, copied on the listing's thread.
class OnNotifyEventData : public KestBase::CAsyncEventData {
 public:
  OnNotifyEventData(DWORD listType, std::vector<std::wstring> names)
      : m_listType(listType), m_names(std::move(names)) {}

  DWORD ListType() const { return m_listType; }
  const std::vector<std::wstring>& Names() const { return m_names; }

 private:
  DWORD m_listType;
  std::vector<std::wstring> m_names;
};

class CWindowsNetwork
    : public ATL::CComObjectRootEx<ATL::CComSingleThreadModel>,
      public KestComCoClass<CWindowsNetwork, &CLSID_KestNetWindowsNetwork, IKestNetWindowsNetwork,
                            &IID_IKestNetWindowsNetwork>,
      public TolLock<CWindowsNetwork, PendingMembers_IKestNetWindowsNetwork<&CLSID_KestNetWindowsNetwork>,
                     &IID_IKestNetWindowsNetwork, &LIBID_KestNet, 1, 0>,
      public ATL::IObjectSafetyImpl<CWindowsNetwork, 3>,
      public ATL::IConnectionPointContainerImpl<CWindowsNetwork>,
      public CProxy_IKestNetWindowsNetworkEvents<CWindowsNetwork>,
      public ATL::ISupportErrorInfoImpl<&IID_IKestNetWindowsNetwork>,
      public ATL::IProvideClassInfo2Impl<&CLSID_KestNetWindowsNetwork, &IID_IKestNetWindowsNetworkEvents,
                                         &LIBID_KestNet, 1, 0>,
      public KestNet::GetHostInfoListener,
      public KestSys::CNetworkListener,
      public KestBase::CAsyncEventMgrWnd {
 public:
  CWindowsNetwork();
  ~CWindowsNetwork() override;

  BEGIN_COM_MAP(CWindowsNetwork)
  COM_INTERFACE_ENTRY(IKestNetWindowsNetwork)
  COM_INTERFACE_ENTRY2(IDispatch, IKestNetWindowsNetwork)
  COM_INTERFACE_ENTRY(IObjectWithSite)
  COM_INTERFACE_ENTRY(IObjectSafety)
  COM_INTERFACE_ENTRY(IConnectionPointContainer)
  COM_INTERFACE_ENTRY(ISupportErrorInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo)
  COM_INTERFACE_ENTRY(IProvideClassInfo2)
  END_COM_MAP()

  void FinalRelease();

  // IKestNetWindowsNetwork: host information.
  STDMETHODIMP GetHostInfo(BSTR HostName) override;
  STDMETHODIMP AbortGetHostInfo(BSTR HostName) override;
  // Listings (true once started; the list arrives as its event).
  STDMETHODIMP GetNetworkWorkgroups(VARIANT_BOOL* pResult) override;
  STDMETHODIMP GetNetworkComputers(BSTR WorkgroupName, VARIANT_BOOL* pResult) override;
  STDMETHODIMP GetFileShareList(BSTR WorkgroupName, VARIANT_BOOL* pResult) override;
  STDMETHODIMP GetPrinterShareList(BSTR WorkgroupName, VARIANT_BOOL* pResult) override;
  // Share questions (an empty computer name is this computer).
  STDMETHODIMP FileSharePermission(BSTR ComputerName, BSTR ShareName, LONG* pPermission) override;
  STDMETHODIMP FileShareExists(BSTR ComputerName, BSTR ShareName, VARIANT_BOOL* pResult) override;
  STDMETHODIMP CopyFileToShare(BSTR File, BSTR ComputerName, BSTR ShareName, VARIANT_BOOL* pResult) override;
  STDMETHODIMP DeleteFileFromShare(BSTR File, BSTR ComputerName, BSTR ShareName, VARIANT_BOOL* pResult) override;
  // Constants.
  STDMETHODIMP get_GETHOSTINFO_SUCCESS(LONG* pVal) override;
  STDMETHODIMP get_GETHOSTINFO_ABORTED(LONG* pVal) override;
  STDMETHODIMP get_GETHOSTINFO_HOST_NOT_FOUND(LONG* pVal) override;
  STDMETHODIMP get_GETHOSTINFO_ERROR(LONG* pVal) override;
  STDMETHODIMP get_GETHOSTINFO_INVALIDOBJECT(LONG* pVal) override;
  STDMETHODIMP get_FS_UNKNOWN(LONG* pVal) override;
  STDMETHODIMP get_FS_READ(LONG* pVal) override;
  STDMETHODIMP get_FS_READ_WRITE(LONG* pVal) override;

  // GetHostInfoListener: the lookup's thread; copies the outcome and posts it.
  void GetHostInfoCallback(LONG p_lStatus, const std::wstring& p_cstrwHostName, const std::wstring& p_cstrwIPAddress,
                           const std::wstring& p_cstrwMACAddress, LONG p_lMajorVersion, LONG p_lMinorVersion,
                           LONG p_lReserved, LONG p_lPlatformId, const std::wstring& p_cstrwComment) override;
  // CNetworkListener: the listing's thread; copies the list and posts it.
  void NetworkListComplete(DWORD p_dwListType, const std::vector<std::string>& p_names) override;

  // CAsyncEventMgrWnd: the object's thread; fires the record's event.
  void HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) override;

 private:
  // The members that may need other rights than the caller's process has ask
  // here first for an instance of this class in a host process that has
  // them. Such proxies are not made on this platform yet: always null, so
  // the member runs in this process.
  ATL::CComPtr<IKestNetWindowsNetwork> GetProxyControlAsNeeded();
  // With a proxy at hand: the sinks follow it, call runs on it, result takes
  // its HRESULT, and true is returned.
  template <typename Call>
  bool ForwardedToProxy(Call call, HRESULT& result);

  // The engines; InvalidObjectException when construction failed.
  KestNet::WindowsNetwork& Network();
  KestSys::CNetNeighborhood& Neighborhood();

  HRESULT StartListing(const char* methodName, VARIANT_BOOL* pResult,
                       bool (KestSys::CNetNeighborhood::*start)(const std::wstring&, KestSys::CNetworkListener*),
                       BSTR WorkgroupName);
  HRESULT GetConstant(const char* methodName, LONG value, LONG* pVal);
  void FireHostInfo(const GetInfoHostData& outcome);
  void FireNetworkList(const OnNotifyEventData& outcome);

  std::unique_ptr<KestNet::WindowsNetwork> m_network;
  std::unique_ptr<KestSys::CNetNeighborhood> m_neighborhood;
};

}  // namespace KestAXLib
