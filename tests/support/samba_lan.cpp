#include "tests/support/samba_lan.h"

namespace kestnet::testing {

SambaLan& SambaLan::Instance() {
  static SambaLan lan;
  return lan;
}

bool SambaLan::Start() { return false; }

bool SambaLan::Stop(std::string& p_error) {
  p_error.clear();
  return true;
}

bool SambaLan::WaitForBrowseList(std::chrono::milliseconds, std::string& p_error) {
  p_error = m_skipReason;
  return false;
}

std::string SambaLan::ClientNetworkNamespace() const { return {}; }

std::filesystem::path SambaLan::SharePath(const SambaServer& p_server, const char* p_share) const {
  return m_directory / p_server.name / "shares" / p_share;
}

std::string SambaLan::ReadLogs() const { return {}; }

}  // namespace kestnet::testing
