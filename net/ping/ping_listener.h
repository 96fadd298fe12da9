// KestNet::PingListener: how the echo engine reports one request's outcome.
#pragma once

#include <string>

#include "platform/os/win_types.h"

namespace KestNet {

class PingListener {
 public:
  virtual ~PingListener() = default;
  // Called exactly once per started request, on the request's worker thread:
  // the listener passes the outcome to its own thread itself. p_strAddress is
  // the dotted address pinged, p_strReplyAddress the address that answered
  // (the router for an ICMP error), p_dwRoundTripTime in milliseconds.
  virtual void PingResponse(WORD p_wResult, const std::wstring& p_cstrwTarget,
                            const std::string& p_strAddress, const std::string& p_strReplyAddress,
                            DWORD p_dwRoundTripTime) = 0;
};

}  // namespace KestNet
