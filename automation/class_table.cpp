#include "automation/class_table.h"

#include "automation/typelib_ids.h"

namespace KestAXLib {
namespace {

constexpr KestNetClassInfo kClasses[] = {
    {"CPing", &CLSID_KestNetPing, L"KestNetPing", L"KestNetPing Class", 206},
    {"CDNS", &CLSID_KestNetDNS, L"KestNetDNS", L"KestNetDNS Class", 208},
    {"CPOP3", &CLSID_KestNetPOP3, L"KestNetPOP3", L"KestNetPOP3 Class", 210},
    {"CPOP3Ex", &CLSID_KestNetPOP3Ex, L"KestNetPOP3Ex", L"KestNetPOP3Ex Class", 211},
    {"CSMTP", &CLSID_KestNetSMTP, L"KestNetSMTP", L"KestNetSMTP Class", 212},
    {"CSMTPEx", &CLSID_KestNetSMTPEx, L"KestNetSMTPEx", L"KestNetSMTPEx Class", 213},
    {"CMessageData", &CLSID_KestNetMessageData, L"KestNetMessageData", L"KestNetMessageData Class", 214},
    {"CTcpClientSocket", &CLSID_KestNetTcpClientSocket, L"KestNetTcpClientSocket", L"KestNetTcpClientSocket Class",
     215},
    {"CWindowsNetworkHost", &CLSID_KestNetWindowsNetworkHost, L"KestNetWindowsNetworkHost",
     L"KestNetWindowsNetworkHost Class", 233},
    {"CWindowsNetwork", &CLSID_KestNetWindowsNetwork, L"KestNetWindowsNetwork", L"KestNetWindowsNetwork Class", 234},
    {"CWindowsNetwork2", &CLSID_KestNetWindowsNetwork2, L"KestNetWindowsNetwork2", L"KestNetWindowsNetwork2 Class",
     235},
};

}  // namespace

std::span<const KestNetClassInfo> KestNetClasses() { return kClasses; }

const KestNetClassInfo* FindKestNetClass(REFCLSID clsid) {
  for (const KestNetClassInfo& info : kClasses) {
    if (*info.clsid == clsid) return &info;
  }
  return nullptr;
}

std::wstring VersionedProgId(const KestNetClassInfo& info) { return IndependentProgId(info) + L".1"; }

std::wstring IndependentProgId(const KestNetClassInfo& info) { return std::wstring(L"KestNet.") + info.coclassName; }

}  // namespace KestAXLib
