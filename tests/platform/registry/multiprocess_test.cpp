// Several processes on one store: no lost writes, and a writer killed in the
// middle of its work leaves the store whole.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/registry/registry_fixture.h"
#include "tests/support/second_account.h"

namespace kestnet::platform::testing {
namespace {

using MultiProcessTest = RegistryTest;

constexpr int kWriters = 4;
constexpr int kValuesPerWriter = 200;
constexpr int kIncrementsPerWriter = 50;

// The child's whole life: returns its exit status (0 when every call succeeded).
int WriteDistinctValuesAndIncrement(HKEY shared, int writer) {
  for (int i = 0; i < kValuesPerWriter; ++i) {
    const std::wstring name = L"w" + std::to_wstring(writer) + L"-" + std::to_wstring(i);
    const DWORD value = static_cast<DWORD>(writer * 1000 + i);
    if (RegSetValueExW(shared, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) !=
        ERROR_SUCCESS) {
      return 1;
    }
    if (i % (kValuesPerWriter / kIncrementsPerWriter) == 0 &&
        RegAddToQwordValueW(shared, L"counter", 1, nullptr) != ERROR_SUCCESS) {
      return 2;
    }
  }
  return 0;
}

TEST_F(MultiProcessTest, ConcurrentWritersLoseNoValueAndNoIncrement) {
  // The parent uses the store before forking, so the children start with an
  // inherited connection that they must not share.
  HKEY shared = Create(HKEY_LOCAL_MACHINE, L"Software\\Shared");
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    children.push_back(kestnet::testing::StartChild([=] { return WriteDistinctValuesAndIncrement(shared, writer); }));
  }
  for (const pid_t pid : children) EXPECT_EQ(kestnet::testing::WaitForChild(pid), 0);

  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(shared, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>(kWriters * kValuesPerWriter + 1));
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int i = 0; i < kValuesPerWriter; i += 37) {
      const std::wstring name = L"W" + std::to_wstring(writer) + L"-" + std::to_wstring(i);
      DWORD value = 0;
      DWORD size = sizeof value;
      ASSERT_EQ(RegQueryValueExW(shared, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
                ERROR_SUCCESS);
      EXPECT_EQ(value, static_cast<DWORD>(writer * 1000 + i));
    }
  }
  ULONGLONG counter = 0;
  DWORD size = sizeof counter;
  ASSERT_EQ(RegQueryValueExW(shared, L"counter", nullptr, nullptr, reinterpret_cast<BYTE*>(&counter), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(counter, static_cast<ULONGLONG>(kWriters * kIncrementsPerWriter));
}

TEST_F(MultiProcessTest, ThreadsOfOneProcessShareHandlesAndHivesSafely) {
  HKEY shared = Create(HKEY_CURRENT_USER, L"Software\\Threads");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int writer = 0; writer < kWriters; ++writer) {
    threads.emplace_back([&, writer] {
      for (int i = 0; i < 50; ++i) {
        // Each thread also opens and closes its own handles meanwhile.
        HKEY own = nullptr;
        const std::wstring path = L"Software\\Threads\\T" + std::to_wstring(writer);
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &own, nullptr) !=
            ERROR_SUCCESS) {
          ++failures;
          continue;
        }
        const DWORD value = static_cast<DWORD>(i);
        const std::wstring name = L"v" + std::to_wstring(writer) + L"-" + std::to_wstring(i);
        if (RegSetValueExW(shared, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) !=
                ERROR_SUCCESS ||
            RegAddToQwordValueW(own, L"n", 1, nullptr) != ERROR_SUCCESS ||
            RegAddToQwordValueW(shared, L"total", 1, nullptr) != ERROR_SUCCESS) {
          ++failures;
        }
        RegCloseKey(own);
      }
    });
  }
  // A reader enumerates while the writers write.
  threads.emplace_back([&] {
    for (int pass = 0; pass < 20; ++pass) {
      wchar_t name[64];
      for (DWORD index = 0;; ++index) {
        DWORD length = 64;
        const LONG rc = RegEnumValueW(shared, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == static_cast<LONG>(ERROR_NO_MORE_ITEMS)) break;
        if (rc != ERROR_SUCCESS) {
          ++failures;
          break;
        }
      }
    }
  });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  DWORD values = 0;
  DWORD subkeys = 0;
  ASSERT_EQ(RegQueryInfoKeyW(shared, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>(kWriters * 50 + 1));
  EXPECT_EQ(subkeys, static_cast<DWORD>(kWriters));
  ULONGLONG total = 0;
  DWORD size = sizeof total;
  ASSERT_EQ(RegQueryValueExW(shared, L"total", nullptr, nullptr, reinterpret_cast<BYTE*>(&total), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(total, static_cast<ULONGLONG>(kWriters * 50));
}

// Enumeration by index reuses the key's last listing while nothing changed;
// a change by another process (or this one) must show at the next call.
TEST_F(MultiProcessTest, ListingsShowAnotherProcessesChangeAtTheNextCall) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, L"Software\\Listed");
  Create(key, L"First");
  SetDword(key, L"one", 1);
  EXPECT_EQ(SubkeyNames(key), std::vector<std::wstring>{L"First"});
  EXPECT_EQ(ValueNames(key), std::vector<std::wstring>{L"one"});

  const pid_t pid = kestnet::testing::StartChild([key] {
    HKEY created = nullptr;
    const DWORD value = 2;
    const bool ok =
        RegCreateKeyExW(key, L"Second", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr) == ERROR_SUCCESS &&
        RegSetValueExW(key, L"two", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
            ERROR_SUCCESS &&
        RegDeleteValueW(key, L"one") == ERROR_SUCCESS;
    return ok ? 0 : 1;
  });
  ASSERT_EQ(kestnet::testing::WaitForChild(pid), 0);
  EXPECT_EQ(SubkeyNames(key), (std::vector<std::wstring>{L"First", L"Second"}));
  EXPECT_EQ(ValueNames(key), std::vector<std::wstring>{L"two"});

  ASSERT_EQ(RegDeleteKeyW(key, L"First"), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(key), std::vector<std::wstring>{L"Second"});
}

std::string IntegrityCheck(const std::string& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "cannot open";
  }
  std::string result;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      result += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return result;
}

// Values of that (case-folded) name in the database file alone, read from a
// copy without its WAL: a flushed change is there whatever becomes of the WAL.
int ValuesInDatabaseFileAlone(const std::string& file, const std::string& folded) {
  const std::string copy = file + ".alone";
  std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
  sqlite3* db = nullptr;
  int count = -1;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT count(*) FROM vals WHERE folded = ?1", -1, &statement, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(statement, 1, folded.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(statement) == SQLITE_ROW) count = sqlite3_column_int(statement, 0);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  std::filesystem::remove(copy);
  return count;
}

// Commits are not synced one by one; RegFlushKey and the end of a process
// flush whatever was written before them.
TEST_F(MultiProcessTest, FlushKeyAndProcessExitPutEveryWriteIntoTheDatabaseFile) {
  HKEY key = Create(HKEY_CURRENT_USER, L"Software\\Flushed");
  const std::string file = home_ + "/user/registry.sqlite3";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const DWORD value = 1;
    std::exit(RegSetValueExW(key, L"Exited", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
                      ERROR_SUCCESS
                  ? 0
                  : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ValuesInDatabaseFileAlone(file, "exited"), 1);

  SetDword(key, L"Flushed", 1);
  ASSERT_EQ(RegFlushKey(key), ERROR_SUCCESS);
  EXPECT_EQ(ValuesInDatabaseFileAlone(file, "flushed"), 1);
}

TEST_F(MultiProcessTest, WriterKilledMidSeriesLeavesEveryCompletedWriteAndAWholeStore) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, L"Software\\Killed");
  int progress[2];
  ASSERT_EQ(::pipe(progress), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(progress[0]);
    // Each value carries a payload large enough that the kill is likely to
    // land inside a transaction; every completed write is reported.
    const std::vector<BYTE> payload(4096, 0x5A);
    for (DWORD i = 0;; ++i) {
      const std::wstring name = L"v" + std::to_wstring(i);
      if (RegSetValueExW(key, name.c_str(), 0, REG_BINARY, payload.data(), static_cast<DWORD>(payload.size())) !=
          ERROR_SUCCESS) {
        ::_exit(1);
      }
      if (::write(progress[1], &i, sizeof i) != static_cast<ssize_t>(sizeof i)) ::_exit(2);
    }
  }
  ::close(progress[1]);
  DWORD lastCompleted = 0;
  for (int reports = 0; reports < 150; ++reports) {
    ASSERT_EQ(::read(progress[0], &lastCompleted, sizeof lastCompleted), static_cast<ssize_t>(sizeof lastCompleted));
  }
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status));
  // Reports still in the pipe are writes that completed too.
  for (DWORD more = 0; ::read(progress[0], &more, sizeof more) == static_cast<ssize_t>(sizeof more);) {
    lastCompleted = more;
  }
  ::close(progress[0]);

  EXPECT_EQ(IntegrityCheck(home_ + "/machine/registry.sqlite3"), "ok");
  for (DWORD i = 0; i <= lastCompleted; ++i) {
    const std::wstring name = L"v" + std::to_wstring(i);
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size), ERROR_SUCCESS) << i;
    EXPECT_EQ(size, 4096u);
  }
  // And the store takes writes again.
  SetDword(key, L"after", 1);
}

}  // namespace
}  // namespace kestnet::platform::testing
