// KestNet::GetHostInfoListener: how a host lookup reports its outcome.
#pragma once

#include <string>

#include "platform/os/win_types.h"

namespace KestNet {

class GetHostInfoListener {
 public:
  virtual ~GetHostInfoListener() = default;
  // Called exactly once per started lookup, on the lookup's worker thread:
  // the listener carries the values to its own thread itself. p_lStatus is a
  // GETHOSTINFO_* code; the strings read "UNKNOWN" and the numbers -1 where
  // the lookup found nothing (p_lReserved always -1); p_lPlatformId is a
  // PLATFORM_* number.
  virtual void GetHostInfoCallback(LONG p_lStatus, const std::wstring& p_cstrwHostName,
                                   const std::wstring& p_cstrwIPAddress,
                                   const std::wstring& p_cstrwMACAddress, LONG p_lMajorVersion,
                                   LONG p_lMinorVersion, LONG p_lReserved, LONG p_lPlatformId,
                                   const std::wstring& p_cstrwComment) = 0;
};

}  // namespace KestNet
