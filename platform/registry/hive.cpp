#include "platform/registry/hive.h"

#include "platform/registry/lazy_flusher.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <utility>

namespace kestnet::platform::registry_store {
namespace {

// Each statement waits this long for another process's lock before SQLite
// reports busy; a busy transaction is then rolled back and run again, so a
// caller only sees a failure after kBusyAttempts full waits (about a minute).
constexpr int kBusyTimeoutMs = 5000;
constexpr int kBusyAttempts = 12;

// Seconds between 1601-01-01 (FILETIME epoch) and 1970-01-01, in 100 ns ticks.
constexpr std::int64_t kFileTimeUnixEpoch = 116444736000000000LL;

struct BusySignal {};

struct SqliteErrorMapping {
  int sqliteCode;
  LONG win32Error;
};

// Primary result codes only; extended codes are reduced to them first.
constexpr SqliteErrorMapping kSqliteErrors[] = {
    {SQLITE_NOMEM, static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY)},
    {SQLITE_READONLY, static_cast<LONG>(ERROR_ACCESS_DENIED)},
    {SQLITE_PERM, static_cast<LONG>(ERROR_ACCESS_DENIED)},
    {SQLITE_AUTH, static_cast<LONG>(ERROR_ACCESS_DENIED)},
    {SQLITE_CANTOPEN, static_cast<LONG>(ERROR_CANTOPEN)},
    {SQLITE_CORRUPT, static_cast<LONG>(ERROR_REGISTRY_CORRUPT)},
    {SQLITE_NOTADB, static_cast<LONG>(ERROR_REGISTRY_CORRUPT)},
    {SQLITE_FULL, static_cast<LONG>(ERROR_CANTWRITE)},
    {SQLITE_TOOBIG, static_cast<LONG>(ERROR_INVALID_PARAMETER)},
    {SQLITE_BUSY, static_cast<LONG>(ERROR_TIMEOUT)},
    {SQLITE_LOCKED, static_cast<LONG>(ERROR_TIMEOUT)},
};

std::int64_t FileTimeNow() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return kFileTimeUnixEpoch + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  class TEXT NOT NULL DEFAULT '',"
    "  security BLOB,"
    "  written INTEGER NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, folded);"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS vals_by_key ON vals(key, folded);";

}  // namespace

LONG Win32ErrorFromSqlite(int sqliteCode) {
  const int primary = sqliteCode & 0xFF;
  for (const SqliteErrorMapping& mapping : kSqliteErrors) {
    if (mapping.sqliteCode == primary) return mapping.win32Error;
  }
  return static_cast<LONG>(ERROR_REGISTRY_IO_FAILED);
}

// A cached prepared statement, reset for the next use when this goes out of scope.
class Hive::Statement {
 public:
  Statement(Hive& hive, const char* sql) : hive_(hive), statement_(hive.Prepare(sql)) {}
  ~Statement() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t value) {
    Check(sqlite3_bind_int64(statement_, index, value));
    return *this;
  }
  Statement& BindText(int index, std::string_view text) {
    // An empty view may have a null pointer, which SQLite would store as NULL.
    const char* data = text.empty() ? "" : text.data();
    Check(sqlite3_bind_text(statement_, index, data, static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& BindBlob(int index, std::string_view bytes) {
    // A zero-length blob needs a non-null pointer, or SQLite stores NULL.
    const char* data = bytes.empty() ? "" : bytes.data();
    Check(sqlite3_bind_blob(statement_, index, data, static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
    return *this;
  }

  // True while a row is available.
  void Reset() { sqlite3_reset(statement_); }

  bool Step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    hive_.Fail(rc);
  }
  void Run() {
    while (Step()) {
    }
  }

  std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  bool IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::string Bytes(int column) const {
    const void* data = sqlite3_column_blob(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) hive_.Fail(rc);
  }

  Hive& hive_;
  sqlite3_stmt* statement_;
};

Hive::Hive(std::string file, Mode mode) : file_(std::move(file)), mode_(mode) { Connect(); }

Hive::~Hive() {
  // A connection inherited through fork belongs to the parent; closing it here
  // could disturb the parent's locks, so it is left alone.
  if (ownerPid_ != ::getpid()) return;
  try {
    FlushLocked();
  } catch (const StoreError&) {
    // What stays unsynced is still committed: a crash of the process loses
    // nothing, only a power loss before the system writes it back could.
  }
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
  sqlite3_close_v2(db_);
}

void Hive::Fail(int sqliteCode) const {
  const int primary = sqliteCode & 0xFF;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) throw BusySignal{};
  throw StoreError{Win32ErrorFromSqlite(sqliteCode)};
}

void Hive::Connect() {
  ownerPid_ = ::getpid();
  unflushed_ = false;
  flushDue_ = false;
  statements_.clear();
  subkeyListings_.clear();
  valueListings_.clear();
  db_ = nullptr;
  try {
    OpenDatabase();
  } catch (...) {
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    statements_.clear();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
}

void Hive::OpenDatabase() {
  // A read-only hive whose file was never made reads as an empty one.
  const bool absent = mode_ == Mode::kReadOnly && ::access(file_.c_str(), F_OK) != 0;
  const int flags = mode_ == Mode::kReadOnly && !absent ? SQLITE_OPEN_READONLY
                                                         : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(absent ? ":memory:" : file_.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) throw StoreError{Win32ErrorFromSqlite(rc)};
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  if (mode_ == Mode::kShared) {
    // Before the WAL files exist: SQLite gives them the database's mode.
    ::chmod(file_.c_str(), 0644);
  }
  if (mode_ != Mode::kReadOnly) {
    // Switching to WAL needs a moment of exclusive access; several processes
    // opening a new hive together take turns.
    for (int attempt = 0;; ++attempt) {
      const int walRc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
      if (walRc == SQLITE_OK) break;
      if ((walRc & 0xFF) != SQLITE_BUSY || attempt + 1 >= kBusyAttempts) throw StoreError{Win32ErrorFromSqlite(walRc)};
    }
    // NORMAL: a commit is written to the WAL but not synced, which keeps the
    // store consistent through any crash and loses at most the changes not
    // yet flushed (Flush, and the lazy flush after a write) on a power loss.
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  }
  if (mode_ == Mode::kShared) {
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
  }
  if (mode_ != Mode::kReadOnly || absent) {
    Transaction(true, [this] {
      if (sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sqlite3_errcode(db_));
      Statement(*this,
                "INSERT OR IGNORE INTO keys(id, parent, name, folded, written) VALUES(1, 0, '', '', ?1)")
          .Bind(1, FileTimeNow())
          .Run();
    });
  }
  if (mode_ == Mode::kReadOnly) sqlite3_exec(db_, "PRAGMA query_only=ON", nullptr, nullptr, nullptr);
}

void Hive::EnsureOwnConnection() {
  if (ownerPid_ == ::getpid()) return;
  // Forked: the inherited connection and its statements stay with the parent
  // (never used or closed here, only kept reachable); this process opens its own.
  inheritedConnection_ = db_;
  Connect();
}

sqlite3_stmt* Hive::Prepare(const char* sql) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second;
  sqlite3_stmt* statement = nullptr;
  const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
  statements_.emplace(sql, statement);
  return statement;
}

void Hive::Transaction(bool write, const std::function<void()>& body) {
  for (int attempt = 0;; ++attempt) {
    try {
      // Prepared once like every other statement: parsing them anew took a
      // good part of a short read.
      const bool immediate = write && mode_ != Mode::kReadOnly;
      Statement(*this, immediate ? "BEGIN IMMEDIATE" : "BEGIN").Run();
      const std::int64_t changesBefore = sqlite3_total_changes64(db_);
      body();
      Statement(*this, "COMMIT").Run();
      if (sqlite3_total_changes64(db_) != changesBefore && !unflushed_) {
        unflushed_ = true;
        flushDue_ = true;
      }
      return;
    } catch (const BusySignal&) {
      if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      if (attempt + 1 >= kBusyAttempts) throw StoreError{static_cast<LONG>(ERROR_TIMEOUT)};
      std::this_thread::sleep_for(std::chrono::milliseconds(1 + attempt * 5));
    } catch (...) {
      if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }
}

void Hive::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  FlushLocked();
}

void Hive::FlushLocked() {
  if (!unflushed_ || ownerPid_ != ::getpid()) return;
  // A passive checkpoint syncs the WAL, copies it into the database file and
  // syncs that. It copies only what no reader of another process still needs
  // from the WAL, and syncs nothing when it can copy nothing at all; the WAL
  // is then synced here, which is as durable.
  int walFrames = 0;
  int copiedFrames = 0;
  const int rc = sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_PASSIVE, &walFrames, &copiedFrames);
  if (rc != SQLITE_OK || copiedFrames < walFrames) {
    sqlite3_file* wal = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_JOURNAL_POINTER, &wal) != SQLITE_OK || wal == nullptr ||
        wal->pMethods == nullptr) {
      throw StoreError{static_cast<LONG>(ERROR_REGISTRY_IO_FAILED)};
    }
    const int syncRc = wal->pMethods->xSync(wal, SQLITE_SYNC_NORMAL);
    if (syncRc != SQLITE_OK) throw StoreError{Win32ErrorFromSqlite(syncRc)};
  }
  unflushed_ = false;
}

void Hive::Read(const std::function<void()>& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  EnsureOwnConnection();
  Transaction(false, body);
}

void Hive::Write(const std::function<void()>& body) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    EnsureOwnConnection();
    Transaction(true, body);
    if (!std::exchange(flushDue_, false)) return;
  }
  LazyFlusher::Instance().Schedule(weak_from_this());
}

bool Hive::KeyExists(KeyId id) {
  Statement statement(*this, "SELECT 1 FROM keys WHERE id = ?1");
  return statement.Bind(1, id).Step();
}

std::optional<KeyId> Hive::FindChild(KeyId parent, std::string_view folded) {
  Statement statement(*this, "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
  statement.Bind(1, parent).BindText(2, folded);
  if (!statement.Step()) return std::nullopt;
  return statement.Int(0);
}

KeyId Hive::CreateChild(KeyId parent, std::string_view name, std::string_view folded, std::string_view className,
                        const std::optional<std::string>& security) {
  const std::int64_t now = FileTimeNow();
  {
    Statement statement(*this,
                        "INSERT INTO keys(parent, name, folded, class, security, written) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    statement.Bind(1, parent).BindText(2, name).BindText(3, folded).BindText(4, className).Bind(6, now);
    if (security) statement.BindBlob(5, *security);
    statement.Run();
  }
  const KeyId id = sqlite3_last_insert_rowid(db_);
  Touch(parent);
  return id;
}

bool Hive::HasSubkeys(KeyId id) {
  Statement statement(*this, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
  return statement.Bind(1, id).Step();
}

Hive::ChangeStamp Hive::CurrentStamp() {
  Statement statement(*this, "PRAGMA data_version");
  ChangeStamp stamp;
  if (statement.Step()) stamp.dataVersion = statement.Int(0);
  stamp.ownChanges = sqlite3_total_changes64(db_);
  return stamp;
}

template <typename List, typename Load>
List Hive::Cached(std::map<KeyId, CachedListing<List>>& cache, KeyId id, Load load) {
  // The stamp is taken before reading, so a listing is never older than its
  // stamp; a hit needs the stamp unchanged, so it is the current state.
  const ChangeStamp stamp = CurrentStamp();
  auto found = cache.find(id);
  if (found != cache.end() && found->second.stamp == stamp) return found->second.list;
  List list = load();
  if (cache.size() >= kCachedListings) cache.clear();
  cache[id] = CachedListing<List>{stamp, list};
  return list;
}

SubkeyList Hive::Subkeys(KeyId id) {
  return Cached(subkeyListings_, id, [&] {
    Statement statement(*this, "SELECT name, folded, class, written FROM keys WHERE parent = ?1 ORDER BY folded");
    statement.Bind(1, id);
    auto subkeys = std::make_shared<std::vector<SubkeyRecord>>();
    while (statement.Step()) {
      subkeys->push_back(SubkeyRecord{statement.Bytes(0), statement.Bytes(1), statement.Bytes(2), statement.Int(3)});
    }
    return SubkeyList(std::move(subkeys));
  });
}

KeyInfo Hive::Info(KeyId id) {
  Statement statement(*this, "SELECT class, written, security FROM keys WHERE id = ?1");
  statement.Bind(1, id);
  if (!statement.Step()) throw StoreError{static_cast<LONG>(ERROR_KEY_DELETED)};
  KeyInfo info{statement.Bytes(0), statement.Int(1), std::nullopt};
  if (!statement.IsNull(2)) info.security = statement.Bytes(2);
  return info;
}

void Hive::DeleteKey(KeyId id) {
  KeyId parent = 0;
  {
    Statement statement(*this, "SELECT parent FROM keys WHERE id = ?1");
    if (!statement.Bind(1, id).Step()) return;
    parent = statement.Int(0);
  }
  Statement(*this, "DELETE FROM vals WHERE key = ?1").Bind(1, id).Run();
  Statement(*this, "DELETE FROM keys WHERE id = ?1").Bind(1, id).Run();
  Touch(parent);
}

void Hive::DeleteTree(KeyId id, bool includeSelf) {
  // SQLite walks the recursive table with a queue, not the machine stack, so
  // a tree of any depth goes in one statement per table. UNION (not UNION
  // ALL) ends the walk even on a file whose parent links loop.
  static constexpr const char* kDeleteValuesBelow =
      "DELETE FROM vals WHERE key IN (WITH RECURSIVE below(id) AS ("
      "  SELECT id FROM keys WHERE parent = ?1"
      "  UNION SELECT keys.id FROM keys JOIN below ON keys.parent = below.id) SELECT id FROM below)";
  static constexpr const char* kDeleteKeysBelow =
      "DELETE FROM keys WHERE id IN (WITH RECURSIVE below(id) AS ("
      "  SELECT id FROM keys WHERE parent = ?1"
      "  UNION SELECT keys.id FROM keys JOIN below ON keys.parent = below.id) SELECT id FROM below)";
  Statement(*this, kDeleteValuesBelow).Bind(1, id).Run();
  Statement(*this, kDeleteKeysBelow).Bind(1, id).Run();
  if (includeSelf) {
    DeleteKey(id);
  } else {
    Statement(*this, "DELETE FROM vals WHERE key = ?1").Bind(1, id).Run();
    Touch(id);
  }
}

std::size_t Hive::Depth(KeyId id, std::size_t limit) {
  // Counted up the parent links; a file whose links loop (or simply go
  // deeper than anyone asks about) stops at limit + 1.
  std::size_t depth = 0;
  Statement statement(*this, "SELECT parent FROM keys WHERE id = ?1");
  while (id != kRootId && depth <= limit) {
    statement.Bind(1, id);
    if (!statement.Step()) break;
    id = statement.Int(0);
    statement.Reset();
    ++depth;
  }
  return depth;
}

void Hive::Touch(KeyId id) {
  Statement(*this, "UPDATE keys SET written = ?2 WHERE id = ?1").Bind(1, id).Bind(2, FileTimeNow()).Run();
}

void Hive::SetSecurity(KeyId id, std::string_view bytes) {
  Statement(*this, "UPDATE keys SET security = ?2 WHERE id = ?1").Bind(1, id).BindBlob(2, bytes).Run();
}

std::optional<ValueRecord> Hive::GetValue(KeyId key, std::string_view folded) {
  Statement statement(*this, "SELECT name, type, data FROM vals WHERE key = ?1 AND folded = ?2");
  statement.Bind(1, key).BindText(2, folded);
  if (!statement.Step()) return std::nullopt;
  return ValueRecord{statement.Bytes(0), static_cast<DWORD>(statement.Int(1)), statement.Bytes(2)};
}

ValueList Hive::Values(KeyId key) {
  return Cached(valueListings_, key, [&] {
    Statement statement(*this, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid");
    statement.Bind(1, key);
    auto values = std::make_shared<std::vector<ValueRecord>>();
    while (statement.Step()) {
      values->push_back(ValueRecord{statement.Bytes(0), static_cast<DWORD>(statement.Int(1)), statement.Bytes(2)});
    }
    return ValueList(std::move(values));
  });
}

void Hive::SetValue(KeyId key, std::string_view name, std::string_view folded, DWORD type, std::string_view data) {
  // An update keeps the row (and so the value's place in enumeration order and
  // the spelling of its name), as overwriting a value does on Windows.
  Statement(*this,
            "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
            "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data")
      .Bind(1, key)
      .BindText(2, name)
      .BindText(3, folded)
      .Bind(4, type)
      .BindBlob(5, data)
      .Run();
  Touch(key);
}

bool Hive::DeleteValue(KeyId key, std::string_view folded) {
  Statement(*this, "DELETE FROM vals WHERE key = ?1 AND folded = ?2").Bind(1, key).BindText(2, folded).Run();
  const bool deleted = sqlite3_changes(db_) > 0;
  if (deleted) Touch(key);
  return deleted;
}

}  // namespace kestnet::platform::registry_store
