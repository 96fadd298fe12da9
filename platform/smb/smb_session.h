// The process's one SMB client: Samba's libsmbclient (and libnetapi, which
// shares its configuration) behind one lock.
//
// Samba's client keeps its configuration, including the protocol range, in
// process-wide state, and its contexts are not thread-safe, so every use of
// either library happens inside an SmbClientLease: one lease at a time in the
// whole process, held for the whole of a Win32 call (a copy holds it until
// the last byte is written). Two contexts live behind the lock, each with its
// own connection cache: one that speaks NT1 only, for the browse lists of
// workgroups and servers (which Samba and Windows serve over SMB1 alone), and
// one that speaks Samba's default client range for shares and files, so a
// connection made for browsing is never reused for a share.
//
// Identity: every session logs on as the account "guest" with an empty
// password, which is what a Windows client presents for an account that has
// no stored credentials for the server; a Samba server maps it to its guest
// account ("map to guest = bad user"), a Windows server to Guest. The winbind
// credential cache is off, so no ticket or cached password of the process's
// account can turn that logon into another one (with the cache on, a refused
// guest logon silently falls back to anonymous, which can create a file on a
// guest share but not reopen or delete it).
//
// The contexts are made on first use and freed when the process exits.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

struct _SMBCCTX;
struct _SMBCFILE;

namespace kestnet::platform::smb {

enum class ProtocolRange {
  kBrowseLists,  // NT1 only
  kDefault,      // Samba's default client range
};

// libsmbclient's entry kinds, with its numbers (SMBC_WORKGROUP ...).
enum class SmbEntryKind : unsigned {
  kWorkgroup = 1,
  kServer = 2,
  kFileShare = 3,
  kPrinterShare = 4,
  kCommsShare = 5,
  kIpcShare = 6,
  kDirectory = 7,
  kFile = 8,
  kLink = 9,
};

struct SmbDirectoryEntry {
  SmbEntryKind kind = SmbEntryKind::kFile;
  std::string name;
  std::string comment;
  // Files and directories only.
  std::uint16_t dosAttributes = 0;
  std::uint64_t size = 0;
  timespec creation{};
  timespec lastAccess{};
  timespec lastWrite{};
};

using SmbFile = _SMBCFILE*;

class SmbClientLease {
 public:
  explicit SmbClientLease(ProtocolRange p_range);
  ~SmbClientLease();
  SmbClientLease(const SmbClientLease&) = delete;
  SmbClientLease& operator=(const SmbClientLease&) = delete;

  // 0 when the client is ready; otherwise the errno value its start failed
  // with, which every call below then returns.
  int StartError() const { return m_startError; }

  // Each returns 0 or an errno value. URLs are smb:// URLs (smb_url.h).
  // kNetwork lists workgroups, servers or shares (kind, name, comment);
  // kFolder a share's folder (kind, name, attributes, size, times).
  enum class ListingKind { kNetwork, kFolder };
  int ListDirectory(const std::string& p_url, ListingKind p_kind,
                    std::vector<SmbDirectoryEntry>& p_entries);
  int Stat(const std::string& p_url, struct stat& p_status);
  int Open(const std::string& p_url, int p_flags, mode_t p_mode, SmbFile& p_file);
  int Read(SmbFile p_file, void* p_buffer, std::size_t p_capacity, std::size_t& p_read);
  int Write(SmbFile p_file, const void* p_data, std::size_t p_length);
  int Close(SmbFile p_file);
  int Unlink(const std::string& p_url);
  int MakeDirectory(const std::string& p_url);
  int RemoveDirectory(const std::string& p_url);

  // The names the client presents, from the machine's Samba configuration
  // (Samba's own fallbacks: the host name, "WORKGROUP"); empty when the
  // client could not start.
  std::string NetbiosName() const;
  std::string Workgroup() const;

 private:
  std::unique_lock<std::mutex> m_lock;
  _SMBCCTX* m_context = nullptr;
  int m_startError = 0;
};

}  // namespace kestnet::platform::smb
