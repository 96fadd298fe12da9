// KestNet::DNSThread: one DNS query for the A records of one name, sent over
// UDP to a list of servers, without the operating system's resolver.
//
// The resolver creates one DNSThread per query, calls RunQuery and hears the
// outcome through its DNSListener, exactly once whatever happens: success,
// no usable responses, invalid object, time-out or abort, whichever comes
// first. The query thread (Run) creates the socket, waits and retransmits;
// the socket's notifications (OnSend, OnReceive, OnClose) run on a socket
// event thread, where the first transmission goes out and responses are read.
//
// A response is accepted only when it comes from port 53 of one of the
// servers, has the response bit set, carries the ID of one of this query's
// transmissions (each takes a new unpredictable ID; all stay acceptable),
// asks the queried name (letter case aside) for A/IN and parses cleanly.
// Anything else is logged and ignored. Of an accepted response only the
// records along the queried name's CNAME chain are used; one with an error
// RCODE counts as an answer without records.
//
// Locks, outermost first: the socket's own mutex (held by the socket while it
// calls OnSend/OnReceive), m_lock (socket creation and the two notifications,
// which wait for it at most 250 ms), then the leaf locks m_transmissionLock
// and m_outcomeLock, which are never held while anything else is called. Run
// holds m_lock only while it creates the socket, so it never waits for the
// socket event thread while holding it.
//
// Lifetime: the owner destroys the object once Run has ended and no
// notification is in progress (each holds a CallbackScope, so the thread
// manager does not reap the query while the report it makes on the socket
// event thread is still on that thread's stack; a synchronous caller
// destroys it after WaitForThreadToEnd). The
// destructor aborts a query still running, which then reports
// DNS_ERROR_ABORT, and closes the socket, waiting for a notification still in
// flight. The listener must not destroy the object from inside its callback.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/dns/dns_listener.h"
#include "net/dns/dns_record.h"
#include "net/dns/dns_response_parser.h"
#include "net/sockets/ip_address.h"
#include "net/sockets/socket_listeners.h"
#include "net/sockets/udp_non_blocking_client_socket.h"
#include "platform/os/win_types.h"
#include "runtime/event.h"
#include "runtime/mutex.h"
#include "runtime/thread.h"

namespace KestNet {

class DNSThread : public KestMT::Thread, public UdpNonBlockingSocketListener {
 public:
  // Servers are always asked on the DNS port.
  static constexpr USHORT kDnsPort = 53;
  // The largest response read; longer datagrams are cut and then refused.
  static constexpr DWORD kReceiveBufferSize = 1000;
  // How long a socket notification waits for the query's lock.
  static constexpr DWORD kNotificationLockTimeout = 250;
  // The shortest wait between transmissions.
  static constexpr DWORD kMinimumRetransmitWait = 500;
  // Waits before the schedule ends (each followed by a retransmission).
  static constexpr DWORD kRetransmitRounds = 3;

  // How the query thread waits between transmissions: up to p_dwWait ms for
  // p_event, true when it was set; an abort of p_pThread ends the wait with
  // KestMT::ThreadAbortException. The schedule only ever waits through it,
  // so a test that replaces it sees every wait and runs without real time.
  using CompletionWait = std::function<bool(KestMT::Event& p_event, DWORD p_dwWait, KestMT::Thread* p_pThread)>;
  // The real wait: on the event, for the time asked.
  static bool WaitOnEvent(KestMT::Event& p_event, DWORD p_dwWait, KestMT::Thread* p_pThread);

  explicit DNSThread(CompletionWait p_wait = WaitOnEvent);
  ~DNSThread() override;

  DNSThread(const DNSThread&) = delete;
  DNSThread& operator=(const DNSThread&) = delete;

  // Copies the query's settings and starts the thread; returns at once.
  // Throws KestBase::InvalidObjectException when the object is not valid or
  // the thread cannot start, KestBase::InvalidOperationException while a
  // query is still running, and KestBase::InvalidParameterException when the
  // name cannot be written into a question (empty, an empty label, a label
  // over 63 bytes or more than 253 bytes). Time-out in milliseconds.
  void RunQuery(const std::vector<std::string>& p_servers, const std::string& p_strName,
                DWORD p_dwTimeout, bool p_bDontCache, bool p_bSpecifyCacheTime, DWORD p_dwCacheTime,
                DNSListener* p_pListener);
  // The outcome so far and a copy of the accepted records (the list is
  // emptied first).
  void GetResults(DWORD& p_dwResult, DnsRecordList& p_records);

  // Kept for the resolver's cache; the query itself never uses them, but a
  // truncated answer (TC) is never to be cached as if it were complete.
  DWORD GetCacheTime() const { return m_dwCacheTime; }
  bool GetDontCache() const { return m_bDontCache || m_bTruncatedAnswer; }
  bool GetSpecifyCacheTime() const { return m_bSpecifyCacheTime; }

  DWORD Run() override;

  // UdpNonBlockingSocketListener, in its slot order.
  void OnReceive(DWORD_PTR p_dwSocketId, DWORD p_dwResult) override;
  void OnSend(DWORD_PTR p_dwSocketId, DWORD p_dwResult) override;
  void OnClose(DWORD_PTR p_dwSocketId, DWORD p_dwResult) override;

 private:
  // Who delivers an outcome, which chooses the log texts.
  enum class Reporter { kError, kSuccess, kRunEnd };

  void ReportError(DWORD p_dwCode);
  void ReportSuccess(DnsRecordList p_records);
  // The one place an outcome is delivered: the first caller claims it, closes
  // the socket, calls the listener and sets the completion event; later
  // callers do nothing.
  void Report(DWORD p_dwCode, DnsRecordList p_records, Reporter p_reporter);
  bool IsReported();

  // Builds a message with a fresh ID, remembers the ID and sends it to every
  // server in list order. The number of servers that took it.
  DWORD SendQueryToAllServers();
  bool IsOurTransmission(WORD p_wId);
  // An unpredictable id no earlier transmission of this query used,
  // remembered as ours.
  WORD NewTransmissionId();
  // The answer records on the chain of owner names from the queried name
  // through its CNAMEs, in answer order; the others are logged and dropped.
  DnsRecordList TakeAnswerChain(std::vector<DnsAnswer> p_answers) const;
  // The index in m_serverAddresses of the sender, or -1 when it is none of them.
  int FindServer(const std::string& p_strAddress, USHORT p_usPort) const;
  // Parses, checks and reports one datagram; m_lock held.
  void HandleDatagram(const BYTE* p_pData, DWORD p_dwLength, const std::string& p_strFrom,
                      USHORT p_usPort);

  DNSListener* m_pListener = nullptr;  // not owned
  DWORD m_dwCacheTime = 0;
  bool m_bDontCache = false;
  bool m_bSpecifyCacheTime = false;
  std::vector<std::string> m_servers;
  // The valid server addresses, without repeats: the senders accepted.
  std::vector<IPAddress> m_serverAddresses;
  std::string m_strName;
  DWORD m_dwTimeout = 0;
  bool m_bValid = false;

  KestMT::Mutex m_lock;
  bool m_bSent = false;  // m_lock
  // (server, transmission id) of every accepted answer that carried no
  // usable record; m_lock.
  std::vector<std::pair<int, WORD>> m_countedEmptyAnswers;
  // Set before the report when the answer came with TC; read by the
  // resolver from the report on.
  std::atomic<bool> m_bTruncatedAnswer{false};

  std::mutex m_transmissionLock;
  std::vector<WORD> m_transmissionIds;  // m_transmissionLock

  std::mutex m_outcomeLock;
  bool m_bReported = false;                         // m_outcomeLock
  DWORD m_dwStatus = DNS_ERROR_INVALID_OBJECT;       // m_outcomeLock
  DnsRecordList m_results;                          // written once, by the reporter

  KestMT::Event m_completionEvent;
  const CompletionWait m_completionWait;
  UdpNonBlockingClientSocket m_socket;
};

}  // namespace KestNet
