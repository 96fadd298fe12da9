#include "platform/smb/computer_name.h"

#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>

#include "platform/os/last_error.h"
#include "platform/os/utf8.h"
#include "platform/smb/smb_session.h"

namespace {

// The NetBIOS name Samba's client presents (its configuration's "netbios
// name", else its own derivation from the host name), or the host name when
// the client cannot start; in NetBIOS form either way.
std::string ComputerName() {
  std::string name;
  {
    kestnet::platform::smb::SmbClientLease client(kestnet::platform::smb::ProtocolRange::kDefault);
    name = client.NetbiosName();
  }
  if (name.empty()) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) name = host;
  }
  name = name.substr(0, name.find('.'));
  if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

template <typename Char>
BOOL CopyName(const std::basic_string<Char>& p_name, Char* p_buffer, LPDWORD p_size) {
  if (p_buffer == nullptr || p_size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto length = static_cast<DWORD>(p_name.size());
  if (*p_size <= length) {
    *p_size = length + 1;
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(p_buffer, p_name.c_str(), (p_name.size() + 1) * sizeof(Char));
  *p_size = length;
  return TRUE;
}

}  // namespace

BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize) {
  return CopyName(kestnet::platform::WideFromUtf8(ComputerName()), lpBuffer, nSize);
}

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) { return CopyName(ComputerName(), lpBuffer, nSize); }
