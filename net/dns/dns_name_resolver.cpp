#include "net/dns/dns_name_resolver.h"

#include "net/dns/dns.h"
#include "runtime/string_conversion.h"

namespace KestNet {
namespace {

std::unique_ptr<NameResolver> MakeDnsNameResolver(NameResolverListener* p_pListener) {
  return std::make_unique<DnsNameResolver>(p_pListener);
}

NameResolutionResult ToNameResolutionResult(DWORD p_dwDnsResult) {
  if (p_dwDnsResult == DNS_SUCCESS) {
    return NameResolutionResult::kAnswered;
  }
  return p_dwDnsResult == DNS_ERROR_ABORT ? NameResolutionResult::kAborted : NameResolutionResult::kFailed;
}

}  // namespace

DnsNameResolver::DnsNameResolver(NameResolverListener* p_pListener)
    : m_pListener(p_pListener), m_pDns(std::make_unique<Dns>()) {
  m_pDns->SetListener(this);
}

DnsNameResolver::~DnsNameResolver() {
  // Destroyed while this object is whole, so that the abort it reports
  // still reaches OnResolveNameComplete.
  m_pDns.reset();
}

void DnsNameResolver::ResolveAsync(const std::string& p_strName, DWORD p_dwTimeout) {
  m_pDns->ResolveNameAsync(KestUtilsLib::StringConversion::ConvertANSIToCAtlStringW(p_strName),
                           static_cast<WORD>(p_dwTimeout), 0, 0);
}

void DnsNameResolver::OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult,
                                            DnsRecordList& p_records) {
  IPv4AddressList addresses;
  for (const DnsRecord& record : p_records) {
    if (record.type == kDnsRecordTypeA) {
      addresses.push_back(record.address);
    }
  }
  m_pListener->OnNameResolved(KestUtilsLib::StringConversion::ConvertCAtlStringWToANSI(p_cstrwName),
                              ToNameResolutionResult(p_dwResult), addresses);
}

void InstallDnsNameResolution() {
  SetNameResolverFactory(&MakeDnsNameResolver);
}

}  // namespace KestNet
