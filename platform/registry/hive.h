// One hive of the registry store: a SQLite database of keys and typed values.
//
// Keys form a tree of rows (id, parent, name); the hive's root is row 1. Ids
// are never reused, so a handle that remembers an id can tell that its key was
// deleted even when a key of the same name was created again. Names are kept
// as the creator spelled them, next to their case-folded form, which is what
// lookups compare.
//
// A Hive object is one connection, shared by every thread of the process and
// serialised by its own mutex; other processes have their own connections and
// meet this one through SQLite's file locks (WAL journal, so readers never wait
// for a writer). Every read runs in one read transaction and every write in one
// write transaction (taken at the start, so two writers never deadlock on an
// upgrade); a busy database is waited for and retried, never reported. A
// read-only hive runs writes as reads, in which SQLite refuses any change.
//
// Durability follows the Windows registry: a commit is consistent at once (a
// process killed at any point leaves every committed change and a whole
// file) and durable against power loss once flushed: by Flush (RegFlushKey),
// by the lazy flusher a few seconds after the first unflushed write, when the
// hive is closed, and at process exit (KeyTable).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/os/win_types.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kestnet::platform::registry_store {

// A Win32 error raised inside the store; the API boundary turns it into the
// function's result.
struct StoreError {
  LONG code;
};

using KeyId = std::int64_t;

struct ValueRecord {
  std::string name;  // creator's spelling, UTF-8
  DWORD type = 0;
  std::string data;  // the stored bytes (UTF-8 text for the string types)
};

struct SubkeyRecord {
  std::string name;
  std::string folded;
  std::string className;
  std::int64_t lastWrite = 0;  // FILETIME ticks
};

// Listings are shared, immutable snapshots (see Hive::Subkeys).
using SubkeyList = std::shared_ptr<const std::vector<SubkeyRecord>>;
using ValueList = std::shared_ptr<const std::vector<ValueRecord>>;

struct KeyInfo {
  std::string className;
  std::int64_t lastWrite = 0;
  std::optional<std::string> security;
};

class Hive : public std::enable_shared_from_this<Hive> {
 public:
  static constexpr KeyId kRootId = 1;

  // Who the file is for. A private hive (the user's) keeps the modes SQLite
  // gives it. A shared hive (the machine's, opened by an account that may
  // write its directory) is made readable by every account, with its WAL
  // files kept between connections, because a reader without write access to
  // the directory can open a WAL database only while they exist. A read-only
  // hive refuses every write with ERROR_ACCESS_DENIED; when its file does not
  // exist it reads as an empty hive.
  enum class Mode { kPrivate, kShared, kReadOnly };

  // Opens (creating when missing, unless read-only) the database file; throws StoreError.
  Hive(std::string file, Mode mode);
  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  const std::string& File() const { return file_; }
  bool ReadOnly() const { return mode_ == Mode::kReadOnly; }

  // Makes every change this process committed to the hive so far durable
  // against power loss; throws StoreError.
  void Flush();

  // Runs body inside one transaction. body may run more than once when the
  // database was busy, so it must assign its results rather than append.
  void Read(const std::function<void()>& body);
  void Write(const std::function<void()>& body);

  // The primitives below are valid only inside Read or Write.
  bool KeyExists(KeyId id);
  std::optional<KeyId> FindChild(KeyId parent, std::string_view folded);
  KeyId CreateChild(KeyId parent, std::string_view name, std::string_view folded, std::string_view className,
                    const std::optional<std::string>& security);
  bool HasSubkeys(KeyId id);
  // Listings in enumeration order. Enumerating by index asks for the same
  // listing once per index, so the last few are kept and served again while
  // the database is unchanged: by any connection (SQLite's data_version) and
  // by this one (its change count). A cached listing is never stale.
  SubkeyList Subkeys(KeyId id);
  KeyInfo Info(KeyId id);
  // Deletes one key that has no subkeys, with its values.
  void DeleteKey(KeyId id);
  // Deletes everything below id (and id itself when includeSelf).
  void DeleteTree(KeyId id, bool includeSelf);
  // Levels between the hive's root (depth 0) and id, counted no further than
  // limit + 1.
  std::size_t Depth(KeyId id, std::size_t limit);
  void Touch(KeyId id);
  void SetSecurity(KeyId id, std::string_view bytes);

  std::optional<ValueRecord> GetValue(KeyId key, std::string_view folded);
  ValueList Values(KeyId key);
  void SetValue(KeyId key, std::string_view name, std::string_view folded, DWORD type, std::string_view data);
  bool DeleteValue(KeyId key, std::string_view folded);

 private:
  class Statement;
  void Connect();
  void OpenDatabase();
  void EnsureOwnConnection();
  void Transaction(bool write, const std::function<void()>& body);
  void FlushLocked();
  sqlite3_stmt* Prepare(const char* sql);
  [[noreturn]] void Fail(int sqliteCode) const;

  struct ChangeStamp {
    std::int64_t dataVersion = -1;
    std::int64_t ownChanges = -1;
    bool operator==(const ChangeStamp&) const = default;
  };
  template <typename List>
  struct CachedListing {
    ChangeStamp stamp;
    List list;
  };
  static constexpr std::size_t kCachedListings = 16;
  ChangeStamp CurrentStamp();
  template <typename List, typename Load>
  List Cached(std::map<KeyId, CachedListing<List>>& cache, KeyId id, Load load);

  const std::string file_;
  const Mode mode_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  pid_t ownerPid_ = 0;
  sqlite3* inheritedConnection_ = nullptr;  // the parent's, in a forked child
  // Whether this connection committed changes not yet flushed, and whether
  // the write that made the first of them must still schedule their flush.
  bool unflushed_ = false;
  bool flushDue_ = false;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
  std::map<KeyId, CachedListing<SubkeyList>> subkeyListings_;
  std::map<KeyId, CachedListing<ValueList>> valueListings_;
};

// Maps a SQLite result code to the Win32 error callers see.
LONG Win32ErrorFromSqlite(int sqliteCode);

}  // namespace kestnet::platform::registry_store
