#include "platform/smb/smb_session.h"

#include <fcntl.h>
#include <libsmbclient.h>

#include <cerrno>
#include <cstring>

#include "platform/smb/samba_library.h"

namespace kestnet::platform::smb {
namespace {

// libsmbclient's entry points, resolved when the first lease starts the client.
#define KESTNET_SMBCLIENT_ENTRY_POINTS(X)                                                                  \
  X(smbc_new_context)                                                                                      \
  X(smbc_init_context)                                                                                     \
  X(smbc_free_context)                                                                                     \
  X(smbc_setDebug)                                                                                         \
  X(smbc_setLogCallback)                                                                                   \
  X(smbc_setOptionUseCCache)                                                                               \
  X(smbc_setOptionUseKerberos)                                                                             \
  X(smbc_setOptionFallbackAfterKerberos)                                                                   \
  X(smbc_setOptionProtocols)                                                                               \
  X(smbc_setFunctionAuthDataWithContext)                                                                   \
  X(smbc_setUser)                                                                                          \
  X(smbc_getNetbiosName)                                                                                   \
  X(smbc_getWorkgroup)                                                                                     \
  X(smbc_getFunctionOpendir)                                                                               \
  X(smbc_getFunctionReaddir)                                                                               \
  X(smbc_getFunctionReaddirPlus2)                                                                          \
  X(smbc_getFunctionClosedir)                                                                              \
  X(smbc_getFunctionStat)                                                                                  \
  X(smbc_getFunctionOpen)                                                                                  \
  X(smbc_getFunctionRead)                                                                                  \
  X(smbc_getFunctionWrite)                                                                                 \
  X(smbc_getFunctionClose)                                                                                 \
  X(smbc_getFunctionUnlink)                                                                                \
  X(smbc_getFunctionMkdir)                                                                                 \
  X(smbc_getFunctionRmdir)

struct SmbClientCalls {
  KESTNET_SMBCLIENT_ENTRY_POINTS(KESTNET_SAMBA_ENTRY_POINT_MEMBER)
};

bool ResolveSmbClient(void* library, SmbClientCalls& calls) {
  return true KESTNET_SMBCLIENT_ENTRY_POINTS(KESTNET_SAMBA_RESOLVE_ENTRY_POINT);
}

// Null when libsmbclient or one of its entry points is missing. Only asked
// once a context exists or is being made, so m_context != nullptr implies a
// loaded library.
const SmbClientCalls* LoadedSmbClient() {
  static const SmbClientCalls* const calls =
      LoadSambaLibrary<SmbClientCalls>("libsmbclient.so.0", &ResolveSmbClient);
  return calls;
}

// The loaded library, for code that holds a context made through it.
const SmbClientCalls& SmbClient() { return *LoadedSmbClient(); }

// The account a Windows client presents when it has no credentials stored for
// the server (see the header).
constexpr char kGuestAccount[] = "guest";

void DiscardLogLine(void*, int, const char*) {}

void SupplyGuestLogon(SMBCCTX*, const char*, const char*, char*, int, char* p_user, int p_userSize,
                      char* p_password, int p_passwordSize) {
  if (p_userSize > 0) std::snprintf(p_user, static_cast<std::size_t>(p_userSize), "%s", kGuestAccount);
  if (p_passwordSize > 0) p_password[0] = '\0';
}

// The range names Samba's "client min/max protocol" parameters take.
struct RangeNames {
  const char* minimum;
  const char* maximum;
};
constexpr RangeNames kRangeNames[] = {
    /* kBrowseLists */ {"NT1", "NT1"},
    /* kDefault */ {"default", "default"},
};

// The lock and the two contexts (see the header). Lives from the first lease
// to the end of the process.
class SmbClientState {
 public:
  static SmbClientState& Instance() {
    static SmbClientState state;
    return state;
  }

  std::mutex& Lock() { return m_lock; }

  // Called with the lock held: the context for p_range, with Samba's
  // process-wide range set to it; null with p_error when the client cannot
  // start.
  SMBCCTX* Acquire(ProtocolRange p_range, int& p_error) {
    const auto index = static_cast<std::size_t>(p_range);
    if (m_contexts[index] == nullptr && !Start(index, p_error)) return nullptr;
    if (!m_bRangeSet || m_currentRange != p_range) {
      const RangeNames& names = kRangeNames[index];
      if (!SmbClient().smbc_setOptionProtocols(m_contexts[index], names.minimum, names.maximum)) {
        p_error = EINVAL;
        return nullptr;
      }
      m_currentRange = p_range;
      m_bRangeSet = true;
    }
    p_error = 0;
    return m_contexts[index];
  }

  ~SmbClientState() {
    for (SMBCCTX*& context : m_contexts) {
      if (context != nullptr) SmbClient().smbc_free_context(context, 1);
      context = nullptr;
    }
  }

 private:
  SmbClientState() = default;

  bool Start(std::size_t p_index, int& p_error) {
    if (LoadedSmbClient() == nullptr) {
      p_error = ELIBACC;
      return false;
    }
    SMBCCTX* context = SmbClient().smbc_new_context();
    if (context == nullptr) {
      p_error = errno != 0 ? errno : ENOMEM;
      return false;
    }
    // Library code stays silent: Samba's messages would go to our stderr.
    SmbClient().smbc_setDebug(context, 0);
    SmbClient().smbc_setLogCallback(context, nullptr, &DiscardLogLine);
    SmbClient().smbc_setOptionUseCCache(context, 0);
    SmbClient().smbc_setOptionUseKerberos(context, 0);
    SmbClient().smbc_setOptionFallbackAfterKerberos(context, 1);
    SmbClient().smbc_setFunctionAuthDataWithContext(context, &SupplyGuestLogon);
    SmbClient().smbc_setUser(context, kGuestAccount);
    if (SmbClient().smbc_init_context(context) == nullptr) {
      p_error = errno != 0 ? errno : ENOMEM;
      SmbClient().smbc_free_context(context, 1);
      return false;
    }
    m_contexts[p_index] = context;
    return true;
  }

  std::mutex m_lock;
  SMBCCTX* m_contexts[std::size(kRangeNames)] = {};
  ProtocolRange m_currentRange = ProtocolRange::kDefault;
  bool m_bRangeSet = false;
};

int ErrnoOr(int p_fallback) { return errno != 0 ? errno : p_fallback; }

// Share and browse listings come through readdir, which carries their kinds
// and comments; folder listings through readdirplus2, which carries the DOS
// attributes, sizes and times without a round trip per file. A browse list
// entry without a name names nothing and is passed over: Samba's nmbd (4.17)
// writes one for each domain master browser it learns of through WINS, whose
// workgroup name it fails to read from the node status answer.
int ReadListing(SMBCCTX* p_context, SMBCFILE* p_directory, std::vector<SmbDirectoryEntry>& p_entries) {
  auto readdir = SmbClient().smbc_getFunctionReaddir(p_context);
  for (;;) {
    errno = 0;
    const smbc_dirent* entry = readdir(p_context, p_directory);
    if (entry == nullptr) return errno;
    if (entry->name[0] == '\0') continue;
    SmbDirectoryEntry item;
    item.kind = static_cast<SmbEntryKind>(entry->smbc_type);
    item.name.assign(entry->name);
    item.comment.assign(entry->comment != nullptr ? entry->comment : "");
    p_entries.push_back(std::move(item));
  }
}

int ReadFolder(SMBCCTX* p_context, SMBCFILE* p_directory, std::vector<SmbDirectoryEntry>& p_entries) {
  auto readdirPlus = SmbClient().smbc_getFunctionReaddirPlus2(p_context);
  for (;;) {
    errno = 0;
    struct stat status {};
    const libsmb_file_info* entry = readdirPlus(p_context, p_directory, &status);
    if (entry == nullptr) return errno;
    SmbDirectoryEntry item;
    item.kind = S_ISDIR(status.st_mode) ? SmbEntryKind::kDirectory : SmbEntryKind::kFile;
    item.name.assign(entry->name != nullptr ? entry->name : "");
    item.dosAttributes = entry->attrs;
    item.size = entry->size;
    item.creation = entry->btime_ts;
    item.lastAccess = entry->atime_ts;
    item.lastWrite = entry->mtime_ts;
    p_entries.push_back(std::move(item));
  }
}

}  // namespace

SmbClientLease::SmbClientLease(ProtocolRange p_range)
    : m_lock(SmbClientState::Instance().Lock()) {
  m_context = SmbClientState::Instance().Acquire(p_range, m_startError);
}

SmbClientLease::~SmbClientLease() = default;

int SmbClientLease::ListDirectory(const std::string& p_url, ListingKind p_kind,
                                  std::vector<SmbDirectoryEntry>& p_entries) {
  p_entries.clear();
  if (m_context == nullptr) return m_startError;
  errno = 0;
  SMBCFILE* directory = SmbClient().smbc_getFunctionOpendir(m_context)(m_context, p_url.c_str());
  if (directory == nullptr) return ErrnoOr(EIO);
  const int result = p_kind == ListingKind::kFolder ? ReadFolder(m_context, directory, p_entries)
                                                    : ReadListing(m_context, directory, p_entries);
  SmbClient().smbc_getFunctionClosedir(m_context)(m_context, directory);
  return result;
}

int SmbClientLease::Stat(const std::string& p_url, struct stat& p_status) {
  if (m_context == nullptr) return m_startError;
  errno = 0;
  if (SmbClient().smbc_getFunctionStat(m_context)(m_context, p_url.c_str(), &p_status) < 0) return ErrnoOr(EIO);
  return 0;
}

int SmbClientLease::Open(const std::string& p_url, int p_flags, mode_t p_mode, SmbFile& p_file) {
  p_file = nullptr;
  if (m_context == nullptr) return m_startError;
  errno = 0;
  p_file = SmbClient().smbc_getFunctionOpen(m_context)(m_context, p_url.c_str(), p_flags, p_mode);
  return p_file == nullptr ? ErrnoOr(EIO) : 0;
}

int SmbClientLease::Read(SmbFile p_file, void* p_buffer, std::size_t p_capacity, std::size_t& p_read) {
  p_read = 0;
  if (m_context == nullptr) return m_startError;
  errno = 0;
  const ssize_t got = SmbClient().smbc_getFunctionRead(m_context)(m_context, p_file, p_buffer, p_capacity);
  if (got < 0) return ErrnoOr(EIO);
  p_read = static_cast<std::size_t>(got);
  return 0;
}

int SmbClientLease::Write(SmbFile p_file, const void* p_data, std::size_t p_length) {
  if (m_context == nullptr) return m_startError;
  const auto* bytes = static_cast<const char*>(p_data);
  while (p_length > 0) {
    errno = 0;
    const ssize_t written = SmbClient().smbc_getFunctionWrite(m_context)(m_context, p_file, bytes, p_length);
    if (written <= 0) return ErrnoOr(EIO);
    bytes += written;
    p_length -= static_cast<std::size_t>(written);
  }
  return 0;
}

int SmbClientLease::Close(SmbFile p_file) {
  if (m_context == nullptr) return m_startError;
  errno = 0;
  return SmbClient().smbc_getFunctionClose(m_context)(m_context, p_file) < 0 ? ErrnoOr(EIO) : 0;
}

int SmbClientLease::Unlink(const std::string& p_url) {
  if (m_context == nullptr) return m_startError;
  errno = 0;
  return SmbClient().smbc_getFunctionUnlink(m_context)(m_context, p_url.c_str()) < 0 ? ErrnoOr(EIO) : 0;
}

int SmbClientLease::MakeDirectory(const std::string& p_url) {
  if (m_context == nullptr) return m_startError;
  errno = 0;
  return SmbClient().smbc_getFunctionMkdir(m_context)(m_context, p_url.c_str(), 0755) < 0 ? ErrnoOr(EIO) : 0;
}

int SmbClientLease::RemoveDirectory(const std::string& p_url) {
  if (m_context == nullptr) return m_startError;
  errno = 0;
  return SmbClient().smbc_getFunctionRmdir(m_context)(m_context, p_url.c_str()) < 0 ? ErrnoOr(EIO) : 0;
}

std::string SmbClientLease::NetbiosName() const {
  const char* name = m_context != nullptr ? SmbClient().smbc_getNetbiosName(m_context) : nullptr;
  return name != nullptr ? name : "";
}

std::string SmbClientLease::Workgroup() const {
  const char* name = m_context != nullptr ? SmbClient().smbc_getWorkgroup(m_context) : nullptr;
  return name != nullptr ? name : "";
}

}  // namespace kestnet::platform::smb
