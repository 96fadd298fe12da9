// KestMT::Mutex and AutoLockMutex: recursion, time-outs, abandonment, bound
// acquisition, named mutexes shared between processes.
#include "runtime/mutex.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/os/last_error.h"
#include "platform/os/security.h"
#include "platform/sync/wait.h"
#include "runtime/critical_section.h"
#include "runtime/event.h"
#include "runtime/exceptions.h"
#include "tests/runtime/kestmt_test_support.h"
#include "tests/support/second_account.h"

namespace {

using kestmt_test::LambdaThread;
using kestmt_test::TemporaryHomeTest;

class MutexTest : public TemporaryHomeTest {};

// Whether another OS thread can take the mutex within p_dwTimeout ms (it
// releases it again at once).
bool OtherThreadCanAcquire(KestMT::Mutex& p_mutex, DWORD p_dwTimeout) {
  bool bObtained = false;
  std::thread other([&] {
    bObtained = p_mutex.Acquire(p_dwTimeout);
    if (bObtained) {
      p_mutex.Release();
    }
  });
  other.join();
  return bObtained;
}

TEST_F(MutexTest, OwnerMayAcquireAgainAndOthersWaitUntilLastRelease) {
  KestMT::Mutex mutex;
  ASSERT_TRUE(mutex.Acquire(0));
  ASSERT_TRUE(mutex.Acquire(0));
  EXPECT_FALSE(OtherThreadCanAcquire(mutex, 10));
  mutex.Release();
  EXPECT_FALSE(OtherThreadCanAcquire(mutex, 0));
  mutex.Release();
  EXPECT_TRUE(OtherThreadCanAcquire(mutex, INFINITE));
}

TEST_F(MutexTest, MutexLeftByEndedOwnerIsAcquired) {
  KestMT::Mutex mutex;
  for (int round = 0; round < 2; ++round) {
    std::thread owner([&] { ASSERT_TRUE(mutex.Acquire(0)); });
    owner.join();
    if (round == 0) {
      EXPECT_TRUE(mutex.Acquire(INFINITE));
    } else {
      // The OS mutex itself reports the abandonment: the owner really held it.
      EXPECT_EQ(WaitForSingleObject(mutex.GetHandle(), 0), WAIT_ABANDONED_0);
    }
    mutex.Release();
  }
}

TEST_F(MutexTest, AcquisitionsBoundToAThreadOrNotAddUpToOneRecursion) {
  KestMT::Mutex mutex;
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    // Alone, then in a wait on the mutex, the thread and its yield event,
    // then alone again: three holds to give back.
    if (!mutex.Acquire(0) || !mutex.Acquire(INFINITE, &self) || !mutex.Acquire(0)) {
      return 1;
    }
    for (int held = 3; held > 0; --held) {
      if (OtherThreadCanAcquire(mutex, 0)) {
        return 2;
      }
      mutex.Release();
    }
    return OtherThreadCanAcquire(mutex, 0) ? 0 : 3;
  });
  ASSERT_TRUE(thread.Execute());
  ASSERT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(thread.GetExitCode(), 0u);
}

TEST_F(MutexTest, NextOwnerMayDestroyTheMutexWhileTheReleaseIsUnderway) {
  // The thread that takes a mutex may destroy it at once, even while the
  // thread that gave it up is still inside its release (a socket's mutex freed
  // by the thread that reaps the socket). A release that touches the mutex
  // after its unlock fails here under the sanitizers, when the next owner
  // slips in between.
  for (int round = 0; round < 200; ++round) {
    auto* mutex = new KestMT::Mutex();
    ASSERT_TRUE(mutex->Acquire(0));
    std::atomic<bool> waiting{false};
    std::thread nextOwner([&] {
      waiting.store(true);
      while (!mutex->Acquire(0)) {
      }
      mutex->Release();
      delete mutex;
    });
    while (!waiting.load()) {
    }
    mutex->Release();
    nextOwner.join();
  }
}

TEST_F(MutexTest, TwoThreadsTakingTurnsNeverHoldItTogether) {
  KestMT::Mutex mutex;
  constexpr int kRounds = 2000;
  int inside = 0;
  int entries = 0;
  bool overlapped = false;
  auto takeTurns = [&] {
    for (int round = 0; round < kRounds; ++round) {
      KestMT::AutoLockMutex lock(&mutex, INFINITE);
      overlapped |= ++inside != 1;
      ++entries;
      --inside;
    }
  };
  std::thread first(takeTurns);
  std::thread second(takeTurns);
  first.join();
  second.join();
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(entries, 2 * kRounds);
}

TEST_F(MutexTest, ReleaseByNonOwnerOnlyFailsQuietly) {
  KestMT::Mutex neverCreated;
  neverCreated.Release();  // no OS mutex yet: nothing to do

  KestMT::Mutex mutex;
  ASSERT_TRUE(mutex.Acquire(0));
  std::thread stranger([&] { mutex.Release(); });
  stranger.join();
  EXPECT_FALSE(OtherThreadCanAcquire(mutex, 0));
  mutex.Release();
}

TEST_F(MutexTest, AcquireBoundToAbortedThreadThrowsThreadAbort) {
  KestMT::Mutex mutex;
  ASSERT_TRUE(mutex.Acquire(0));
  std::promise<void> waiting;
  std::atomic<int> abortsSeen{0};
  std::atomic<int> acquired{0};
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    waiting.set_value();
    try {
      if (mutex.Acquire(INFINITE, &self)) {
        ++acquired;
      }
    } catch (const KestMT::ThreadAbortException&) {
      ++abortsSeen;
      throw;
    }
    return 0;
  });
  ASSERT_TRUE(thread.Execute());
  waiting.get_future().wait();
  thread.Abort(INFINITE);
  EXPECT_EQ(abortsSeen.load(), 1);
  EXPECT_EQ(acquired.load(), 0);
  EXPECT_EQ(thread.GetExitCode(), 1u);
  mutex.Release();
}

TEST_F(MutexTest, ConfigKeepsItsOwnCopyOfTheSecurityDescriptor) {
  KestMT::Mutex mutex;
  {
    SECURITY_DESCRIPTOR descriptor{};
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
    ASSERT_TRUE(mutex.Config("KestMT::Test::Secured", &attributes));
    // Overwrite the caller's descriptor: the mutex must not depend on it.
    descriptor = SECURITY_DESCRIPTOR{};
  }
  ASSERT_NE(mutex.GetHandle(), nullptr);
  EXPECT_FALSE(mutex.Config("KestMT::Test::Other", nullptr));
  EXPECT_TRUE(mutex.Acquire(0));
  mutex.Release();
}

TEST_F(MutexTest, ConfigRejectsInvalidSecurityDescriptor) {
  KestMT::Mutex mutex;
  SECURITY_DESCRIPTOR garbage{};
  garbage.Revision = 77;
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &garbage, FALSE};
  EXPECT_FALSE(mutex.Config("KestMT::Test::Garbage", &attributes));
  // The mutex still works, unnamed and without attributes.
  EXPECT_TRUE(mutex.Acquire(0));
  mutex.Release();
}

TEST_F(MutexTest, NamedMutexExcludesAnotherProcessUntilReleased) {
  KestMT::Mutex mutex;
  ASSERT_TRUE(mutex.Config("KestMT::Test::CrossProcess", nullptr));
  ASSERT_TRUE(mutex.Acquire(0));

  auto childCanAcquire = [](DWORD p_dwTimeout) {
    return kestnet::testing::WaitForChild(kestnet::testing::StartChild([p_dwTimeout] {
             KestMT::Mutex opened;
             opened.Config("KestMT::Test::CrossProcess", nullptr);
             const bool bObtained = opened.Acquire(p_dwTimeout);
             if (bObtained) opened.Release();
             return bObtained ? 0 : 1;
           })) == 0;
  };
  EXPECT_FALSE(childCanAcquire(20));
  mutex.Release();
  EXPECT_TRUE(childCanAcquire(INFINITE));
}

TEST_F(MutexTest, NamedMutexLeftByKilledProcessIsAcquired) {
  KestMT::Mutex mutex;
  ASSERT_TRUE(mutex.Config("KestMT::Test::Abandoned", nullptr));
  ASSERT_NE(mutex.GetHandle(), nullptr);
  kestnet::testing::Handshake handshake;
  const pid_t pid = kestnet::testing::StartChild([&handshake] {
    KestMT::Mutex opened;
    opened.Config("KestMT::Test::Abandoned", nullptr);
    if (!opened.Acquire(INFINITE)) return 1;
    handshake.SignalReady();
    for (;;) ::pause();  // killed while owning the mutex
  });
  handshake.KeepParentEnds();
  ASSERT_TRUE(handshake.WaitReady());
  EXPECT_FALSE(mutex.Acquire(0));
  ::kill(pid, SIGKILL);
  kestnet::testing::WaitForChild(pid);
  EXPECT_TRUE(mutex.Acquire(INFINITE));
  mutex.Release();
}

class AutoLockMutexTest : public TemporaryHomeTest {};

TEST_F(AutoLockMutexTest, HoldsTheMutexForItsScope) {
  KestMT::Mutex mutex;
  {
    KestMT::AutoLockMutex lock(&mutex, INFINITE);
    EXPECT_FALSE(OtherThreadCanAcquire(mutex, 0));
  }
  EXPECT_TRUE(OtherThreadCanAcquire(mutex, 0));
}

TEST_F(AutoLockMutexTest, TimeoutThrowsAutoLockTimeoutException) {
  KestMT::Mutex mutex;
  std::promise<void> held;
  std::promise<void> done;
  std::thread owner([&] {
    mutex.Acquire(INFINITE);
    held.set_value();
    done.get_future().wait();
    mutex.Release();
  });
  held.get_future().wait();
  EXPECT_THROW(KestMT::AutoLockMutex(&mutex, 10), KestMT::AutoLockTimeoutException);
  done.set_value();
  owner.join();
  // Nothing was left acquired by the failed lock.
  EXPECT_TRUE(OtherThreadCanAcquire(mutex, 0));
}

TEST_F(AutoLockMutexTest, NullMutexThrowsInvalidParameter) {
  EXPECT_THROW(KestMT::AutoLockMutex(nullptr, 0), KestBase::InvalidParameterException);
}

TEST_F(AutoLockMutexTest, BoundLockUnwindsOnAbort) {
  KestMT::Mutex mutex;
  ASSERT_TRUE(mutex.Acquire(0));
  std::promise<void> waiting;
  std::atomic<int> locksTaken{0};
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    waiting.set_value();
    KestMT::AutoLockMutex lock(&mutex, INFINITE, &self);
    ++locksTaken;
    return 0;
  });
  ASSERT_TRUE(thread.Execute());
  waiting.get_future().wait();
  thread.Abort(INFINITE);
  EXPECT_EQ(locksTaken.load(), 0);
  EXPECT_EQ(thread.GetExitCode(), 1u);
  mutex.Release();
  EXPECT_TRUE(OtherThreadCanAcquire(mutex, 0));
}

class CriticalSectionTest : public TemporaryHomeTest {};

TEST_F(CriticalSectionTest, OwnerReentersAndOthersWaitForLastLeave) {
  KestMT::CriticalSection section;
  ASSERT_TRUE(section.IsInitialized());
  std::atomic<int> otherEntered{0};
  std::promise<void> entered;
  std::thread other;
  {
    KestMT::AutoCriticalSection outer(&section);
    KestMT::AutoCriticalSection inner(&section);
    other = std::thread([&] {
      KestMT::AutoCriticalSection lock(&section);
      ++otherEntered;
      entered.set_value();
    });
    // Held (twice) by this thread: the other cannot have entered yet.
    std::this_thread::yield();
    EXPECT_EQ(otherEntered.load(), 0);
  }
  entered.get_future().wait();
  other.join();
  EXPECT_EQ(otherEntered.load(), 1);
}

TEST_F(CriticalSectionTest, NullSectionThrowsInvalidObject) {
  EXPECT_THROW(KestMT::AutoCriticalSection(nullptr), KestBase::InvalidObjectException);
}

}  // namespace
