#include "automation/windows_network_object.h"

#include <new>
#include <string_view>
#include <utility>

#include "automation/created_object.h"
#include "automation/module.h"
#include "netsys/get_host_info_result.h"
#include "netsys/net_neighborhood.h"
#include "netsys/windows_network.h"
#include "platform/com/atl_bstr.h"
#include "platform/com/atl_variant.h"
#include "platform/com/scoped_safearray.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestAXLib {
namespace {

using KestUtilsLib::StringConversion;

// Internal linkage: a program may hold this library twice (linked in and as
// the loaded module), and each copy keeps its own.
const ObjectIdentity kIdentity{"KestNetX::IKestNetWindowsNetwork", "KestNetWindowsNetwork",
                               &CLSID_KestNetWindowsNetwork};

// "\\" and at least one character of name.
constexpr std::wstring_view kUncPrefix = L"\\\\";
constexpr size_t kShortestHostName = 3;

std::wstring_view ViewOf(BSTR text) {
  return text == nullptr ? std::wstring_view{} : std::wstring_view(text, SysStringLen(text));
}

VARIANT_BOOL AsVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// The event each list type fires.
using ListEventFire = HRESULT (CProxy_IKestNetWindowsNetworkEvents<CWindowsNetwork>::*)(const VARIANT&);
struct ListEvent {
  DWORD listType;
  ListEventFire fire;
};
constexpr ListEvent kListEvents[] = {
    {KestSys::kListTypeComputers, &CProxy_IKestNetWindowsNetworkEvents<CWindowsNetwork>::Fire_GetNetworkComputersComplete},
    {KestSys::kListTypeFileShares, &CProxy_IKestNetWindowsNetworkEvents<CWindowsNetwork>::Fire_GetFileShareListComplete},
    {KestSys::kListTypePrinterShares,
     &CProxy_IKestNetWindowsNetworkEvents<CWindowsNetwork>::Fire_GetPrinterShareListComplete},
    {KestSys::kListTypeWorkgroups,
     &CProxy_IKestNetWindowsNetworkEvents<CWindowsNetwork>::Fire_GetNetworkWorkgroupsComplete},
};

}  // namespace

CWindowsNetwork::CWindowsNetwork()
    : CProxy_IKestNetWindowsNetworkEvents<CWindowsNetwork>(static_cast<IConnectionPointContainer*>(this)) {
  GuardedLifecycle(kIdentity, "CWindowsNetwork", LifecycleStep::Constructor, [&] {
    m_network = std::make_unique<KestNet::WindowsNetwork>();
    m_neighborhood = std::make_unique<KestSys::CNetNeighborhood>();
  });
}

CWindowsNetwork::~CWindowsNetwork() {
  GuardedLifecycle(kIdentity, "~CWindowsNetwork", LifecycleStep::Destructor, [&] { FinalRelease(); });
}

void CWindowsNetwork::FinalRelease() {
  GuardedLifecycle(kIdentity, "FinalRelease", LifecycleStep::FinalRelease, [&] {
    // The window first: what the engines report while they stop finds no
    // window and is dropped instead of reaching a script.
    DestroyAsyncEventWindow();
    m_neighborhood.reset();
    m_network.reset();
  });
}

KestNet::WindowsNetwork& CWindowsNetwork::Network() {
  // Only a constructor that failed leaves the object without its engines.
  if (m_network == nullptr) throw KestBase::InvalidObjectException();
  return *m_network;
}

KestSys::CNetNeighborhood& CWindowsNetwork::Neighborhood() {
  if (m_neighborhood == nullptr) throw KestBase::InvalidObjectException();
  return *m_neighborhood;
}

ATL::CComPtr<IKestNetWindowsNetwork> CWindowsNetwork::GetProxyControlAsNeeded() { return nullptr; }

template <typename Call>
bool CWindowsNetwork::ForwardedToProxy(Call call, HRESULT& result) {
  ATL::CComPtr<IKestNetWindowsNetwork> proxy = GetProxyControlAsNeeded();
  if (proxy == nullptr) return false;
  HookupActiveXCallBacks(proxy);
  result = call(proxy.p);
  return true;
}

// ---------------------------------------------------------------------------
// Host information.

STDMETHODIMP CWindowsNetwork::GetHostInfo(BSTR HostName) {
  return GuardedMethod(kIdentity, "GetHostInfo", [&] {
    const std::wstring_view name = ViewOf(HostName);
    if (name.empty()) {
      RejectArgument(kIdentity, "GetHostInfo():  Error - Invalid Host Name.  Host Name must not be empty.");
    }
    if (name.size() < kShortestHostName || !name.starts_with(kUncPrefix)) {
      RejectArgument(kIdentity,
                     "GetHostInfo():  Error - Invalid Host Name.  Must start with a '\\\\' and the name must have "
                     "one at least one charater.");
    }
    Network().GetHostInfo(std::wstring(name), this);
  });
}

STDMETHODIMP CWindowsNetwork::AbortGetHostInfo(BSTR HostName) {
  return GuardedMethod(kIdentity, "AbortGetHostInfo",
                       [&] { Network().AbortGetHostInfo(std::wstring(ViewOf(HostName))); });
}

// ---------------------------------------------------------------------------
// Listings.

HRESULT CWindowsNetwork::StartListing(const char* methodName, VARIANT_BOOL* pResult,
                                      bool (KestSys::CNetNeighborhood::*start)(const std::wstring&,
                                                                               KestSys::CNetworkListener*),
                                      BSTR WorkgroupName) {
  return GuardedMethod(kIdentity, methodName, [&] {
    if (pResult == nullptr) RejectParameter(kIdentity, methodName, "p_pfResult");
    *pResult = VARIANT_FALSE;
    *pResult = AsVariantBool((Neighborhood().*start)(std::wstring(ViewOf(WorkgroupName)), this));
  });
}

STDMETHODIMP CWindowsNetwork::GetNetworkWorkgroups(VARIANT_BOOL* pResult) {
  return GuardedMethod(kIdentity, "GetNetworkWorkgroups", [&] {
    if (pResult == nullptr) RejectParameter(kIdentity, "GetNetworkWorkgroups", "p_pfResult");
    *pResult = VARIANT_FALSE;
    *pResult = AsVariantBool(Neighborhood().GetNetworkWorkgroups(this));
  });
}

STDMETHODIMP CWindowsNetwork::GetNetworkComputers(BSTR WorkgroupName, VARIANT_BOOL* pResult) {
  return StartListing("GetNetworkComputers", pResult, &KestSys::CNetNeighborhood::GetNetworkComputers, WorkgroupName);
}

STDMETHODIMP CWindowsNetwork::GetFileShareList(BSTR WorkgroupName, VARIANT_BOOL* pResult) {
  return StartListing("GetFileShareList", pResult, &KestSys::CNetNeighborhood::GetFileShareList, WorkgroupName);
}

STDMETHODIMP CWindowsNetwork::GetPrinterShareList(BSTR WorkgroupName, VARIANT_BOOL* pResult) {
  return StartListing("GetPrinterShareList", pResult, &KestSys::CNetNeighborhood::GetPrinterShareList, WorkgroupName);
}

// ---------------------------------------------------------------------------
// Share questions.

STDMETHODIMP CWindowsNetwork::FileSharePermission(BSTR ComputerName, BSTR ShareName, LONG* pPermission) {
  HRESULT forwarded = S_OK;
  bool wasForwarded = false;
  HRESULT hr = GuardedMethod(kIdentity, "FileSharePermission", [&] {
    wasForwarded = ForwardedToProxy(
        [&](IKestNetWindowsNetwork* proxy) { return proxy->FileSharePermission(ComputerName, ShareName, pPermission); },
        forwarded);
    if (wasForwarded) return;
    if (pPermission == nullptr) RejectParameter(kIdentity, "FileSharePermission", "p_plPermission");
    if (ViewOf(ShareName).empty()) RejectParameter(kIdentity, "FileSharePermission", "p_bstrShareName");
    LONG permission = KestSys::FS_UNKNOWN;
    Neighborhood().FileSharePermission(std::wstring(ViewOf(ComputerName)), std::wstring(ViewOf(ShareName)),
                                       &permission);
    *pPermission = permission;
  });
  return wasForwarded && SUCCEEDED(hr) ? forwarded : hr;
}

STDMETHODIMP CWindowsNetwork::FileShareExists(BSTR ComputerName, BSTR ShareName, VARIANT_BOOL* pResult) {
  return GuardedMethod(kIdentity, "FileShareExists", [&] {
    if (pResult == nullptr) RejectParameter(kIdentity, "FileShareExists", "p_pfResult");
    if (ViewOf(ShareName).empty()) RejectParameter(kIdentity, "FileShareExists", "p_bstrShareName");
    *pResult = AsVariantBool(
        Neighborhood().FileShareExists(std::wstring(ViewOf(ComputerName)), std::wstring(ViewOf(ShareName))));
  });
}

STDMETHODIMP CWindowsNetwork::CopyFileToShare(BSTR File, BSTR ComputerName, BSTR ShareName, VARIANT_BOOL* pResult) {
  HRESULT forwarded = S_OK;
  bool wasForwarded = false;
  HRESULT hr = GuardedMethod(kIdentity, "CopyFileToShare", [&] {
    wasForwarded = ForwardedToProxy(
        [&](IKestNetWindowsNetwork* proxy) { return proxy->CopyFileToShare(File, ComputerName, ShareName, pResult); },
        forwarded);
    if (wasForwarded) return;
    if (pResult == nullptr) RejectParameter(kIdentity, "CopyFileToShare", "p_pfResult");
    if (ViewOf(File).empty() || ViewOf(ShareName).empty()) {
      RejectParameter(kIdentity, "CopyFileToShare", "p_bstrFile or p_bstrShareName");
    }
    DWORD error = 0;
    *pResult = AsVariantBool(Neighborhood().CopyFileToShare(
        std::wstring(ViewOf(File)), std::wstring(ViewOf(ComputerName)), std::wstring(ViewOf(ShareName)), &error));
  });
  return wasForwarded && SUCCEEDED(hr) ? forwarded : hr;
}

STDMETHODIMP CWindowsNetwork::DeleteFileFromShare(BSTR File, BSTR ComputerName, BSTR ShareName,
                                                  VARIANT_BOOL* pResult) {
  HRESULT forwarded = S_OK;
  bool wasForwarded = false;
  HRESULT hr = GuardedMethod(kIdentity, "DeleteFileFromShare", [&] {
    wasForwarded = ForwardedToProxy(
        [&](IKestNetWindowsNetwork* proxy) {
          return proxy->DeleteFileFromShare(File, ComputerName, ShareName, pResult);
        },
        forwarded);
    if (wasForwarded) return;
    if (pResult == nullptr) RejectParameter(kIdentity, "DeleteFileFromShare", "p_pfResult");
    if (ViewOf(File).empty() || ViewOf(ShareName).empty()) {
      RejectParameter(kIdentity, "DeleteFileFromShare", "p_bstrFile or p_bstrShareName");
    }
    DWORD error = 0;
    *pResult = AsVariantBool(Neighborhood().DeleteFileFromShare(
        std::wstring(ViewOf(File)), std::wstring(ViewOf(ComputerName)), std::wstring(ViewOf(ShareName)), &error));
  });
  return wasForwarded && SUCCEEDED(hr) ? forwarded : hr;
}

// ---------------------------------------------------------------------------
// Constants.

HRESULT CWindowsNetwork::GetConstant(const char* methodName, LONG value, LONG* pVal) {
  return GuardedMethod(kIdentity, methodName, [&] {
    if (pVal == nullptr) RejectParameter(kIdentity, methodName, "p_plVal");
    *pVal = value;
  });
}

STDMETHODIMP CWindowsNetwork::get_GETHOSTINFO_SUCCESS(LONG* pVal) {
  return GetConstant("get_GETHOSTINFO_SUCCESS", KestNet::GETHOSTINFO_SUCCESS, pVal);
}
STDMETHODIMP CWindowsNetwork::get_GETHOSTINFO_ABORTED(LONG* pVal) {
  return GetConstant("get_GETHOSTINFO_ABORTED", KestNet::GETHOSTINFO_ABORTED, pVal);
}
STDMETHODIMP CWindowsNetwork::get_GETHOSTINFO_HOST_NOT_FOUND(LONG* pVal) {
  return GetConstant("get_GETHOSTINFO_HOST_NOT_FOUND", KestNet::GETHOSTINFO_HOST_NOT_FOUND, pVal);
}
STDMETHODIMP CWindowsNetwork::get_GETHOSTINFO_ERROR(LONG* pVal) {
  return GetConstant("get_GETHOSTINFO_ERROR", KestNet::GETHOSTINFO_ERROR, pVal);
}
STDMETHODIMP CWindowsNetwork::get_GETHOSTINFO_INVALIDOBJECT(LONG* pVal) {
  return GetConstant("get_GETHOSTINFO_INVALIDOBJECT", KestNet::GETHOSTINFO_INVALIDOBJECT, pVal);
}
STDMETHODIMP CWindowsNetwork::get_FS_UNKNOWN(LONG* pVal) {
  return GetConstant("get_FS_UNKNOWN", KestSys::FS_UNKNOWN, pVal);
}
STDMETHODIMP CWindowsNetwork::get_FS_READ(LONG* pVal) { return GetConstant("get_FS_READ", KestSys::FS_READ, pVal); }
STDMETHODIMP CWindowsNetwork::get_FS_READ_WRITE(LONG* pVal) {
  return GetConstant("get_FS_READ_WRITE", KestSys::FS_READ_WRITE, pVal);
}

// ---------------------------------------------------------------------------
// Listener side (worker threads).

void CWindowsNetwork::GetHostInfoCallback(LONG p_lStatus, const std::wstring& p_cstrwHostName,
                                          const std::wstring& p_cstrwIPAddress,
                                          const std::wstring& p_cstrwMACAddress, LONG p_lMajorVersion,
                                          LONG p_lMinorVersion, LONG p_lReserved, LONG p_lPlatformId,
                                          const std::wstring& p_cstrwComment) {
  GuardedCallback(kIdentity, "GetHostInfoCallback", [&] {
    GetInfoHostData* record = nullptr;
    try {
      record = new GetInfoHostData(
          p_lStatus, p_cstrwHostName,
          {p_cstrwIPAddress, p_cstrwMACAddress, p_cstrwComment, p_lMajorVersion, p_lMinorVersion, p_lPlatformId},
          p_lReserved);
    } catch (const std::bad_alloc&) {
      Log(kIdentity.className, kLogLevelWarning, "GetHostInfoCallback():  Error - Failed to get allocate a buffer.");
      return;
    }
    PostAsyncEvent(kGetHostInfoEventId, record);
  });
}

void CWindowsNetwork::NetworkListComplete(DWORD p_dwListType, const std::vector<std::string>& p_names) {
  GuardedCallback(kIdentity, "NetworkListComplete", [&] {
    OnNotifyEventData* record = nullptr;
    try {
      std::vector<std::wstring> names;
      names.reserve(p_names.size());
      for (const std::string& name : p_names) names.push_back(StringConversion::ConvertANSIToCAtlStringW(name));
      record = new OnNotifyEventData(p_dwListType, std::move(names));
    } catch (const std::bad_alloc&) {
      Log(kIdentity.className, kLogLevelWarning, "NetworkListComplete():  Error - Failed to get allocate a buffer.");
      return;
    }
    PostAsyncEvent(kNetworkListEventId, record);
  });
}

// ---------------------------------------------------------------------------
// Events (the object's thread).

void CWindowsNetwork::HandleAsyncEventMessage(DWORD eventId, KestBase::CAsyncEventData* record) {
  // The handler owns the record whatever happens to it.
  std::unique_ptr<KestBase::CAsyncEventData> owned(record);
  GuardedCallback(kIdentity, "HandleAsyncEventMessage", [&] {
    if (owned == nullptr) {
      Log(kIdentity.className, kLogLevelWarning,
          "HandleAsyncEventMessage() - NULL async event data, returning without processing.");
      return;
    }
    if (eventId > kLastWindowsNetworkEventId) {
      Log(kIdentity.className, kLogLevelWarning, "HandleAsyncEventMessage():  ERROR - Unknown Event!");
      return;
    }
    // A sink may drop the script's last reference while it runs; the object
    // stays until the event has been fired to every sink.
    ATL::CComPtr<IKestNetWindowsNetwork> keepAlive(static_cast<IKestNetWindowsNetwork*>(this));
    if (eventId == kGetHostInfoEventId) {
      if (auto* outcome = dynamic_cast<GetInfoHostData*>(owned.get())) return FireHostInfo(*outcome);
    } else if (eventId == kNetworkListEventId) {
      if (auto* outcome = dynamic_cast<OnNotifyEventData*>(owned.get())) return FireNetworkList(*outcome);
    }
    // Records of the other known ids come from operations this object does
    // not start yet, so none can be of the right class.
    Log(kIdentity.className, kLogLevelWarning, "HandleAsyncEventMessage():  Error - Invalid Async Event Data found.");
  });
}

void CWindowsNetwork::FireHostInfo(const GetInfoHostData& outcome) {
  ATL::CComBSTR hostName(outcome.HostName());
  if (hostName.m_str == nullptr) ATL::AtlThrow(E_OUTOFMEMORY);
  // A host object that cannot be made (logged) still leaves the script its
  // status: the event fires with no host rather than not at all.
  ATL::CComPtr<IKestNetWindowsNetworkHost> host =
      CreateInstanceWithSite<CWindowsNetworkHost, IKestNetWindowsNetworkHost>(kIdentity, SiteUnknown());
  if (host != nullptr) static_cast<CWindowsNetworkHost*>(host.p)->Assign(outcome.Host());
  // The status travels as the event's 16-bit short; every GETHOSTINFO_* fits.
  Fire_OnGetHostInfoComplete(static_cast<SHORT>(outcome.Status()), hostName, host);
}

void CWindowsNetwork::FireNetworkList(const OnNotifyEventData& outcome) {
  const ListEvent* event = nullptr;
  for (const ListEvent& candidate : kListEvents) {
    if (candidate.listType == outcome.ListType()) event = &candidate;
  }
  if (event == nullptr) {
    Log(kIdentity.className, kLogLevelWarning, "HandleAsyncEventMessage():  Error - Unknown list lype <%u>.",
        static_cast<unsigned>(outcome.ListType()));
    return;
  }
  ATL::CComVariant names;
  const HRESULT built = kestnet::platform::CreateTextArray(outcome.Names(), &names);
  if (FAILED(built)) {
    Log(kIdentity.className, kLogLevelWarning, "%s - Allocation failed for %s.", "HandleAsyncEventMessage",
        "saReturn");
    ATL::AtlThrow(E_OUTOFMEMORY);
  }
  (this->*(event->fire))(names);
}

OBJECT_ENTRY_AUTO(CLSID_KestNetWindowsNetwork, CWindowsNetwork)

}  // namespace KestAXLib
