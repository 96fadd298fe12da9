#include "net/dns/dns_thread.h"

#include <algorithm>
#include <utility>

#include "net/dns/dns_query_message.h"
#include "net/dns/dns_response_parser.h"
#include "platform/com/scoped_com_initializer.h"
#include "runtime/exceptions.h"
#include "runtime/guarded_call.h"
#include "runtime/log.h"
#include "runtime/string_conversion.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNetLib::DNSThread";
constexpr WORD kDnsClassInternet = 1;
constexpr BYTE kDnsResponseCodeNoError = 0;
// Records of a type the engine does not interpret are logged under this name.
constexpr const char* kUnknownDataClassName = "Dns";

// The log texts of each way an outcome is delivered, by DNSThread::Reporter.
struct ReportTexts {
  const char* delivered;       // level 4 once the listener has returned
  const char* listenerFailed;  // level 1 when the listener threw
};
constexpr ReportTexts kReportTexts[] = {
    {"ReportError():  Callback has been notified of error.",
     "ReportError():  Error - Unexpected exception in OnResolveNameComplete."},
    {"ReportSuccess():  Success - We completed the operation.",
     "ReportSuccess():  Error - Failed in attempt to call the callback."},
    {"Run():  Callback has been notified of the end of the query.",
     "Run():  Error - Failed to notify callback."},
};

}  // namespace

bool DNSThread::WaitOnEvent(KestMT::Event& p_event, DWORD p_dwWait, KestMT::Thread* p_pThread) {
  return p_event.Wait(p_dwWait, p_pThread);
}

DNSThread::DNSThread(CompletionWait p_wait) : m_completionWait(std::move(p_wait)) {
  try {
    // Creating the event now means a query never fails later for want of it.
    if (m_completionEvent.GetHandle() == nullptr) {
      throw KestBase::InvalidObjectException();
    }
    m_bValid = true;
  } catch (...) {
    Log(kClassName, kLogLevelWarning, "%s():  Failed to construct properly.", "DNSThread");
    throw;
  }
}

DNSThread::~DNSThread() {
  try {
    // A query still running reports DNS_ERROR_ABORT on its way out.
    Abort(kDestructorDeadlockTimeout);
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~DNSThread");
  }
  try {
    // Closing takes the socket's mutex, which a notification in flight holds
    // until it has left this object; after it no notification can come.
    m_socket.Close(true);
    KestMT::AutoLockMutex drain(&m_lock, INFINITE);
  } catch (...) {
    KestLog::LogDestructorException(kClassName, "~DNSThread");
  }
}

void DNSThread::RunQuery(const std::vector<std::string>& p_servers, const std::string& p_strName,
                         DWORD p_dwTimeout, bool p_bDontCache, bool p_bSpecifyCacheTime,
                         DWORD p_dwCacheTime, DNSListener* p_pListener) {
  if (!m_bValid) {
    Log(kClassName, kLogLevelWarning, "RunQuery():  Error - Invalid Object.");
    throw KestBase::InvalidObjectException();
  }
  if (IsRunning()) {
    // Its settings are in use by the running query and must not change under it.
    Log(kClassName, kLogLevelWarning, "RunQuery():  Error - A query is already running.");
    throw KestBase::InvalidOperationException();
  }
  if (!IsEncodableDnsName(p_strName)) {
    Log(kClassName, kLogLevelWarning,
        "RunQuery():  Error - The name <%s> cannot be written into a query.", p_strName.c_str());
    throw KestBase::InvalidParameterException();
  }
  m_servers = p_servers;
  m_serverAddresses.clear();
  for (const std::string& server : m_servers) {
    IPAddress address(server);
    if (address.IsValid() &&
        std::none_of(m_serverAddresses.begin(), m_serverAddresses.end(),
                     [&address](const IPAddress& p_known) {
                       return p_known.ToNetworkOrder() == address.ToNetworkOrder();
                     })) {
      m_serverAddresses.push_back(address);
    }
  }
  m_strName = p_strName;
  m_dwTimeout = p_dwTimeout;
  m_bDontCache = p_bDontCache;
  m_bSpecifyCacheTime = p_bSpecifyCacheTime;
  m_dwCacheTime = p_dwCacheTime;
  m_pListener = p_pListener;
  if (!Execute()) {
    Log(kClassName, kLogLevelWarning, "RunQuery():  Error - The query thread could not be started.");
    throw KestBase::InvalidObjectException();
  }
}

void DNSThread::GetResults(DWORD& p_dwResult, DnsRecordList& p_records) {
  std::lock_guard<std::mutex> lock(m_outcomeLock);
  p_dwResult = m_dwStatus;
  p_records.clear();
  for (const DnsRecord& record : m_results) {
    AppendDnsRecord(p_records, record);
  }
}

DWORD DNSThread::Run() {
  DWORD dwStatus = DNS_SUCCESS;
  try {
    {
      KestMT::AutoLockMutex lock(&m_lock, INFINITE, this);
      m_bSent = false;
      m_countedEmptyAnswers.clear();
      m_bTruncatedAnswer = false;
      {
        std::lock_guard<std::mutex> outcome(m_outcomeLock);
        m_bReported = false;
        m_dwStatus = DNS_ERROR_INVALID_OBJECT;
        m_results.clear();
      }
      {
        std::lock_guard<std::mutex> transmissions(m_transmissionLock);
        m_transmissionIds.clear();
      }
      m_completionEvent.Reset();
      if (m_socket.Create(this) == 0) {
        Log(kClassName, kLogLevelWarning, "Run():  Error - Internal error.  Socket objects are invalid.");
        ReportError(DNS_ERROR_INVALID_OBJECT);
        return 0;
      }
    }

    // Waits of T/8 (at least 500 ms), doubling, each followed by a
    // retransmission to every server; the time-out is reported after the third.
    DWORD dwWait = std::max(m_dwTimeout / 8, kMinimumRetransmitWait);
    DWORD dwElapsed = 0;
    DWORD dwRounds = 0;
    while (dwElapsed < m_dwTimeout) {
      Log(kClassName, kLogLevelDetail, "Run():  Waiting %d for a response.", static_cast<int>(dwWait));
      if (m_completionWait(m_completionEvent, dwWait, this)) {
        return 0;
      }
      SendQueryToAllServers();
      dwElapsed += dwWait;
      dwWait *= 2;
      if (++dwRounds >= kRetransmitRounds) {
        break;
      }
    }
    ReportError(DNS_ERROR_TIMEOUT);
    return 0;
  } catch (const KestMT::ThreadAbortException&) {
    Log(kClassName, kLogLevelDetail, "Run():  Thread Termination Exception");
    dwStatus = DNS_ERROR_ABORT;
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "Run", exception);
    dwStatus = DNS_ERROR_INVALID_OBJECT;
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "Run", __FILE__, __LINE__);
    dwStatus = DNS_ERROR_INVALID_OBJECT;
  }
  try {
    Report(dwStatus, DnsRecordList{}, Reporter::kRunEnd);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "Run", __FILE__, __LINE__);
  }
  return 0;
}

void DNSThread::OnSend(DWORD_PTR, DWORD p_dwResult) {
  // The report this may make reaches the resolver, which reaps ended queries:
  // this one must not be among them until the notification has returned.
  CallbackScope inProgress(*this);
  try {
    KestMT::AutoLockMutex lock(&m_lock, kNotificationLockTimeout);
    if (m_bSent) {
      // Only the first "ready to send" transmits; Run retransmits.
      return;
    }
    Log(kClassName, kLogLevelTrace, "OnSend():  Ready to send. (Socket Error Code = <%lu>.",
        static_cast<unsigned long>(p_dwResult));
    if (p_dwResult != 0) {
      Log(kClassName, kLogLevelWarning, "OnSend():  Ready to send. (Socket Error Code = <%lu>.",
          static_cast<unsigned long>(p_dwResult));
      ReportError(DNS_ERROR_INVALID_OBJECT);
      return;
    }
    if (SendQueryToAllServers() > 0) {
      Log(kClassName, kLogLevelTrace, "OnSend():  Request(s) sent successfully.");
      m_bSent = true;
    } else {
      Log(kClassName, kLogLevelWarning, "OnSend():  Failed to Send the packet to any of the servers.");
      ReportError(DNS_ERROR_INVALID_OBJECT);
    }
  } catch (const KestMT::ThreadAbortException&) {
    Log(kClassName, kLogLevelWarning, "OnSend():  Something has kill the socket thread.");
    ReportError(DNS_ERROR_INVALID_OBJECT);
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "OnSend", exception);
    ReportError(DNS_ERROR_INVALID_OBJECT);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "OnSend", __FILE__, __LINE__);
    ReportError(DNS_ERROR_INVALID_OBJECT);
  }
}

void DNSThread::OnReceive(DWORD_PTR, DWORD p_dwResult) {
  CallbackScope inProgress(*this);
  try {
    KestMT::AutoLockMutex lock(&m_lock, kNotificationLockTimeout);
    Log(kClassName, kLogLevelTrace, "OnReceive(): There is data to pull from socket (Error Code = %lu)",
        static_cast<unsigned long>(p_dwResult));
    if (p_dwResult != 0) {
      Log(kClassName, kLogLevelWarning, "OnReceive(): Error detected in ErrorCode.");
      return;
    }
    BYTE buffer[kReceiveBufferSize];
    USHORT usPort = 0;
    std::string strFrom;
    const DWORD dwReceived = m_socket.ReceiveFrom(buffer, kReceiveBufferSize, usPort, strFrom);
    if (dwReceived == 0) {
      Log(kClassName, kLogLevelWarning, "OnReceive(): Error - There is no data to pull from socket");
      return;
    }
    HandleDatagram(buffer, dwReceived, strFrom, usPort);
  } catch (const KestMT::ThreadAbortException&) {
    Log(kClassName, kLogLevelWarning, "OnSend():  Something has kill the socket thread.");
    ReportError(DNS_ERROR_INVALID_OBJECT);
  } catch (const KestBase::BaseException& exception) {
    KestLog::LogCaughtException(kClassName, "OnReceive", exception);
    ReportError(DNS_ERROR_INVALID_OBJECT);
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "OnReceive", __FILE__, __LINE__);
    ReportError(DNS_ERROR_INVALID_OBJECT);
  }
}

void DNSThread::HandleDatagram(const BYTE* p_pData, DWORD p_dwLength, const std::string& p_strFrom,
                               USHORT p_usPort) {
  if (IsReported()) {
    return;
  }
  const int iServer = FindServer(p_strFrom, p_usPort);
  if (iServer < 0) {
    Log(kClassName, kLogLevelWarning,
        "OnReceive(): Ignoring a datagram from <%s:%u>, which is not one of the servers.",
        p_strFrom.c_str(), static_cast<unsigned>(p_usPort));
    return;
  }
  DnsResponse response;
  const DnsParseResult parsed = ParseDnsResponse(p_pData, p_dwLength, response);
  if (parsed != DnsParseResult::kOk) {
    Log(kClassName, kLogLevelWarning, "OnReceive(): Ignoring a malformed response from <%s>: %s.",
        p_strFrom.c_str(), DescribeDnsParseResult(parsed));
    return;
  }
  if (!response.header.IsResponse() || !IsOurTransmission(response.header.id)) {
    Log(kClassName, kLogLevelWarning,
        "OnReceive(): Ignoring a message with ID <%u> from <%s> that answers none of our queries.",
        static_cast<unsigned>(response.header.id), p_strFrom.c_str());
    return;
  }
  if (!DnsNamesEqual(response.questionName, DnsNameAsText(WithoutTrailingDot(m_strName))) ||
      response.questionType != kDnsRecordTypeA || response.questionClass != kDnsClassInternet) {
    Log(kClassName, kLogLevelWarning, "OnReceive(): Not our our request.");
    return;
  }

  // A failure code (NXDOMAIN, SERVFAIL, REFUSED...) is a definite answer
  // without records, whatever the message carries besides.
  DnsRecordList records = MakeDnsRecordList();
  if (response.header.ResponseCode() == kDnsResponseCodeNoError) {
    records = TakeAnswerChain(std::move(response.answers));
  }
  if (!records.empty()) {
    if (response.header.IsTruncated()) {
      // What did not fit is missing: the answer is used, never cached.
      m_bTruncatedAnswer = true;
    }
    ReportSuccess(std::move(records));
    return;
  }
  // RFC 1035 and the engine's rule: each empty answer counts, the answer to
  // a retransmission again, so a server that keeps saying "no such name"
  // ends the query once it has said so as often as there are servers. One
  // transmission's answer from one server counts once: a duplicated
  // datagram is not a second answer.
  const std::pair<int, WORD> answer(iServer, response.header.id);
  if (std::find(m_countedEmptyAnswers.begin(), m_countedEmptyAnswers.end(), answer) ==
      m_countedEmptyAnswers.end()) {
    m_countedEmptyAnswers.push_back(answer);
  }
  if (m_countedEmptyAnswers.size() >= m_serverAddresses.size()) {
    Log(kClassName, kLogLevelInformation, "OnReceive(): There were no response with usable data...");
    ReportError(DNS_ERROR_NO_RESPONSES);
  }
}

DnsRecordList DNSThread::TakeAnswerChain(std::vector<DnsAnswer> p_answers) const {
  // Only records owned by the queried name or by a name it is an alias of,
  // through the CNAMEs of this answer, in whatever order they come: anything
  // else in the answer section is another name's data and is dropped.
  std::vector<std::string> chain{DnsNameAsText(WithoutTrailingDot(m_strName))};
  std::vector<bool> taken(p_answers.size(), false);
  for (bool bGrew = true; bGrew;) {
    bGrew = false;
    for (std::size_t i = 0; i < p_answers.size(); ++i) {
      const DnsRecord& record = p_answers[i].record;
      if (taken[i] || p_answers[i].recordClass != kDnsClassInternet ||
          std::none_of(chain.begin(), chain.end(),
                       [&record](const std::string& p_name) { return DnsNamesEqual(p_name, record.name); })) {
        continue;
      }
      taken[i] = true;
      if (record.type == kDnsRecordTypeCName) {
        chain.push_back(record.data);
        bGrew = true;
      }
    }
  }
  DnsRecordList records = MakeDnsRecordList();
  for (std::size_t i = 0; i < p_answers.size(); ++i) {
    DnsRecord& record = p_answers[i].record;
    if (!taken[i]) {
      Log(kClassName, kLogLevelWarning, "OnReceive(): Dropping a record of <%s>, which is not the name asked.",
          record.name.c_str());
      continue;
    }
    if (record.type == kDnsRecordTypeCName) {
      Log(kClassName, kLogLevelTrace, "OnReceive(): Found CNAME <%s>.", record.data.c_str());
    } else if (record.type == kDnsRecordTypeA) {
      Log(kClassName, kLogLevelTrace, "OnReceive(): Found Address <%s>.", record.address.ToString().c_str());
    } else {
      Log(kUnknownDataClassName, kLogLevelInformation, "OnReceive(): Unknown data of <%lu> bytes in length.",
          static_cast<unsigned long>(p_answers[i].dataLength));
    }
    AppendDnsRecord(records, std::move(record));
  }
  return records;
}

void DNSThread::OnClose(DWORD_PTR, DWORD p_dwResult) {
  CallbackScope inProgress(*this);
  try {
    Log(kClassName, kLogLevelTrace,
        "OnClose():  The socket is closed, no longer pending (Error Code = %lu).",
        static_cast<unsigned long>(p_dwResult));
  } catch (const KestMT::ThreadAbortException&) {
    Log(kClassName, kLogLevelWarning, "OnClose():  Something has kill the socket thread.");
  } catch (...) {
    KestLog::LogUnknownException(kClassName, "OnClose", __FILE__, __LINE__);
  }
}

void DNSThread::ReportError(DWORD p_dwCode) {
  KestBase::Guarded(kClassName, "ReportError", [&] { Report(p_dwCode, DnsRecordList{}, Reporter::kError); });
}

void DNSThread::ReportSuccess(DnsRecordList p_records) {
  KestBase::Guarded(kClassName, "ReportSuccess",
                    [&] { Report(DNS_SUCCESS, std::move(p_records), Reporter::kSuccess); });
}

void DNSThread::Report(DWORD p_dwCode, DnsRecordList p_records, Reporter p_reporter) {
  const ReportTexts& texts = kReportTexts[static_cast<int>(p_reporter)];
  {
    std::lock_guard<std::mutex> outcome(m_outcomeLock);
    if (m_bReported) {
      return;
    }
    m_bReported = true;
    m_dwStatus = p_dwCode;
    m_results = p_dwCode == DNS_SUCCESS ? std::move(p_records) : DnsRecordList{};
  }
  // COM is entered for the listener's duration. A thread that cannot enter
  // still delivers its outcome: one never reported would leave the caller
  // waiting for good.
  kestnet::platform::ScopedComInitializer com(kestnet::platform::ScopedComInitializer::kWorkerThread);
  if (!com.Succeeded()) {
    Log(kClassName, kLogLevelWarning, "Report():  Error - COM could not be initialized on this thread, hr = <0x%X>.",
        static_cast<unsigned>(com.Result()));
  }
  m_socket.Close(true);
  if (m_pListener != nullptr) {
    try {
      const std::wstring cstrwName = KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(m_strName);
      m_pListener->OnResolveNameComplete(cstrwName, p_dwCode, m_results);
    } catch (...) {
      Log(kClassName, kLogLevelWarning, texts.listenerFailed);
    }
  }
  Log(kClassName, kLogLevelTrace, texts.delivered);
  // Ends Run's wait; the last thing done with this object on this path.
  m_completionEvent.Set();
}

bool DNSThread::IsReported() {
  std::lock_guard<std::mutex> outcome(m_outcomeLock);
  return m_bReported;
}

WORD DNSThread::NewTransmissionId() {
  std::lock_guard<std::mutex> transmissions(m_transmissionLock);
  WORD wId = NewDnsQueryId();
  // Each transmission its own id, so an answer tells which one it answers.
  while (std::find(m_transmissionIds.begin(), m_transmissionIds.end(), wId) != m_transmissionIds.end()) {
    wId = NewDnsQueryId();
  }
  // Remembered before the send, so that a fast answer already matches.
  m_transmissionIds.push_back(wId);
  return wId;
}

DWORD DNSThread::SendQueryToAllServers() {
  const WORD wId = NewTransmissionId();
  std::vector<BYTE> message;
  if (!BuildDnsQueryMessage(wId, m_strName, message)) {
    Log(kClassName, kLogLevelWarning, "OnSend():  Failed to allocate the packet.");
    return 0;
  }
  DWORD dwAccepted = 0;
  for (const std::string& server : m_servers) {
    const IPAddress address(server);
    if (m_socket.SendTo(message.data(), static_cast<DWORD>(message.size()), kDnsPort, address) != 0) {
      ++dwAccepted;
    }
  }
  return dwAccepted;
}

bool DNSThread::IsOurTransmission(WORD p_wId) {
  std::lock_guard<std::mutex> transmissions(m_transmissionLock);
  return std::find(m_transmissionIds.begin(), m_transmissionIds.end(), p_wId) !=
         m_transmissionIds.end();
}

int DNSThread::FindServer(const std::string& p_strAddress, USHORT p_usPort) const {
  const IPAddress sender(p_strAddress);
  if (p_usPort != kDnsPort || !sender.IsValid()) {
    return -1;
  }
  for (std::size_t i = 0; i < m_serverAddresses.size(); ++i) {
    if (m_serverAddresses[i].ToNetworkOrder() == sender.ToNetworkOrder()) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace KestNet
