#include "net/sockets/name_resolver.h"

#include <atomic>

namespace KestNet {
namespace {

// The one process-wide installation point (see the header for its life).
std::atomic<NameResolverFactory> g_nameResolverFactory{nullptr};

}  // namespace

void SetNameResolverFactory(NameResolverFactory p_factory) {
  g_nameResolverFactory.store(p_factory);
}

NameResolverFactory GetNameResolverFactory() {
  return g_nameResolverFactory.load();
}

}  // namespace KestNet
