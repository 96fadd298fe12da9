#include "net/ping/ping_result.h"

#include <array>

#include "platform/net/icmp_echo.h"

namespace KestNet {
namespace {

struct ResultName {
  DWORD result;
  const char* name;
};
#define KESTNET_PING_RESULT_NAME(Name, Value) ResultName{Value, #Name},
constexpr std::array kResultNames{KESTNET_PING_RESULTS(KESTNET_PING_RESULT_NAME)};
#undef KESTNET_PING_RESULT_NAME

struct StatusMapping {
  ULONG status;
  WORD result;
};
constexpr std::array kStatusMappings{
    StatusMapping{IP_TTL_EXPIRED_TRANSIT, PING_TTL_EXPIRED},
    StatusMapping{IP_DEST_NET_UNREACHABLE, PING_NET_UNREACHABLE},
    StatusMapping{IP_BAD_ROUTE, PING_NET_UNREACHABLE},
    StatusMapping{IP_DEST_HOST_UNREACHABLE, PING_HOST_UNREACHABLE},
    StatusMapping{IP_DEST_PROT_UNREACHABLE, PING_HOST_UNREACHABLE},
    StatusMapping{IP_DEST_PORT_UNREACHABLE, PING_HOST_UNREACHABLE},
    StatusMapping{IP_BAD_DESTINATION, PING_HOST_UNREACHABLE},
    StatusMapping{IP_BUF_TOO_SMALL, PING_ERROR},
    StatusMapping{IP_NO_RESOURCES, PING_ERROR},
    StatusMapping{IP_BAD_OPTION, PING_ERROR},
    StatusMapping{IP_HW_ERROR, PING_ERROR},
    StatusMapping{IP_PACKET_TOO_BIG, PING_ERROR},
    StatusMapping{IP_BAD_REQ, PING_ERROR},
    StatusMapping{IP_TTL_EXPIRED_REASSEM, PING_ERROR},
    StatusMapping{IP_PARAM_PROBLEM, PING_ERROR},
    StatusMapping{IP_SOURCE_QUENCH, PING_ERROR},
    StatusMapping{IP_OPTION_TOO_BIG, PING_ERROR},
    StatusMapping{IP_ADDR_DELETED, PING_ERROR},
    StatusMapping{IP_SPEC_MTU_CHANGE, PING_ERROR},
    StatusMapping{IP_MTU_CHANGE, PING_ERROR},
    StatusMapping{IP_UNLOAD, PING_ERROR},
    StatusMapping{IP_REQ_TIMED_OUT, PING_TIMEOUT},
};

}  // namespace

const char* PingResultName(DWORD p_dwResult) {
  for (const ResultName& entry : kResultNames) {
    if (entry.result == p_dwResult) return entry.name;
  }
  return "";
}

WORD PingResultOfStatus(ULONG p_ulStatus, DWORD p_dwReplyCount) {
  if (p_ulStatus == IP_SUCCESS) {
    return p_dwReplyCount > 0 ? PING_SUCCESS : PING_HOST_UNREACHABLE;
  }
  for (const StatusMapping& mapping : kStatusMappings) {
    if (mapping.status == p_ulStatus) return mapping.result;
  }
  return PING_INVALID_OBJECT;
}

}  // namespace KestNet
