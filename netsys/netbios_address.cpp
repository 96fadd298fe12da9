#include "netsys/netbios_address.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "companions/kestsysnet/kest_sys_net.h"
#include "netsys/get_host_info_exceptions.h"
#include "platform/com/activation.h"
#include "platform/com/atl_bstr.h"
#include "platform/com/atl_ptr.h"
#include "platform/com/atl_variant.h"
#include "platform/com/safearray.h"
#include "platform/netbios/netbios.h"
#include "runtime/exceptions.h"
#include "runtime/log.h"
#include "runtime/mt_log.h"
#include "runtime/string_conversion.h"
#include "runtime/thread.h"

namespace KestNet {
namespace {

constexpr const char* kClassName = "KestNet::GetHostInfoThread";

// NCBENUM fills a LANA_ENUM; the buffer is the size Windows callers give it.
constexpr WORD kEnumBufferSize = 256;
// A FIND_NAME_HEADER and room for the largest answer the NetBIOS driver
// returns (FIND_NAME_BUFFER records).
constexpr WORD kFindNameBufferSize = 3304;
// A NetBIOS name is 15 characters and a suffix byte; 0x00 names the
// workstation service, which every machine that browses registers.
constexpr size_t kNetbiosNameLength = 15;
constexpr UCHAR kWorkstationSuffix = 0x00;

// Runs one NetBIOS command; false (logged at p_byLevel) when it failed.
bool RunNetbios(NCB& p_ncb, BYTE p_byLevel) {
  const UCHAR ucResult = Netbios(&p_ncb);
  if (ucResult != NRC_GOODRET) {
    Log(kClassName, p_byLevel, "GetAddressFromNetbios:  Error - Failed NetBios Call with Error %u",
        static_cast<unsigned>(ucResult));
    return false;
  }
  return true;
}

// The call name of a find-name query: the host name cut to 15 characters,
// upper-cased, padded with spaces, then the suffix byte.
void SetCallName(NCB& p_ncb, const std::string& p_strName) {
  std::memset(p_ncb.ncb_callname, ' ', NCBNAMSZ);
  const size_t length = std::min(p_strName.size(), kNetbiosNameLength);
  for (size_t i = 0; i < length; ++i) {
    p_ncb.ncb_callname[i] = static_cast<UCHAR>(std::toupper(static_cast<unsigned char>(p_strName[i])));
  }
  p_ncb.ncb_callname[kNetbiosNameLength] = kWorkstationSuffix;
}

// The source address of the first find-name entry, if the answer holds one.
bool FirstSourceAddress(const std::vector<UCHAR>& p_buffer, BYTE (&p_abySource)[6]) {
  FIND_NAME_HEADER header{};
  if (p_buffer.size() < sizeof(header) + sizeof(FIND_NAME_BUFFER)) return false;
  std::memcpy(&header, p_buffer.data(), sizeof(header));
  if (header.node_count == 0) return false;
  FIND_NAME_BUFFER entry{};
  std::memcpy(&entry, p_buffer.data() + sizeof(header), sizeof(entry));
  std::memcpy(p_abySource, entry.source_addr, sizeof(p_abySource));
  return true;
}

// The MAC the companion reports for p_cstrwIPAddress; p_cstrwMACAddress is
// left alone when the companion does not know the neighbour.
void AskCompanionForMAC(IKestSysNetNetwork* p_pNetwork, const std::wstring& p_cstrwIPAddress,
                        std::wstring& p_cstrwMACAddress) {
  ATL::CComBSTR address(p_cstrwIPAddress.c_str());
  ATL::CComVariant answer;
  // Slot 46 of the companion's function table: the ARP lookup.
  const HRESULT hr = p_pNetwork->GetMACAddress(address, answer.Receive());
  if (FAILED(hr)) {
    Log(kClassName, kLogLevelWarning,
        "Initialize():  Error - We found SysNet and failed a call to get the ARP MAC addresses, hr=<0x%X>.",
        static_cast<unsigned>(hr));
    throw KestBase::HRESULTException(hr, KestMT::SourceFileName(__FILE__), __LINE__);
  }
  if (V_VT(&answer) != (VT_ARRAY | VT_VARIANT) || V_ARRAY(&answer) == nullptr ||
      SafeArrayGetDim(V_ARRAY(&answer)) != 1) {
    Log(kClassName, kLogLevelWarning, "Initialize():  KestSysNet returned an invalid response.");
    throw KestBase::InvalidObjectException();
  }
  SAFEARRAY* pArray = V_ARRAY(&answer);
  LONG lLower = 0;
  LONG lUpper = -1;
  SafeArrayGetLBound(pArray, 1, &lLower);
  SafeArrayGetUBound(pArray, 1, &lUpper);
  if (lUpper < lLower) {
    return;
  }
  ATL::CComVariant first;
  if (FAILED(SafeArrayGetElement(pArray, &lLower, first.Receive())) || V_VT(&first) != VT_BSTR) {
    Log(kClassName, kLogLevelWarning, "ConvertToIPAddress():  KestSysNet returned an array that contains invalid values.");
    throw KestBase::InvalidObjectException();
  }
  BSTR bstrMAC = V_BSTR(&first);
  p_cstrwMACAddress.assign(bstrMAC, SysStringLen(bstrMAC));
}

}  // namespace

bool ConvertToIPAddress(const BYTE (&p_abySourceAddress)[6], std::wstring& p_cstrwIPAddress,
                        std::wstring& p_cstrwMACAddress) {
  // NetBIOS over TCP/IP reports a node by its IPv4 address after two zero
  // bytes; anything else is a MAC of another transport.
  if (p_abySourceAddress[0] != 0 || p_abySourceAddress[1] != 0) {
    return false;
  }
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "%u.%u.%u.%u", p_abySourceAddress[2], p_abySourceAddress[3],
                p_abySourceAddress[4], p_abySourceAddress[5]);
  const std::wstring ipAddress = KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(text.data());

  ATL::CComPtr<IUnknown> unknown;
  if (FAILED(CoCreateInstance(CLSID_KestSysNetNetwork, nullptr, CLSCTX_ALL, IID_IUnknown,
                              reinterpret_cast<void**>(&unknown))) ||
      unknown == nullptr) {
    Log(kClassName, kLogLevelWarning, "ConvertToIPAddress():  Error - Could not CoCreate KestSysNetNetwork.");
    return false;
  }
  ATL::CComPtr<IKestSysNetNetwork> network;
  if (FAILED(unknown->QueryInterface(IID_PPV_ARGS(&network))) || network == nullptr) {
    Log(kClassName, kLogLevelWarning, "ConvertToIPAddress():  Error - Could not query for IKestSysNetNetwork.");
    return false;
  }
  AskCompanionForMAC(network, ipAddress, p_cstrwMACAddress);
  p_cstrwIPAddress = ipAddress;
  return true;
}

void GetAddressFromNetbios(const std::string& p_strName, KestMT::Thread* p_pThread, std::wstring& p_cstrwIPAddress,
                           std::wstring& p_cstrwMACAddress) {
  const std::string name = p_strName.substr(std::min(p_strName.find_first_not_of('\\'), p_strName.size()));

  LANA_ENUM adapters{};
  std::vector<UCHAR> enumBuffer(kEnumBufferSize, 0);
  NCB ncb{};
  ncb.ncb_command = NCBENUM;
  ncb.ncb_buffer = enumBuffer.data();
  ncb.ncb_length = kEnumBufferSize;
  if (!RunNetbios(ncb, kLogLevelWarning)) {
    throw KestBase::Win32ErrorException(KestMT::SourceFileName(__FILE__), __LINE__);
  }
  std::memcpy(&adapters, enumBuffer.data(), std::min<size_t>(sizeof(adapters), enumBuffer.size()));
  const size_t adapterCount = std::min<size_t>(adapters.length, sizeof(adapters.lana));

  std::vector<UCHAR> findBuffer(kFindNameBufferSize);
  for (size_t i = 0; i < adapterCount; ++i) {
    if (p_pThread != nullptr) {
      p_pThread->Yield();
    }
    const UCHAR ucAdapter = adapters.lana[i];
    ncb = NCB{};
    ncb.ncb_command = NCBRESET;
    ncb.ncb_lana_num = ucAdapter;
    if (!RunNetbios(ncb, kLogLevelInformation)) {
      continue;
    }
    std::fill(findBuffer.begin(), findBuffer.end(), 0);
    ncb = NCB{};
    ncb.ncb_command = NCBFINDNAME;
    ncb.ncb_buffer = findBuffer.data();
    ncb.ncb_length = kFindNameBufferSize;
    ncb.ncb_lana_num = ucAdapter;
    SetCallName(ncb, name);
    if (!RunNetbios(ncb, kLogLevelInformation)) {
      continue;
    }
    BYTE abySource[6] = {};
    if (FirstSourceAddress(findBuffer, abySource) &&
        ConvertToIPAddress(abySource, p_cstrwIPAddress, p_cstrwMACAddress)) {
      return;
    }
  }
  throw InternalGetHostInfoException_HostNotFound();
}

}  // namespace KestNet
