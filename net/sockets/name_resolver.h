// KestNet::NameResolver: how a TCP client socket has a host name resolved
// without knowing who answers.
//
// The socket layer sits below the resolver (the resolver's queries travel on
// UDP sockets of this layer), so the socket asks through this interface and
// the resolver library supplies the implementation: it installs its factory
// with SetNameResolverFactory (KestNet::InstallDnsNameResolution does that),
// and every socket calls the installed factory the first time it resolves a
// name. The installation is explicit, made by whoever starts the system (the
// automation module when it loads, a test in its fixture), never by a static
// initialiser, so its order is known. Until a factory is installed a socket
// cannot connect by name: the connect ends in its OnClose, as for a name
// that does not resolve.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/sockets/ip_address.h"
#include "platform/os/win_types.h"

namespace KestNet {

using IPv4AddressList = std::vector<IPAddress>;

enum class NameResolutionResult {
  kAnswered,  // the addresses found (the list may still be empty)
  kFailed,    // no answer, a time-out or an error: the list is empty
  kAborted,   // the resolver was destroyed while it worked
};

// Implemented by whoever resolves; the pointer is not owned by the resolver.
class NameResolverListener {
 public:
  // Called once for every ResolveAsync that returned, from whichever thread
  // produced the outcome.
  virtual void OnNameResolved(const std::string& p_strName, NameResolutionResult p_result,
                              const IPv4AddressList& p_addresses) = 0;

 protected:
  ~NameResolverListener() = default;
};

class NameResolver {
 public:
  // Destroying a resolver aborts a resolution in progress; its listener has
  // heard kAborted when the destructor returns.
  virtual ~NameResolver() = default;
  // Starts resolving p_strName, waiting at most p_dwTimeout ms for an answer.
  // A name the resolver refuses throws a KestBase exception and is not
  // reported to the listener.
  virtual void ResolveAsync(const std::string& p_strName, DWORD p_dwTimeout) = 0;
};

using NameResolverFactory = std::unique_ptr<NameResolver> (*)(NameResolverListener* p_pListener);

// The process's factory: installed once before any socket connects by name
// and kept for the life of the process (a later call replaces it). Null
// until installed. Both are safe to call from any thread.
void SetNameResolverFactory(NameResolverFactory p_factory);
NameResolverFactory GetNameResolverFactory();

}  // namespace KestNet
