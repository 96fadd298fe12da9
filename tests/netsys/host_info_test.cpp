// Host information lookups against the servers of the test LAN: address and
// MAC by NetBIOS on each adapter, version, platform and comment from the
// server service, and the classification of server types.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "netsys/get_host_info_result.h"
#include "netsys/net_server_get_info.h"
#include "netsys/windows_network.h"
#include "platform/com/com.h"
#include "platform/smb/net_api.h"
#include "runtime/exceptions.h"
#include "tests/netsys/netsys_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/samba_lan.h"

// The companion registers itself through the registrar of the program that
// loads it; this reference keeps that part of the runtime linked in.
HRESULT (kestnet::platform::Registrar::*kestnet::companions::testing::g_hostRegistrar)(LPCOLESTR) =
    &kestnet::platform::Registrar::StringRegister;

namespace {

using kestnet::netsys::testing::RecordingHostInfoListener;
using kestnet::netsys::testing::RegisteredSysNet;
using kestnet::testing::LogCapture;
using kestnet::testing::LoggedLine;
using kestnet::testing::SambaLan;
using kestnet::testing::SambaServer;
using namespace KestNet;

TEST(GetPlatformTest, ClassifiesServerTypesAndVersions) {
  struct Case {
    DWORD dwType;
    DWORD dwMajor;
    DWORD dwMinor;
    LONG lExpected;
  };
  const Case cases[] = {
      {SV_TYPE_WINDOWS, 4, 10, PLATFORM_WINDOWS_9X},         // Windows 98
      {SV_TYPE_WINDOWS, 4, 90, PLATFORM_WINDOWS_9X},         // Windows Me
      {SV_TYPE_WINDOWS, 4, 11, PLATFORM_UNKNOWN},
      {SV_TYPE_WINDOWS | SV_TYPE_NT, 5, 1, PLATFORM_UNKNOWN},  // the 9x bit wins
      {SV_TYPE_NT, 4, 0, PLATFORM_UNKNOWN},                  // NT 4.0
      {SV_TYPE_NT, 5, 0, PLATFORM_WINDOWS_2000},
      {SV_TYPE_NT, 5, 1, PLATFORM_WINDOWS_XP},
      {SV_TYPE_NT, 5, 2, PLATFORM_WINDOWS_2003},
      {SV_TYPE_NT, 6, 0, PLATFORM_WINDOWS_VISTA},
      {SV_TYPE_NT, 6, 1, PLATFORM_WINDOWS_7},
      {SV_TYPE_NT, 6, 2, PLATFORM_UNKNOWN},
      {0x809a03, 6, 1, PLATFORM_UNIX},                       // what Samba answers
      {SV_TYPE_NT | SV_TYPE_SERVER_UNIX | SV_TYPE_AFP, 6, 1, PLATFORM_UNKNOWN},
      {SV_TYPE_SERVER_UNIX, 6, 1, PLATFORM_UNKNOWN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.dwType << std::dec << " " << c.dwMajor << "." << c.dwMinor);
    EXPECT_EQ(GetPlatform(c.dwType, c.dwMajor, c.dwMinor), c.lExpected);
  }
}

class HostInfoTest : public kestnet::testing::SambaLanTest {
 protected:
  static std::wstring HostName(const char* p_szName) {
    return L"\\\\" + KestUtilsLib::StringConversion::ConvertUTF8ToCAtlStringW(p_szName);
  }
  static std::string Found(const SambaServer& p_server) {
    return "0|\\\\" + std::string(p_server.name) + "|" + p_server.address + "|" + p_server.mac + "|6.1|-1|" +
           std::to_string(PLATFORM_UNIX) + "|" + p_server.comment;
  }

  RegisteredSysNet m_sysNet;
  RecordingHostInfoListener m_listener;
  WindowsNetwork m_network;
};

TEST_F(HostInfoTest, FindsEachServerOnItsAdapterWithMacVersionPlatformAndComment) {
  LogCapture log("KestNet::GetHostInfoThread");
  m_network.GetHostInfo(HostName(SambaLan::kFirstServer.name), &m_listener);
  EXPECT_EQ(m_listener.records.TakeNext(1), std::vector<std::string>{Found(SambaLan::kFirstServer)});
  m_network.GetHostInfo(HostName(SambaLan::kSecondServer.name), &m_listener);
  EXPECT_EQ(m_listener.records.TakeNext(1), std::vector<std::string>{Found(SambaLan::kSecondServer)});
  // Adapter 0 does not know the second name: that find-name times out
  // (NRC_CMDTMO), and it is the only failure logged.
  const std::vector<LoggedLine> expected{{"KestNet::GetHostInfoThread", kLogLevelInformation,
                                          "GetAddressFromNetbios:  Error - Failed NetBios Call with Error 5"}};
  EXPECT_EQ(log.TakeLines(), expected);
}

TEST_F(HostInfoTest, UnknownNameIsHostNotFound) {
  m_network.GetHostInfo(HostName(SambaLan::kUnknownName), &m_listener);
  EXPECT_EQ(m_listener.records.Take(1),
            std::vector<std::string>{std::to_string(GETHOSTINFO_HOST_NOT_FOUND) + "|\\\\" + SambaLan::kUnknownName +
                                     "|UNKNOWN|UNKNOWN|-1.-1|-1|-1|UNKNOWN"});
}

// The unknown name keeps a lookup in its adapter loop for seconds, long after
// the calls below have been made.
TEST_F(HostInfoTest, SecondLookupOfARunningNameFailsAndAbortEndsTheFirst) {
  const std::wstring name = HostName(SambaLan::kUnknownName);
  const std::string aborted = std::to_string(GETHOSTINFO_ABORTED) + "|\\\\" + SambaLan::kUnknownName +
                              "|UNKNOWN|UNKNOWN|-1.-1|-1|-1|UNKNOWN";
  m_network.GetHostInfo(name, &m_listener);
  EXPECT_THROW(m_network.GetHostInfo(name, &m_listener), KestBase::InvalidOperationException);
  m_network.AbortGetHostInfo(name);
  EXPECT_EQ(m_listener.records.Take(1), std::vector<std::string>{aborted});
  // The name is free again once the first lookup has reported.
  m_network.GetHostInfo(name, &m_listener);
  m_network.AbortGetHostInfo(name);
  EXPECT_EQ(m_listener.records.Take(2), std::vector<std::string>{aborted});
}

TEST(WindowsNetworkArgumentsTest, RefusesEmptyNameAndListener) {
  WindowsNetwork network;
  RecordingHostInfoListener listener;
  EXPECT_THROW(network.GetHostInfo(L"", &listener), KestBase::InvalidParameterException);
  EXPECT_THROW(network.GetHostInfo(L"\\\\HOST", nullptr), KestBase::InvalidParameterException);
  EXPECT_THROW(network.AbortGetHostInfo(L""), KestBase::InvalidParameterException);
  EXPECT_NO_THROW(network.AbortGetHostInfo(L"\\\\NOTRUNNING"));
}

}  // namespace
