// Bodies follow; every operation fails cleanly until then.
#include "netsys/get_host_info_thread.h"
#include "netsys/net_neighborhood.h"
#include "netsys/net_server_get_info.h"
#include "netsys/netbios_address.h"
#include "netsys/network_helper.h"
#include "netsys/windows_network.h"
#include "runtime/exceptions.h"

namespace KestNet {
LONG GetPlatform(DWORD, DWORD, DWORD) { return PLATFORM_UNKNOWN; }
std::unique_ptr<NetServerGetInfo> CreateGetServerInfo_NT() { return nullptr; }
std::unique_ptr<NetServerGetInfo> CreateGetServerInfo_9x() { return nullptr; }
void GetAddressFromNetbios(const std::string&, KestMT::Thread*, std::wstring&, std::wstring&) {
  throw KestBase::InvalidOperationException();
}
bool ConvertToIPAddress(const BYTE (&)[6], std::wstring&, std::wstring&) { return false; }

WindowsNetwork::WindowsNetwork() = default;
WindowsNetwork::~WindowsNetwork() = default;
void WindowsNetwork::GetHostInfo(const std::wstring&, GetHostInfoListener*) {
  throw KestBase::InvalidOperationException();
}
void WindowsNetwork::AbortGetHostInfo(const std::wstring&) {}
void WindowsNetwork::GetHostInfoResponse(KestMT::Thread*) {}

GetHostInfoThread::GetHostInfoThread() = default;
GetHostInfoThread::~GetHostInfoThread() = default;
void GetHostInfoThread::EchoRequest(const std::wstring&, WindowsNetwork*, GetHostInfoListener*) {
  throw KestBase::InvalidObjectException();
}
DWORD GetHostInfoThread::Run() { return 0; }
void GetHostInfoThread::GetResults(LONG&, GetHostInfoListener*&, std::wstring&, std::wstring&, std::wstring&,
                                   LONG&, LONG&, LONG&, LONG&, std::wstring&) const {}
}  // namespace KestNet

namespace KestSys {
CNetworkHelper::CNetworkHelper() = default;
CNetworkHelper::~CNetworkHelper() = default;
void CNetworkHelper::SetListener(CNetworkListener* p_pListener) { m_pListener = p_pListener; }
void CNetworkHelper::GetNetworkResource(const std::wstring&, DWORD) { throw KestBase::InvalidObjectException(); }
DWORD CNetworkHelper::Run() { return 0; }
bool CNetworkHelper::ResourceTypeOfListType(DWORD, DWORD&) { return false; }

CNetNeighborhood::CNetNeighborhood() = default;
CNetNeighborhood::~CNetNeighborhood() = default;
bool CNetNeighborhood::GetNetworkWorkgroups(CNetworkListener*) { return false; }
bool CNetNeighborhood::GetNetworkComputers(const std::wstring&, CNetworkListener*) { return false; }
bool CNetNeighborhood::GetFileShareList(const std::wstring&, CNetworkListener*) { return false; }
bool CNetNeighborhood::GetPrinterShareList(const std::wstring&, CNetworkListener*) { return false; }
void CNetNeighborhood::GetCurrentHostName(std::wstring&) { throw FPSGetComputerNameException(); }
bool CNetNeighborhood::FileShareExists(const std::wstring&, const std::wstring&) { return false; }
void CNetNeighborhood::FileSharePermission(const std::wstring&, const std::wstring&, LONG* p_pnPermissions) {
  if (p_pnPermissions != nullptr) *p_pnPermissions = FS_UNKNOWN;
}
bool CNetNeighborhood::CopyFileToShare(const std::wstring&, const std::wstring&, const std::wstring&, DWORD*) {
  return false;
}
bool CNetNeighborhood::DeleteFileFromShare(const std::wstring&, const std::wstring&, const std::wstring&, DWORD*) {
  return false;
}
}  // namespace KestSys
