// KestNet::DnsNameResolver: the NameResolver of the socket layer, backed by
// the system's own resolver (KestNet::Dns with its cache and servers).
//
// InstallDnsNameResolution makes it the resolver every TCP client socket
// uses to connect by name. Whoever starts the system calls it once before
// sockets connect by name: the automation module when it loads, a test in
// its fixture. Calling it again changes nothing.
#pragma once

#include <memory>
#include <string>

#include "net/dns/dns_listener.h"
#include "net/sockets/name_resolver.h"

namespace KestNet {

class Dns;

class DnsNameResolver : public NameResolver, private DNSListener {
 public:
  explicit DnsNameResolver(NameResolverListener* p_pListener);
  // Aborts a resolution in progress, which reports kAborted first.
  ~DnsNameResolver() override;
  DnsNameResolver(const DnsNameResolver&) = delete;
  DnsNameResolver& operator=(const DnsNameResolver&) = delete;

  void ResolveAsync(const std::string& p_strName, DWORD p_dwTimeout) override;

 private:
  // DNSListener: translates the resolver's outcome into the socket layer's.
  void OnResolveNameComplete(const std::wstring& p_cstrwName, DWORD p_dwResult,
                             DnsRecordList& p_records) override;

  NameResolverListener* const m_pListener;  // not owned
  std::unique_ptr<Dns> m_pDns;
};

void InstallDnsNameResolution();

}  // namespace KestNet
