// KestNet::DNSListener: how a DNS query reports its outcome, and the DNS
// result codes it reports.
#pragma once

#include <string>

#include "net/dns/dns_record.h"
#include "platform/os/win_types.h"

namespace KestNet {

// (name, value). The automation layer exposes the same values as constants,
// so none may change.
#define KESTNET_DNS_RESULTS(X)      \
  X(DNS_SUCCESS, 0)                 \
  X(DNS_ERROR_NO_RESPONSES, 1)      \
  X(DNS_ERROR_INVALID_OBJECT, 2)    \
  X(DNS_ERROR_TIMEOUT, 3)           \
  X(DNS_ERROR_ABORT, 4)             \
  X(DNS_ERROR_NO_SERVERS, 5)

#define KESTNET_DECLARE_DNS_RESULT(name, value) inline constexpr DWORD name = value;
KESTNET_DNS_RESULTS(KESTNET_DECLARE_DNS_RESULT)
#undef KESTNET_DECLARE_DNS_RESULT

// "DNS_ERROR_TIMEOUT" for 3; "UNKNOWN" for a value outside the table.
constexpr const char* DnsResultName(DWORD p_dwResult) {
#define KESTNET_DNS_RESULT_CASE(name, value) \
  if (p_dwResult == (value)) return #name;
  KESTNET_DNS_RESULTS(KESTNET_DNS_RESULT_CASE)
#undef KESTNET_DNS_RESULT_CASE
  return "UNKNOWN";
}

// Implemented by whoever starts a DNSThread. The pointer is never owned by
// the query. Called exactly once per query, from whichever thread produced
// the outcome (a socket event thread or the query thread), so implementations
// must accept calls from either; on every error the list is empty.
class DNSListener {
 public:
  virtual void OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult,
                                     DnsRecordList& p_records) = 0;

 protected:
  ~DNSListener() = default;
};

}  // namespace KestNet
