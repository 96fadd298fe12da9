// Loads and registers the KestSysNet module as a registration tool does, with
// the resolver configuration it reads pointed at a file the test writes.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/com/com.h"
#include "tests/support/temporary_directory.h"

namespace kestnet::companions::testing {

using RegisterFunction = HRESULT (*)();

// The module registers itself through the host's registrar; a host that
// links the runtime piecewise keeps that part in with this reference
// (defined in kest_sys_net_test.cpp).
extern HRESULT (kestnet::platform::Registrar::*g_hostRegistrar)(LPCOLESTR);

class SysNetModule {
 public:
  SysNetModule() : m_directory("kestnet-sysnet-XXXXXX") {}
  ~SysNetModule() { Unload(); }
  SysNetModule(const SysNetModule&) = delete;
  SysNetModule& operator=(const SysNetModule&) = delete;

  // The module of this build, named by the build system.
  static std::string ModulePath() { return KESTNET_SYS_NET_MODULE_PATH; }

  // Writes p_resolverConfiguration and p_neighbourTable where the module
  // will read them, then loads and registers it (this build's module, or a
  // copy of it at p_modulePath).
  ::testing::AssertionResult Load(const std::string& p_resolverConfiguration, const std::string& p_neighbourTable,
                                  const std::string& p_modulePath = ModulePath()) {
    const std::filesystem::path configuration = m_directory.Path() / "resolv.conf";
    const std::filesystem::path neighbours = m_directory.Path() / "arp";
    std::ofstream(configuration) << p_resolverConfiguration;
    std::ofstream(neighbours) << p_neighbourTable;
    ::setenv("KESTNET_RESOLV_CONF", configuration.c_str(), 1);
    ::setenv("KESTNET_ARP_TABLE", neighbours.c_str(), 1);
    m_module = ::dlopen(p_modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_module == nullptr) return ::testing::AssertionFailure() << ::dlerror();
    const HRESULT hr = Export("DllRegisterServer")();
    if (FAILED(hr)) return ::testing::AssertionFailure() << "DllRegisterServer: " << std::hex << hr;
    return ::testing::AssertionSuccess();
  }

  HRESULT Unregister() { return Export("DllUnregisterServer")(); }

  void Unload() {
    if (m_module != nullptr) {
      ::dlclose(m_module);
      m_module = nullptr;
    }
    ::unsetenv("KESTNET_RESOLV_CONF");
    ::unsetenv("KESTNET_ARP_TABLE");
  }

 private:
  RegisterFunction Export(const char* p_szName) {
    return reinterpret_cast<RegisterFunction>(::dlsym(m_module, p_szName));
  }

  kestnet::testing::TemporaryDirectory m_directory;
  void* m_module = nullptr;
};

}  // namespace kestnet::companions::testing
