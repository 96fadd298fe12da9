// KestMT::Thread: start, cooperative abort, forced end, and the waits bound to
// a thread.
#include "runtime/thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "platform/os/last_error.h"
#include "platform/sync/event.h"
#include "platform/sync/thread.h"
#include "platform/sync/wait.h"
#include "runtime/event.h"
#include "runtime/exceptions.h"
#include "tests/runtime/kestmt_test_support.h"

namespace {

using kestmt_test::LambdaThread;
using kestmt_test::TemporaryHomeTest;

class ThreadTest : public TemporaryHomeTest {};

TEST_F(ThreadTest, BodyReturnValueBecomesExitCodeAndThreadFinishes) {
  std::atomic<int> runs{0};
  LambdaThread thread([&](LambdaThread&) -> DWORD {
    ++runs;
    return 42;
  });
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_FALSE(thread.IsFinished());

  ASSERT_TRUE(thread.Execute());
  EXPECT_NE(thread.GetHandle(), nullptr);
  EXPECT_NE(thread.GetThreadId(), 0u);
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  // WaitForThreadToEnd returns on the handle; the flags were stored before.
  EXPECT_EQ(WaitForSingleObject(thread.GetHandle(), INFINITE), WAIT_OBJECT_0);
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_TRUE(thread.IsFinished());
  EXPECT_EQ(thread.GetExitCode(), 42u);
  EXPECT_EQ(runs.load(), 1);

  // A finished thread may be started again.
  ASSERT_TRUE(thread.Execute());
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(runs.load(), 2);
}

// Fills p_bytes of stack in frames of 16 KB, so that the compiler keeps them.
std::size_t UseStack(std::size_t p_bytes) {
  volatile unsigned char frame[16 * 1024];
  for (std::size_t i = 0; i < sizeof frame; i += 512) frame[i] = static_cast<unsigned char>(i);
  const std::size_t below = p_bytes > sizeof frame ? UseStack(p_bytes - sizeof frame) : 0;
  return below + frame[p_bytes % sizeof frame / 512 * 512];
}

TEST_F(ThreadTest, BodyRunsOnAStackOfTheWindowsDefaultSizeAndMayUseMostOfIt) {
  std::atomic<std::size_t> stackSize{0};
  LambdaThread thread([&](LambdaThread&) -> DWORD {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      std::size_t size = 0;
      pthread_attr_getstacksize(&attributes, &size);
      pthread_attr_destroy(&attributes);
      stackSize = size;
    }
    UseStack(KestMT::Thread::kStackSize * 3 / 4);
    return 7;
  });
  ASSERT_TRUE(thread.Execute());
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(thread.GetExitCode(), 7u);
  // The C library's thread-local storage comes on top; under a sanitizer it
  // can be most of a megabyte, never several.
  EXPECT_GE(stackSize.load(), std::size_t{KestMT::Thread::kStackSize});
  EXPECT_LT(stackSize.load(), std::size_t{4} * KestMT::Thread::kStackSize);
}

TEST_F(ThreadTest, ExecuteOnRunningThreadFailsAndLeavesItRunning) {
  KestMT::Event release;
  std::atomic<int> runs{0};
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    ++runs;
    release.Wait(INFINITE, &self);
    return 7;
  });
  ASSERT_TRUE(thread.Execute());
  const HANDLE hFirst = thread.GetHandle();
  const DWORD firstId = thread.GetThreadId();

  EXPECT_FALSE(thread.Execute());
  EXPECT_TRUE(thread.IsRunning());
  EXPECT_EQ(thread.GetHandle(), hFirst);
  EXPECT_EQ(thread.GetThreadId(), firstId);

  release.Set();
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(thread.GetExitCode(), 7u);
  EXPECT_EQ(runs.load(), 1);
}

TEST_F(ThreadTest, AbortEndsBodyBlockedInBoundInfiniteEventWaitWithExitCode1) {
  KestMT::Event never;
  std::promise<void> waiting;
  std::atomic<int> abortsSeen{0};
  std::atomic<int> waitsReturned{0};
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    waiting.set_value();
    try {
      never.Wait(INFINITE, &self);
      ++waitsReturned;
    } catch (const KestMT::ThreadAbortException&) {
      ++abortsSeen;
      throw;
    }
    return 0;
  });
  ASSERT_TRUE(thread.Execute());
  waiting.get_future().wait();

  EXPECT_NO_THROW(thread.Abort(INFINITE));
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_TRUE(thread.IsFinished());
  EXPECT_EQ(thread.GetExitCode(), KestMT::Thread::kUncaughtExceptionExitCode);
  EXPECT_EQ(abortsSeen.load(), 1);
  EXPECT_EQ(waitsReturned.load(), 0);
}

TEST_F(ThreadTest, BodyThatCatchesAnAbortIsStoppedByItsNextBoundWait) {
  KestMT::Event never;
  std::promise<void> waiting;
  std::atomic<int> abortsSeen{0};
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    waiting.set_value();
    for (int attempt = 0; attempt < 3; ++attempt) {
      try {
        never.Wait(INFINITE, &self);
      } catch (const KestMT::ThreadAbortException&) {
        ++abortsSeen;
      }
    }
    return 5;
  });
  ASSERT_TRUE(thread.Execute());
  waiting.get_future().wait();
  thread.Abort(INFINITE);
  // The yield event stays signalled, so every later bound wait throws at once.
  EXPECT_EQ(abortsSeen.load(), 3);
  EXPECT_EQ(thread.GetExitCode(), 5u);
}

// What an abandoned body shares with the test; it outlives the Thread object.
struct RunawayState {
  std::atomic<bool> stop{false};
  std::atomic<int> yieldAborts{0};
  std::promise<void> started;
  std::promise<void> osThreadGone;
};

// Signals when the OS thread has really ended: thread-local objects are
// destroyed after ThreadWrapper has returned.
struct ThreadExitProbe {
  std::shared_ptr<RunawayState> state;
  ~ThreadExitProbe() { state->osThreadGone.set_value(); }
};

DWORD RunawayBody(LambdaThread& self, const std::shared_ptr<RunawayState>& captured) {
  // Only locals from here on: the Thread object (and this lambda's captures)
  // may be destroyed while this body still runs.
  std::shared_ptr<RunawayState> state = captured;
  thread_local ThreadExitProbe probe{state};
  (void)self;
  state->started.set_value();
  while (!state->stop.load()) {
    std::this_thread::yield();
  }
  return 3;
}

TEST_F(ThreadTest, BodyThatNeverYieldsIsAbandonedWithDeadlockExceptionAndForcedExitCode) {
  auto state = std::make_shared<RunawayState>();
  std::future<void> started = state->started.get_future();
  std::future<void> gone = state->osThreadGone.get_future();
  auto thread =
      std::make_unique<LambdaThread>([state](LambdaThread& self) { return RunawayBody(self, state); });
  ASSERT_TRUE(thread->Execute());
  started.wait();

  EXPECT_THROW(thread->Abort(50), KestMT::ThreadDeadlockException);
  EXPECT_EQ(thread->GetExitCode(), KestMT::Thread::kForcedExitCode);
  EXPECT_FALSE(thread->IsRunning());
  EXPECT_TRUE(thread->IsFinished());
  // The handle of an abandoned thread is signalled, so waiting for it is over.
  EXPECT_TRUE(thread->WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(WaitForSingleObject(thread->GetHandle(), 0), WAIT_OBJECT_0);

  // The object goes while its body still runs; the body's end must not touch
  // freed memory (AddressSanitizer watches this).
  thread.reset();
  state->stop = true;
  gone.wait();
}

TEST_F(ThreadTest, LateEndOfAbandonedBodyKeepsForcedExitCode) {
  auto state = std::make_shared<RunawayState>();
  std::future<void> started = state->started.get_future();
  std::future<void> gone = state->osThreadGone.get_future();
  LambdaThread thread([state](LambdaThread& self) { return RunawayBody(self, state); });
  ASSERT_TRUE(thread.Execute());
  started.wait();
  EXPECT_THROW(thread.Abort(10), KestMT::ThreadDeadlockException);

  state->stop = true;
  gone.wait();
  EXPECT_EQ(thread.GetExitCode(), KestMT::Thread::kForcedExitCode);
  EXPECT_FALSE(thread.IsRunning());
}

TEST_F(ThreadTest, ExecuteAfterForcedEndRunsNewBodyWhileAbandonedOneKeepsItsAbort) {
  // The first run spins until told, then yields: its own abort must still
  // stop it even though the object has been started again meanwhile.
  auto first = std::make_shared<RunawayState>();
  std::future<void> firstStarted = first->started.get_future();
  std::future<void> firstGone = first->osThreadGone.get_future();
  std::atomic<int> runs{0};
  KestMT::Event secondRelease;
  std::promise<void> secondWaiting;
  LambdaThread thread([&, first](LambdaThread& self) -> DWORD {
    if (++runs == 1) {
      std::shared_ptr<RunawayState> state = first;
      thread_local ThreadExitProbe probe{state};
      state->started.set_value();
      while (!state->stop.load()) {
        std::this_thread::yield();
      }
      try {
        self.Yield();
      } catch (const KestMT::ThreadAbortException&) {
        ++state->yieldAborts;
        throw;
      }
      return 0;
    }
    secondWaiting.set_value();
    secondRelease.Wait(INFINITE, &self);
    return 9;
  });
  ASSERT_TRUE(thread.Execute());
  firstStarted.wait();
  EXPECT_THROW(thread.Abort(10), KestMT::ThreadDeadlockException);
  const HANDLE hFirst = thread.GetHandle();

  ASSERT_TRUE(thread.Execute());
  secondWaiting.get_future().wait();
  EXPECT_NE(thread.GetHandle(), hFirst);
  EXPECT_TRUE(thread.IsRunning());

  first->stop = true;
  firstGone.wait();
  EXPECT_EQ(first->yieldAborts.load(), 1);
  // The new run was not disturbed by the old body's end.
  EXPECT_TRUE(thread.IsRunning());

  secondRelease.Set();
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(thread.GetExitCode(), 9u);
  EXPECT_EQ(runs.load(), 2);
}

TEST_F(ThreadTest, YieldThrowsAtOnceWhenAbortIsRequested) {
  std::atomic<int> yieldsBeforeAbort{0};
  std::atomic<int> yieldAborts{0};
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    self.Yield();
    ++yieldsBeforeAbort;
    // From its own body Abort only requests the stop.
    self.Abort(INFINITE);
    try {
      self.Yield();
    } catch (const KestMT::ThreadAbortException&) {
      ++yieldAborts;
    }
    try {
      self.Sleep(0);
    } catch (const KestMT::ThreadAbortException&) {
      ++yieldAborts;
    }
    return 11;
  });
  ASSERT_TRUE(thread.Execute());
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(yieldsBeforeAbort.load(), 1);
  EXPECT_EQ(yieldAborts.load(), 2);
  EXPECT_EQ(thread.GetExitCode(), 11u);
}

TEST_F(ThreadTest, AbortCutsLongSleepShort) {
  std::promise<void> sleeping;
  std::atomic<int> sleepsCompleted{0};
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    sleeping.set_value();
    self.Sleep(INFINITE);
    ++sleepsCompleted;
    return 0;
  });
  ASSERT_TRUE(thread.Execute());
  sleeping.get_future().wait();
  thread.Abort(INFINITE);
  EXPECT_EQ(sleepsCompleted.load(), 0);
  EXPECT_EQ(thread.GetExitCode(), 1u);
}

TEST_F(ThreadTest, WaitForThreadToEndOnThreadNotRunningReturnsTrueAtOnce) {
  LambdaThread neverStarted([](LambdaThread&) -> DWORD { return 0; });
  KestMT::Event unused;
  // Not running: neither the event nor the unstarted bound thread is looked at.
  EXPECT_TRUE(neverStarted.WaitForThreadToEnd(INFINITE, &unused, &neverStarted));
  EXPECT_TRUE(neverStarted.WaitForThreadToEnd(0));
}

TEST_F(ThreadTest, WaitForThreadToEndReportsTimeoutAbortEventAndBadBinding) {
  KestMT::Event release;
  LambdaThread worker([&](LambdaThread& self) -> DWORD {
    release.Wait(INFINITE, &self);
    return 0;
  });
  ASSERT_TRUE(worker.Execute());

  EXPECT_FALSE(worker.WaitForThreadToEnd(10));

  KestMT::Event abortEvent;
  ASSERT_TRUE(abortEvent.Set());
  EXPECT_THROW(worker.WaitForThreadToEnd(INFINITE, &abortEvent), KestMT::ThreadAbortException);

  LambdaThread unstarted([](LambdaThread&) -> DWORD { return 0; });
  EXPECT_THROW(worker.WaitForThreadToEnd(INFINITE, nullptr, &unstarted), KestBase::InvalidOperationException);

  release.Set();
  EXPECT_TRUE(worker.WaitForThreadToEnd(INFINITE));
}

TEST_F(ThreadTest, WaitForOwnEndFromBodyIsRefusedInsteadOfHanging) {
  std::atomic<int> refusals{0};
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    try {
      self.WaitForThreadToEnd(INFINITE);
    } catch (const KestBase::InvalidOperationException&) {
      ++refusals;
    }
    return 6;
  });
  ASSERT_TRUE(thread.Execute());
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(refusals.load(), 1);
  EXPECT_EQ(thread.GetExitCode(), 6u);
}

TEST_F(ThreadTest, WaitForThreadToEndBoundToAbortedWaiterThrowsInsideIt) {
  KestMT::Event release;
  LambdaThread target([&](LambdaThread& self) -> DWORD {
    release.Wait(INFINITE, &self);
    return 0;
  });
  std::promise<void> waiting;
  std::atomic<int> abortsSeen{0};
  LambdaThread waiter([&](LambdaThread& self) -> DWORD {
    waiting.set_value();
    try {
      target.WaitForThreadToEnd(INFINITE, nullptr, &self);
    } catch (const KestMT::ThreadAbortException&) {
      ++abortsSeen;
    }
    return 4;
  });
  ASSERT_TRUE(target.Execute());
  ASSERT_TRUE(waiter.Execute());
  waiting.get_future().wait();
  waiter.Abort(INFINITE);
  EXPECT_EQ(abortsSeen.load(), 1);
  EXPECT_EQ(waiter.GetExitCode(), 4u);
  EXPECT_TRUE(target.IsRunning());

  release.Set();
  EXPECT_TRUE(target.WaitForThreadToEnd(INFINITE));
}

struct EscapingException {
  const char* name;
  std::function<void()> raise;
};

class ThreadEscapeTest : public TemporaryHomeTest, public ::testing::WithParamInterface<EscapingException> {};

TEST_P(ThreadEscapeTest, ExceptionEscapingBodyIsSwallowedWithExitCode1) {
  std::function<void()> raise = GetParam().raise;
  LambdaThread thread([raise](LambdaThread&) -> DWORD {
    raise();
    return 0;
  });
  ASSERT_TRUE(thread.Execute());
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(thread.GetExitCode(), 1u);
  EXPECT_TRUE(thread.IsFinished());
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, ThreadEscapeTest,
    ::testing::Values(EscapingException{"Abort", [] { throw KestMT::ThreadAbortException(); }},
                      EscapingException{"Deadlock", [] { throw KestMT::ThreadDeadlockException(); }},
                      EscapingException{"KestBase", [] { throw KestBase::InvalidParameterException(); }},
                      EscapingException{"Standard", [] { throw std::runtime_error("body failed"); }},
                      EscapingException{"NonException", [] { throw 17; }}),
    [](const ::testing::TestParamInfo<EscapingException>& paramInfo) {
      return std::string(paramInfo.param.name);
    });

TEST_F(ThreadTest, BodyLeavingByExitThreadIsRecordedAsEnded) {
  std::atomic<int> returnsAfterExit{0};
  LambdaThread thread([&](LambdaThread&) -> DWORD {
    ExitThread(5);
    ++returnsAfterExit;
    return 0;
  });
  ASSERT_TRUE(thread.Execute());
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_TRUE(thread.IsFinished());
  EXPECT_EQ(thread.GetExitCode(), KestMT::Thread::kUncaughtExceptionExitCode);
  DWORD osExitCode = 0;
  ASSERT_TRUE(GetExitCodeThread(thread.GetHandle(), &osExitCode));
  EXPECT_EQ(osExitCode, 5u);
  EXPECT_EQ(returnsAfterExit.load(), 0);
}

// Destroys itself from its own body, as a fire-and-forget worker may.
class SelfDestroyingWorker : public KestMT::Thread {
 public:
  explicit SelfDestroyingWorker(std::shared_ptr<RunawayState> state) : m_state(std::move(state)) {}
  DWORD Run() override {
    std::shared_ptr<RunawayState> state = m_state;
    thread_local ThreadExitProbe probe{state};
    delete this;  // the destructor's abort only requests: it cannot wait for itself
    state->started.set_value();
    return 0;
  }

 private:
  std::shared_ptr<RunawayState> m_state;
};

TEST_F(ThreadTest, BodyMayDestroyItsOwnObject) {
  auto state = std::make_shared<RunawayState>();
  std::future<void> deleted = state->started.get_future();
  std::future<void> gone = state->osThreadGone.get_future();
  ASSERT_TRUE((new SelfDestroyingWorker(state))->Execute());
  deleted.wait();
  // ThreadWrapper records the end in the run state, never in the freed object.
  gone.wait();
}

TEST_F(ThreadTest, SuspendIsRefusedOnLinuxAndLeavesThreadRunning) {
  LambdaThread idle([](LambdaThread&) -> DWORD { return 0; });
  // Already in the requested state: nothing to do.
  EXPECT_TRUE(idle.Resume());

  KestMT::Event release;
  LambdaThread thread([&](LambdaThread& self) -> DWORD {
    release.Wait(INFINITE, &self);
    return 2;
  });
  ASSERT_TRUE(thread.Execute());
  EXPECT_FALSE(thread.Suspend());
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_FALSE(thread.IsSuspended());
  release.Set();
  EXPECT_TRUE(thread.WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(thread.GetExitCode(), 2u);
}

TEST_F(ThreadTest, DestroyingObjectAbortsItsRunningBody) {
  KestMT::Event never;
  std::promise<void> waiting;
  std::atomic<int> abortsSeen{0};
  auto thread = std::make_unique<LambdaThread>([&](LambdaThread& self) -> DWORD {
    waiting.set_value();
    try {
      never.Wait(INFINITE, &self);
    } catch (const KestMT::ThreadAbortException&) {
      ++abortsSeen;
      throw;
    }
    return 0;
  });
  ASSERT_TRUE(thread->Execute());
  waiting.get_future().wait();
  HANDLE hCopy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread->GetHandle(), GetCurrentProcess(), &hCopy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  thread.reset();
  EXPECT_EQ(abortsSeen.load(), 1);
  EXPECT_EQ(WaitForSingleObject(hCopy, INFINITE), WAIT_OBJECT_0);
  CloseHandle(hCopy);
}

}  // namespace
