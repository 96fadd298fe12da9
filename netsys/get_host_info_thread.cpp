#include "netsys/get_host_info_thread.h"

#include "netsys/get_host_info_exceptions.h"
#include "netsys/net_server_get_info.h"
#include "netsys/netbios_address.h"
#include "netsys/windows_network.h"
#include "platform/com/scoped_com_initializer.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/mt_log.h"
#include "runtime/string_conversion.h"
#include "utils/os_identification.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNet::GetHostInfoThread";

}  // namespace

GetHostInfoThread::GetHostInfoThread() = default;

GetHostInfoThread::~GetHostInfoThread() {
  try {
    // The body uses the server-information object: stop it first. Reaped
    // workers have ended already and skip the wait.
    if (IsRunning()) Abort(kDestructorDeadlockTimeout);
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~GetHostInfoThread");
  }
}

void GetHostInfoThread::EchoRequest(const std::wstring& p_cstrwHostName, WindowsNetwork* p_pOwner,
                                    GetHostInfoListener* p_pListener) {
  m_cstrwHostName = p_cstrwHostName;
  m_pOwner = p_pOwner;
  m_pListener = p_pListener;
  if (!Execute()) {
    Log(kClassName, kLogLevelError, "EchoRequest():  Error - The worker thread could not be started.");
    throw KestBase::InvalidObjectException();
  }
}

void GetHostInfoThread::Initialize() {
  if (m_bServerInfoCreated) {
    return;
  }
  // Platform id 2 is the NT family; everything else speaks the 9x server API.
  m_pServerInfo = KestUtilsLib::IsNTPlatform() ? CreateGetServerInfo_NT() : CreateGetServerInfo_9x();
  m_bServerInfoCreated = m_pServerInfo != nullptr;
}

DWORD GetHostInfoThread::Run() {
  try {
    Initialize();
    kestnet::platform::ScopedComInitializer com(kestnet::platform::ScopedComInitializer::kApartmentThreaded);
    if (m_pServerInfo != nullptr) {
      // A server that does not answer leaves version, platform and comment
      // unknown; its address may still be found.
      m_pServerInfo->GetInfo(m_cstrwHostName, m_lPlatformId, m_lMajorVersion, m_lMinorVersion, m_cstrwComment,
                             m_lReserved);
    }
    const std::string name = KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(m_cstrwHostName);
    GetAddressFromNetbios(name, this, m_cstrwIPAddress, m_cstrwMACAddress);
    m_lStatus = GETHOSTINFO_SUCCESS;
  } catch (const InternalGetHostInfoException_HostNotFound&) {
    m_lStatus = GETHOSTINFO_HOST_NOT_FOUND;
  } catch (const KestMT::ThreadAbortException& e) {
    Log(kClassName, kLogLevelDetail, "Run():  Exception - Thread Exception - %S", e.GetErrorName().c_str());
    m_lStatus = GETHOSTINFO_ABORTED;
  } catch (const KestBase::BaseException& e) {
    KestLog::LogCaughtException(kClassName, "Run", e);
    m_lStatus = GETHOSTINFO_ERROR;
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "Run", KestMT::SourceFileName(__FILE__), __LINE__);
    m_lStatus = GETHOSTINFO_ERROR;
  }
  if (m_pOwner != nullptr) {
    try {
      m_pOwner->GetHostInfoResponse(this);
    } catch (...) {
      Log(kClassName, kLogLevelWarning, "Run():  Error - Unknown Exception while trying to report error or abort.");
    }
  }
  return 0;
}

void GetHostInfoThread::GetResults(LONG& p_lStatus, GetHostInfoListener*& p_pListener, std::wstring& p_cstrwHostName,
                                   std::wstring& p_cstrwIPAddress, std::wstring& p_cstrwMACAddress,
                                   LONG& p_lMajorVersion, LONG& p_lMinorVersion, LONG& p_lReserved,
                                   LONG& p_lPlatformId, std::wstring& p_cstrwComment) const {
  p_lStatus = m_lStatus;
  p_pListener = m_pListener;
  p_cstrwHostName = m_cstrwHostName;
  p_cstrwIPAddress = m_cstrwIPAddress;
  p_cstrwMACAddress = m_cstrwMACAddress;
  p_lMajorVersion = m_lMajorVersion;
  p_lMinorVersion = m_lMinorVersion;
  p_lReserved = m_lReserved;
  p_lPlatformId = m_lPlatformId;
  p_cstrwComment = m_cstrwComment;
}

}  // namespace KestNet
