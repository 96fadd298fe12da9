// What the Windows-networking tests share: listeners that record what they
// hear as comparable text, and the KestSysNet companion registered in a home
// of the test's own, reading the client's real neighbour table.
#pragma once

#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "netsys/get_host_info_listener.h"
#include "netsys/network_listener.h"
#include "runtime/string_conversion.h"
#include "tests/companions/sys_net_module.h"
#include "tests/support/record_log.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::netsys::testing {

// Waits are bounded by what an unknown name costs on both adapters (NetBIOS
// retries and the server query's own name resolution), never measured.
inline constexpr std::chrono::seconds kLookupSafetyTimeout{180};

inline std::string Narrow(const std::wstring& p_text) {
  return KestUtilsLib::StringConversion::ConvertCAtlStringWToUTF8(p_text);
}

// "status|host|ip|mac|major.minor|reserved|platform|comment".
class RecordingHostInfoListener : public KestNet::GetHostInfoListener {
 public:
  void GetHostInfoCallback(LONG p_lStatus, const std::wstring& p_cstrwHostName, const std::wstring& p_cstrwIPAddress,
                           const std::wstring& p_cstrwMACAddress, LONG p_lMajorVersion, LONG p_lMinorVersion,
                           LONG p_lReserved, LONG p_lPlatformId, const std::wstring& p_cstrwComment) override {
    records.Add(std::to_string(p_lStatus) + "|" + Narrow(p_cstrwHostName) + "|" + Narrow(p_cstrwIPAddress) + "|" +
                Narrow(p_cstrwMACAddress) + "|" + std::to_string(p_lMajorVersion) + "." +
                std::to_string(p_lMinorVersion) + "|" + std::to_string(p_lReserved) + "|" +
                std::to_string(p_lPlatformId) + "|" + Narrow(p_cstrwComment));
  }
  kestnet::testing::RecordLog records{kLookupSafetyTimeout};
};

// "type:name,name,..." in the order the listing gave them.
class RecordingNetworkListener : public KestSys::CNetworkListener {
 public:
  void NetworkListComplete(DWORD p_dwListType, const std::vector<std::string>& p_names) override {
    std::string record = std::to_string(p_dwListType) + ":";
    for (size_t i = 0; i < p_names.size(); ++i) record += (i == 0 ? "" : ",") + p_names[i];
    records.Add(record);
  }
  kestnet::testing::RecordLog records{kLookupSafetyTimeout};
};

// The companion registered in a fresh home; the neighbour table it reads is
// the process's own (the client namespace's), not a file of the test.
class RegisteredSysNet {
 public:
  RegisteredSysNet() {
    EXPECT_TRUE(m_module.Load("", ""));
    ::unsetenv("KESTNET_ARP_TABLE");
  }

 private:
  kestnet::testing::TemporaryHome m_home;
  kestnet::companions::testing::SysNetModule m_module;
};

}  // namespace kestnet::netsys::testing
