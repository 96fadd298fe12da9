#include "net/ping/ping_thread.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "net/dns/dns.h"
#include "net/ping/ping.h"
#include "net/ping/ping_exceptions.h"
#include "net/ping/ping_result.h"
#include "net/sockets/ip_address.h"
#include "platform/com/scoped_com_initializer.h"
#include "platform/os/module_table.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNet::PingThread";

// The payload runs through the printable characters from "0" to "}" and then
// from a space to "}" over and over.
constexpr BYTE kFirstPayloadByte = 0x30;
constexpr BYTE kLastPayloadByte = 0x7D;
constexpr BYTE kPayloadRestartByte = 0x20;

}  // namespace

PingThread::PingThread() = default;

PingThread::~PingThread() {
  try {
    // A body still running may use the service: stop it before releasing
    // anything. Reaped workers have ended already and skip the wait.
    if (IsRunning()) Abort(kDestructorDeadlockTimeout);
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "%s():  Destructor exception.", "~PingThread");
  }
  ReleaseEchoService();
}

std::vector<BYTE> PingThread::BuildPayload(WORD p_wDataSize) {
  std::vector<BYTE> payload(p_wDataSize);
  BYTE next = kFirstPayloadByte;
  for (BYTE& byte : payload) {
    byte = next;
    next = next == kLastPayloadByte ? kPayloadRestartByte : static_cast<BYTE>(next + 1);
  }
  return payload;
}

void PingThread::InitializeEchoService() {
  if (m_bEchoServiceInitialized) {
    return;
  }
  kestnet::platform::RegisterIcmpModule();
  m_hEchoModule = kestnet::platform::LoadSystemModule(L"ICMP.DLL");
  if (m_hEchoModule == nullptr) {
    Log(kClassName, kLogLevelWarning, "Initialize(): Error - Failed to load the ICMP.DLL");
    throw KestBase::InvalidObjectException();
  }
  m_pfnIcmpCreateFile = reinterpret_cast<IcmpCreateFileFunction>(
      kestnet::platform::GetSystemModuleProcedure(m_hEchoModule, "IcmpCreateFile"));
  m_pfnIcmpCloseHandle = reinterpret_cast<IcmpCloseHandleFunction>(
      kestnet::platform::GetSystemModuleProcedure(m_hEchoModule, "IcmpCloseHandle"));
  m_pfnIcmpSendEcho = reinterpret_cast<IcmpSendEchoFunction>(
      kestnet::platform::GetSystemModuleProcedure(m_hEchoModule, "IcmpSendEcho"));
  if (m_pfnIcmpCreateFile == nullptr || m_pfnIcmpCloseHandle == nullptr ||
      m_pfnIcmpSendEcho == nullptr) {
    Log(kClassName, kLogLevelWarning, "Initialize(): Error - Could not load the function from ICMP.DLL");
    ReleaseEchoService();
    throw KestBase::InvalidObjectException();
  }
  m_hIcmpFile = m_pfnIcmpCreateFile();
  if (m_hIcmpFile == INVALID_HANDLE_VALUE) {
    // The echo then fails and its status gives the result.
    Log(kClassName, kLogLevelWarning, "Initialize():  Error - Failed to create the ICMP file handle.");
  }
  m_bEchoServiceInitialized = true;
}

void PingThread::ReleaseEchoService() {
  if (m_hIcmpFile != INVALID_HANDLE_VALUE && m_pfnIcmpCloseHandle != nullptr) {
    m_pfnIcmpCloseHandle(m_hIcmpFile);
  }
  m_hIcmpFile = INVALID_HANDLE_VALUE;
  if (m_hEchoModule != nullptr) {
    kestnet::platform::FreeSystemModule(m_hEchoModule);
  }
  m_hEchoModule = nullptr;
  m_pfnIcmpCreateFile = nullptr;
  m_pfnIcmpCloseHandle = nullptr;
  m_pfnIcmpSendEcho = nullptr;
  m_bEchoServiceInitialized = false;
}

void PingThread::Start(const std::wstring& p_cstrwTarget, DWORD p_dwDNSTimeout,
                       DWORD p_dwICMPTimeout, BYTE p_byTTL, WORD p_wDataSize, Ping* p_pOwner,
                       PingListener* p_pListener) {
  InitializeEchoService();
  m_cstrwTarget = p_cstrwTarget;
  m_dwDNSTimeout = p_dwDNSTimeout;
  m_dwICMPTimeout = p_dwICMPTimeout;
  m_byTTL = p_byTTL;
  m_wDataSize = p_wDataSize;
  m_pOwner = p_pOwner;
  m_pListener = p_pListener;
  if (!Execute()) {
    Log(kClassName, kLogLevelError, "Start():  Error - The worker thread could not be started.");
    throw KestBase::InvalidObjectException();
  }
}

void PingThread::ResolveTarget() {
  // The resolver takes a 16-bit time-out. A larger value saturates instead of
  // losing its high bits, so that 70000 ms is refused like any time-out above
  // the resolver's limit rather than becoming 4464 ms.
  const WORD wDNSTimeout = static_cast<WORD>(std::min<DWORD>(m_dwDNSTimeout, 0xFFFF));
  Dns resolver;
  std::vector<std::wstring> addresses;
  const DWORD dwResult = resolver.ResolveName(m_cstrwTarget, wDNSTimeout, addresses, 0, 0, nullptr, this);
  switch (dwResult) {
    case DNS_SUCCESS:
      if (!addresses.empty()) {
        m_strAddress = KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(addresses.front());
        return;
      }
      // An answer without addresses is no answer.
      [[fallthrough]];
    case DNS_ERROR_NO_RESPONSES:
      Log(kClassName, kLogLevelWarning, "Run():  Error - ResolveName had no responses.");
      m_dwResult = PING_DNS_NO_RESPONSES;
      throw InternalPingException();
    case DNS_ERROR_INVALID_OBJECT:
      Log(kClassName, kLogLevelWarning, "Run():  Error - ResolveName returned INVLAID_OBJECT.");
      m_dwResult = PING_INVALID_OBJECT;
      throw InternalPingException();
    case DNS_ERROR_TIMEOUT:
      Log(kClassName, kLogLevelWarning, "Run():  Error - ResolveName Timed out.");
      m_dwResult = PING_DNS_TIMEOUT;
      throw InternalPingException();
    case DNS_ERROR_ABORT:
      Log(kClassName, kLogLevelWarning, "Run():  Error - We are being aborted.");
      throw KestMT::ThreadAbortException();
    default:
      Log(kClassName, kLogLevelWarning,
          "Run():  Unknown Error -  While attempting to resolve the name.  Treating as an invalid object.");
      throw KestBase::InvalidObjectException();
  }
}

void PingThread::SendEcho() {
  const std::vector<BYTE> payload = BuildPayload(m_wDataSize);
  IP_OPTION_INFORMATION options{};
  options.Ttl = m_byTTL;
  options.Tos = 0;
  options.Flags = 0;
  options.OptionsSize = 0;
  options.OptionsData = nullptr;
  // Aligned for the reply records the service writes at its start.
  alignas(ICMP_ECHO_REPLY) std::array<BYTE, kReplyBufferSize> replyBuffer{};
  IPAddress destination(m_strAddress);
  m_dwReplyCount = m_pfnIcmpSendEcho(m_hIcmpFile, destination.ToNetworkOrder(),
                                     payload.empty() ? nullptr : const_cast<BYTE*>(payload.data()),
                                     m_wDataSize, &options, replyBuffer.data(),
                                     static_cast<DWORD>(replyBuffer.size()), m_dwICMPTimeout);
  Yield();
  ICMP_ECHO_REPLY reply{};
  std::memcpy(&reply, replyBuffer.data(), sizeof(reply));
  m_strReplyAddress = IPAddress::FormatAddress(reply.Address);
  m_dwRoundTripTime = reply.RoundTripTime;
  m_dwResult = PingResultOfStatus(reply.Status, m_dwReplyCount);
}

DWORD PingThread::Run() {
  try {
    InitializeEchoService();
    kestnet::platform::ScopedComInitializer com(kestnet::platform::ScopedComInitializer::kWorkerThread,
                                                kestnet::platform::ThrowOnFailure<KestBase::HRESULTException>{});
    m_strAddress = KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(m_cstrwTarget);
    if (!IPAddress::IsValidAddress(m_strAddress)) {
      ResolveTarget();
    }
    SendEcho();
  } catch (const InternalPingException&) {
    // The result was set where the failure was found.
  } catch (const KestMT::ThreadAbortException& e) {
    Log(kClassName, kLogLevelDetail, "Run():  Exception - Thread Exception - %S", e.GetErrorName().c_str());
    m_dwResult = PING_ABORTED;
  } catch (const KestBase::HRESULTException& e) {
    Log(kClassName, kLogLevelWarning, "%s():  Exception - HRESULT = <0x%08.8X>", "Run",
        static_cast<unsigned>(e.GetHRESULT()));
    m_dwResult = PING_INVALID_OBJECT;
  } catch (const KestBase::BaseException& e) {
    Log(kClassName, kLogLevelWarning, "%s():  Exception - %S.  Extended Data = <%s>", "Run",
        e.GetErrorName().c_str(), e.GetExtendedData().c_str());
    m_dwResult = PING_INVALID_OBJECT;
  } catch (...) {
    Log(kClassName, kLogLevelTrace, "%s():  Exception - Unknown.", "Run");
    Log(kClassName, kLogLevelError, "Unhandled unknown exception detected. File: %s Line: %d.",
        "ping_thread.cpp", __LINE__);
    m_dwResult = PING_INVALID_OBJECT;
  }
  if (m_pOwner != nullptr) {
    try {
      m_pOwner->PingResponse(this);
    } catch (...) {
      Log(kClassName, kLogLevelWarning, "Run():  Error - Unknown Exception while trying to report error or abort.");
    }
  }
  return 0;
}

void PingThread::GetResults(PingListener*& p_pListener, std::wstring& p_cstrwTarget,
                            std::string& p_strAddress, std::string& p_strReplyAddress,
                            DWORD& p_dwResult, DWORD& p_dwRoundTripTime) const {
  p_pListener = m_pListener;
  p_cstrwTarget = m_cstrwTarget;
  p_strAddress = m_strAddress;
  p_strReplyAddress = m_strReplyAddress;
  p_dwResult = m_dwResult;
  p_dwRoundTripTime = m_dwRoundTripTime;
}

}  // namespace KestNet
