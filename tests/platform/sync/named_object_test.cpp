#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/os/home.h"
#include "platform/os/last_error.h"
#include "platform/os/security.h"
#include "platform/sync/event.h"
#include "platform/sync/mutex.h"
#include "platform/sync/mutex_object.h"
#include "platform/sync/named_objects.h"
#include "platform/sync/named_section.h"
#include "tests/platform/sync/isolated_home.h"
#include "tests/support/second_account.h"

namespace kestnet::testing {
namespace {

class NamedObjectTest : public IsolatedHome {
 protected:
  enum class Held { kOwnedMutex, kSetEvent };

  void TearDown() override {
    if (holderReady_ != nullptr) CloseHandle(holderReady_);
    IsolatedHome::TearDown();
  }

  // A child process that creates name as held, says so, and waits to be
  // killed. Returns once the object exists. The test keeps holding an object
  // of its own meanwhile: a forked child shares the parent's hold on the
  // object directory, which goes with the parent's last handle.
  pid_t ForkHolder(Held held, const wchar_t* name) {
    HANDLE ready = holderReady_ = CreateEventW(nullptr, TRUE, FALSE, L"holder ready");
    pid_t child = StartChild([held, name] {
      HANDLE object = held == Held::kOwnedMutex ? CreateMutexW(nullptr, TRUE, name)
                                                : CreateEventW(nullptr, TRUE, TRUE, name);
      HANDLE signal = OpenEventW(EVENT_ALL_ACCESS, FALSE, L"holder ready");
      if (object == nullptr || signal == nullptr) return 1;
      SetEvent(signal);
      for (;;) pause();
    });
    EXPECT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
    return child;
  }

  HANDLE holderReady_ = nullptr;
};

TEST_F(NamedObjectTest, CreatingAnExistingNameOpensItAndSaysSo) {
  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, L"Kest:Event\\One two");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  // The second creation asks for other settings; the existing event keeps its own.
  HANDLE second = CreateEventW(nullptr, FALSE, TRUE, L"Kest:Event\\One two");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
  SetEvent(first);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);  // still manual-reset
  HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, "Kest:Event\\One two");
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0);
  CloseHandle(first);
  CloseHandle(second);
  CloseHandle(opened);
}

TEST_F(NamedObjectTest, SessionPrefixesNameTheSameObject) {
  HANDLE plain = CreateMutexW(nullptr, FALSE, L"KEST_DNS_CACHE_MTX");
  HANDLE local = CreateMutexW(nullptr, FALSE, L"Local\\KEST_DNS_CACHE_MTX");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  HANDLE global = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"Global\\KEST_DNS_CACHE_MTX");
  EXPECT_NE(global, nullptr);
  CloseHandle(plain);
  CloseHandle(local);
  CloseHandle(global);
}

TEST_F(NamedObjectTest, NamesThatLookAlikeStayDistinct) {
  const wchar_t* names[] = {L"a:b", L"a\\b", L"a/b", L"a b", L"a%3Ab", L"A:B", L"a\u00e9b"};
  HANDLE handles[std::size(names)];
  for (std::size_t i = 0; i < std::size(names); ++i) {
    handles[i] = CreateEventW(nullptr, TRUE, FALSE, names[i]);
    ASSERT_NE(handles[i], nullptr) << i;
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << i;
  }
  for (HANDLE handle : handles) CloseHandle(handle);
}

TEST_F(NamedObjectTest, KindsShareOneNameSpace) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, L"shared name");
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, L"shared name"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"shared name"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(event);
}

TEST_F(NamedObjectTest, OpeningAMissingNameFails) {
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, L"nobody made this"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "nor this"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(NamedObjectTest, OverlongNamesAreRefusedAndLongOnesWork) {
  std::wstring tooLong(261, L'x');
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, tooLong.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  std::wstring longName(260, L':');  // encodes to far more than a file name may hold
  HANDLE a = CreateEventW(nullptr, TRUE, FALSE, longName.c_str());
  ASSERT_NE(a, nullptr);
  longName.back() = L';';
  HANDLE b = CreateEventW(nullptr, TRUE, FALSE, longName.c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // not confused with the first
  CloseHandle(a);
  CloseHandle(b);
}

TEST_F(NamedObjectTest, ObjectGoesWithItsLastHandleAndComesBackFresh) {
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, L"short lived");
  HANDLE copy = OpenEventW(EVENT_ALL_ACCESS, FALSE, L"short lived");
  CloseHandle(event);
  EXPECT_EQ(WaitForSingleObject(copy, 0), WAIT_OBJECT_0);  // alive through the other handle
  CloseHandle(copy);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, L"short lived"), nullptr);
  HANDLE fresh = CreateEventW(nullptr, TRUE, FALSE, L"short lived");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
  CloseHandle(fresh);
}

TEST_F(NamedObjectTest, ScopesOfDifferentHomesDoNotMeet) {
  HANDLE mine = CreateEventW(nullptr, TRUE, FALSE, L"scoped");
  std::string otherHome = Home() + "/other";
  ::setenv("KESTNET_HOME", otherHome.c_str(), 1);
  std::filesystem::create_directories(otherHome);
  std::string otherScope = platform::NamedObjectScope();
  EXPECT_NE(otherScope, Scope());
  HANDLE theirs = CreateEventW(nullptr, TRUE, FALSE, L"scoped");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(theirs);
  platform::RemoveNamedObjects(otherScope);
  ::setenv("KESTNET_HOME", Home().c_str(), 1);
  CloseHandle(mine);
}

mode_t ModeOf(const std::string& directory, const std::wstring& name) {
  struct stat info {};
  std::string path = directory + "/" + platform::EncodeObjectName(name);
  if (::stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 0777;
}

TEST_F(NamedObjectTest, AnObjectDirectoryPlantedAsASymbolicLinkIsRefused) {
  std::string directory = platform::AccountNamedObjectDirectory(Scope());
  std::string elsewhere = Home() + "/elsewhere";
  std::filesystem::create_directories(elsewhere);
  ASSERT_EQ(::symlink(elsewhere.c_str(), directory.c_str()), 0);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, L"planted"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
  ::unlink(directory.c_str());
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, L"planted");  // a real directory again
  EXPECT_NE(event, nullptr);
  CloseHandle(event);
}

TEST_F(NamedObjectTest, AnAccountDirectoryMadeByAnotherAccountIsRefused) {
  if (!CanActAsSecondAccount()) GTEST_SKIP() << "needs root to act as a second account";
  std::string directory = platform::AccountNamedObjectDirectory(Scope());
  EXPECT_EQ(WaitForChild(StartAsNobody([&] { return ::mkdir(directory.c_str(), 0700); })), 0);
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, L"squatted"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ::rmdir(directory.c_str());
}

SECURITY_ATTRIBUTES* EveryoneAttributes() {
  static SECURITY_DESCRIPTOR descriptor;
  static SECURITY_ATTRIBUTES everyone{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
  return &everyone;
}

// Another account holds the name machine-wide: this account's own mutex of
// that name is still a fresh one, free to take; and this account's own one,
// held, is not what the other account gets under the name.
TEST_F(NamedObjectTest, AnotherAccountCanNeitherSquatNorShareAnAccountsOwnObject) {
  if (!CanActAsSecondAccount()) GTEST_SKIP() << "needs root to act as a second account";
  Handshake handshake;
  pid_t planter = StartAsNobody([&] {
    HANDLE planted = CreateMutexW(EveryoneAttributes(), TRUE, L"KEST_DNS_CACHE_MTX");
    if (planted == nullptr) return 1;
    handshake.SignalReady();
    handshake.WaitToGo();
    ReleaseMutex(planted);
    CloseHandle(planted);
    HANDLE own = CreateMutexW(nullptr, FALSE, L"KEST_DNS_CACHE_MTX");
    bool fresh = own != nullptr && GetLastError() == ERROR_SUCCESS && WaitForSingleObject(own, 0) == WAIT_OBJECT_0;
    if (own != nullptr) ReleaseMutex(own);
    CloseHandle(own);
    return fresh ? 0 : 2;
  });
  handshake.KeepParentEnds();
  ASSERT_TRUE(handshake.WaitReady());
  HANDLE mine = CreateMutexW(nullptr, FALSE, L"Local\\KEST_DNS_CACHE_MTX");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
  handshake.LetGo();
  EXPECT_EQ(WaitForChild(planter), 0);
  ReleaseMutex(mine);
  CloseHandle(mine);
}

// A machine-wide mutex another account left unusable: its lock word names a
// thread that does not exist, or it is marked unrecoverable. The next waiter
// gets it as abandoned instead of waiting for ever.
enum class Damage { OwnerThatNeverExisted, NotRecoverable };

void DamageMutex(platform::MutexState* state, Damage damage) {
  pid_t gone = ::fork();
  if (gone == 0) {
    if (damage == Damage::NotRecoverable) pthread_mutex_lock(&state->lock);
    ::_exit(0);
  }
  ::waitpid(gone, nullptr, 0);
  if (damage == Damage::OwnerThatNeverExisted) {
    // What a hand writing the file leaves: an owner the kernel never saw.
    reinterpret_cast<std::atomic<std::uint32_t>*>(&state->lock)->store(static_cast<std::uint32_t>(gone));
  } else if (pthread_mutex_trylock(&state->lock) == EOWNERDEAD) {
    pthread_mutex_unlock(&state->lock);  // without pthread_mutex_consistent
  }
}

class DamagedMutexTest : public IsolatedHome, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedMutexTest, NextWaiterGetsItAsAbandoned) {
  if (!CanActAsSecondAccount()) GTEST_SKIP() << "needs root to act as a second account";
  Handshake handshake;
  pid_t planter = StartAsNobody([&] {
    HANDLE planted = CreateMutexW(EveryoneAttributes(), FALSE, L"ring lock");
    bool existed = false;
    auto section = platform::NamedSection::Acquire(L"ring lock", platform::NamedKind::Mutex, false, 0, 0666,
                                                   nullptr, &existed);
    if (planted == nullptr || !section) return 1;
    DamageMutex(static_cast<platform::MutexState*>(section->State()), GetParam());
    handshake.SignalReady();
    handshake.WaitToGo();
    section.reset();
    CloseHandle(planted);
    return 0;
  });
  handshake.KeepParentEnds();
  ASSERT_TRUE(handshake.WaitReady());
  HANDLE mutex = CreateMutexW(EveryoneAttributes(), FALSE, L"ring lock");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  // Bounded only so that the fault shows as a failure, not a hung test.
  EXPECT_EQ(WaitForSingleObject(mutex, 30000), WAIT_ABANDONED_0);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // and it works as a mutex again
  ReleaseMutex(mutex);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  handshake.LetGo();
  EXPECT_EQ(WaitForChild(planter), 0);
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedMutexTest,
                         ::testing::Values(Damage::OwnerThatNeverExisted, Damage::NotRecoverable),
                         [](const auto& test) -> std::string {
                           return test.param == Damage::NotRecoverable ? "NotRecoverable" : "OwnerThatNeverExisted";
                         });

TEST_F(NamedObjectTest, OnlyScopeTokensNameADirectory) {
  EXPECT_EQ(platform::NamedObjectDirectory("../etc"), "");
  EXPECT_FALSE(platform::RemoveNamedObjects("../etc"));
  EXPECT_FALSE(platform::RemoveNamedObjects(""));
  EXPECT_NE(platform::NamedObjectDirectory(Scope()), "");
}

TEST_F(NamedObjectTest, NullDaclMakesTheObjectOpenToEveryAccount) {
  mode_t savedMask = ::umask(077);
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
  SECURITY_ATTRIBUTES everyone{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
  HANDLE open = CreateMutexW(&everyone, FALSE, L"open to all");
  HANDLE closed = CreateMutexW(nullptr, FALSE, L"owner only");
  ::umask(savedMask);
  EXPECT_EQ(ModeOf(platform::NamedObjectDirectory(Scope()), L"open to all"), 0666u);
  EXPECT_EQ(ModeOf(platform::AccountNamedObjectDirectory(Scope()), L"owner only"), 0600u);
  CloseHandle(open);
  CloseHandle(closed);
}

TEST_F(NamedObjectTest, EventSetInAnotherProcessWakesAWaiter) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, L"cross process event");
  pid_t child = StartChild([] {
    HANDLE theirs = OpenEventW(EVENT_ALL_ACCESS, FALSE, L"cross process event");
    if (theirs == nullptr) return 1;
    Sleep(50);
    SetEvent(theirs);
    CloseHandle(theirs);
    return 0;
  });
  EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForChild(child), 0);
  CloseHandle(event);
}

TEST_F(NamedObjectTest, MutexOfAKilledProcessIsObtainedAsAbandoned) {
  pid_t child = ForkHolder(Held::kOwnedMutex, L"Global\\held mutex");
  HANDLE unsignalled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"Global\\held mutex");
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);

  // A waiter already asleep when the holder dies is woken with the news.
  std::atomic<DWORD> result{WAIT_FAILED};
  std::thread waiter([&] {
    HANDLE handles[2] = {unsignalled, mutex};
    result = WaitForMultipleObjects(2, handles, FALSE, 10000);
    if (result == WAIT_ABANDONED_0 + 1) ReleaseMutex(mutex);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ::kill(child, SIGKILL);
  EXPECT_EQ(WaitForChild(child), 128 + SIGKILL);
  waiter.join();
  EXPECT_EQ(result.load(), WAIT_ABANDONED_0 + 1);
  // Released normally, it is an ordinary mutex again.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
  CloseHandle(unsignalled);
}

TEST_F(NamedObjectTest, EveryWaiterGetsTheMutexOfAKilledProcessInTurn) {
  pid_t child = ForkHolder(Held::kOwnedMutex, L"contended mutex");
  HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"contended mutex");
  std::atomic<int> abandoned{0};
  std::atomic<int> obtained{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      DWORD result = WaitForSingleObject(mutex, 10000);
      if (result == WAIT_ABANDONED) ++abandoned;
      if (result == WAIT_OBJECT_0) ++obtained;
      if (result == WAIT_ABANDONED || result == WAIT_OBJECT_0) ReleaseMutex(mutex);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ::kill(child, SIGKILL);
  WaitForChild(child);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(abandoned.load(), 1);
  EXPECT_EQ(obtained.load(), 2);
  CloseHandle(mutex);
}

TEST_F(NamedObjectTest, KilledHolderDoesNotKeepTheObjectAlive) {
  pid_t child = ForkHolder(Held::kSetEvent, L"left behind");
  HANDLE event = OpenEventW(EVENT_ALL_ACCESS, FALSE, L"left behind");
  ASSERT_NE(event, nullptr);
  ::kill(child, SIGKILL);
  WaitForChild(child);
  CloseHandle(event);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, L"left behind"), nullptr);
}

TEST_F(NamedObjectTest, ObjectWhoseEveryHolderDiedIsGone) {
  pid_t child = ForkHolder(Held::kSetEvent, L"orphan");
  ::kill(child, SIGKILL);
  WaitForChild(child);
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, L"orphan"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  HANDLE fresh = CreateEventW(nullptr, TRUE, FALSE, L"orphan");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);  // not the dead process's signalled event
  CloseHandle(fresh);
}

TEST_F(NamedObjectTest, MutexReleasedInAnotherProcessWakesAWaiterPromptly) {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"taken");
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, L"go");
  pid_t child = StartChild([] {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"passed mutex");
    HANDLE taken = OpenEventW(EVENT_ALL_ACCESS, FALSE, L"taken");
    HANDLE release = OpenEventW(EVENT_ALL_ACCESS, FALSE, L"go");
    SetEvent(taken);
    WaitForSingleObject(release, INFINITE);
    int status = ReleaseMutex(mutex) ? 0 : 2;
    CloseHandle(mutex);
    return status;
  });
  ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"passed mutex");
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForChild(child), 0);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  CloseHandle(go);
  CloseHandle(ready);
}

TEST_F(NamedObjectTest, ForkedChildNeitherOwnsNorAbandonsTheParentsMutex) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"parent's mutex");
  DWORD parentThread = GetCurrentThreadId();
  pid_t child = StartChild([parentThread] {
    if (GetCurrentThreadId() == parentThread) return 1;
    HANDLE theirs = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"parent's mutex");
    if (theirs == nullptr) return 2;
    if (ReleaseMutex(theirs)) return 3;  // the child's thread is not the owner
    return WaitForSingleObject(theirs, 0) == WAIT_TIMEOUT ? 0 : 4;
  });
  EXPECT_EQ(WaitForChild(child), 0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  DWORD result = WAIT_FAILED;
  std::thread other([&] {
    result = WaitForSingleObject(mutex, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
  });
  other.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  CloseHandle(mutex);
}

}  // namespace
}  // namespace kestnet::testing
