// KestThreadManager<T>: keyed ownership, reaping of ended workers, abort.
#include "runtime/thread_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runtime/event.h"
#include "runtime/exceptions.h"
#include "tests/runtime/kestmt_test_support.h"

namespace {

using kestmt_test::TemporaryHomeTest;

// What the workers of one test report, shared with the test.
struct WorkerCounters {
  std::atomic<int> destroyed{0};
  std::atomic<int> aborted{0};
  std::atomic<int> started{0};
};

// A worker that waits (bound to itself) for its gate, then optionally runs an
// action (such as removing its own manager entry) and ends.
class GatedWorker : public KestMT::Thread {
 public:
  GatedWorker(WorkerCounters& counters, KestMT::Event& gate) : m_counters(counters), m_gate(gate) {}
  ~GatedWorker() override {
    try {
      Abort(kDestructorDeadlockTimeout);
    } catch (...) {
    }
    ++m_counters.destroyed;
  }

  // Run by the body after its gate opened, or when its wait was aborted.
  std::function<void()> onRelease;
  std::function<void()> onAbort;

  DWORD Run() override {
    ++m_counters.started;
    try {
      m_gate.Wait(INFINITE, this);
    } catch (const KestMT::ThreadAbortException&) {
      ++m_counters.aborted;
      if (onAbort) {
        onAbort();
      }
      throw;
    }
    if (onRelease) {
      onRelease();
    }
    return 0;
  }

 private:
  WorkerCounters& m_counters;
  KestMT::Event& m_gate;
};

class ThreadManagerTest : public TemporaryHomeTest {
 protected:
  GatedWorker* StartWorker() {
    auto* pWorker = new GatedWorker(m_counters, m_gate);
    EXPECT_TRUE(pWorker->Execute());
    return pWorker;
  }

  WorkerCounters m_counters;
  KestMT::Event m_gate;
};

TEST_F(ThreadManagerTest, AddThreadWithExistingKeyThrowsAndKeepsExistingThread) {
  KestThreadManager<GatedWorker> manager;
  GatedWorker* pFirst = StartWorker();
  manager.AddThread(L"host", pFirst);

  auto second = std::make_unique<GatedWorker>(m_counters, m_gate);
  EXPECT_THROW(manager.AddThread(L"host", second.get()), KestBase::InvalidParameterException);
  EXPECT_FALSE(manager.TryAddThread(L"host", second.get()));
  EXPECT_EQ(manager.GetThread(L"host"), pFirst);
  EXPECT_TRUE(pFirst->IsRunning());
  second.reset();  // still the caller's
  EXPECT_EQ(m_counters.destroyed.load(), 1);

  EXPECT_THROW(manager.AddThread(L"other", nullptr), KestBase::InvalidParameterException);
  EXPECT_FALSE(manager.HasThread(L"other"));

  m_gate.Set();
  manager.DeleteAllThreads();
  EXPECT_EQ(m_counters.destroyed.load(), 2);
  EXPECT_EQ(m_counters.aborted.load(), 0);
}

TEST_F(ThreadManagerTest, UnknownKeysAreLoggedOrRefused) {
  KestThreadManager<GatedWorker> manager;
  EXPECT_NO_THROW(manager.DeleteThread(L"nobody"));
  EXPECT_NO_THROW(manager.AbortThread(L"nobody"));
  EXPECT_NO_THROW(manager.DropThread(L"nobody"));
  EXPECT_FALSE(manager.HasThread(L"nobody"));
  EXPECT_THROW(manager.GetThread(L"nobody"), KestBase::InvalidParameterException);
}

TEST_F(ThreadManagerTest, DeletedThreadIsDestroyedByFirstOperationAfterItEndsNeverBefore) {
  KestThreadManager<GatedWorker> manager;
  GatedWorker* pWorker = StartWorker();
  manager.AddThread(L"host", pWorker);
  manager.DeleteThread(L"host");
  EXPECT_FALSE(manager.HasThread(L"host"));
  EXPECT_FALSE(manager.HasThread(L"host"));  // another reaping pass
  EXPECT_EQ(m_counters.destroyed.load(), 0);
  EXPECT_TRUE(pWorker->IsRunning());

  m_gate.Set();
  ASSERT_TRUE(pWorker->WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(m_counters.destroyed.load(), 0);
  EXPECT_FALSE(manager.HasThread(L"host"));
  EXPECT_EQ(m_counters.destroyed.load(), 1);
  EXPECT_EQ(m_counters.aborted.load(), 0);
}

TEST_F(ThreadManagerTest, KeyIsFreeForNewThreadAtOnceAfterDelete) {
  KestThreadManager<GatedWorker> manager;
  manager.AddThread(L"host", StartWorker());
  manager.DeleteThread(L"host");
  EXPECT_NO_THROW(manager.AddThread(L"host", StartWorker()));
  m_gate.Set();
  manager.DeleteAllThreads();
  EXPECT_EQ(m_counters.destroyed.load(), 2);
}

TEST_F(ThreadManagerTest, WorkerDeletingItsOwnEntryIsDestroyedAfterItEnds) {
  KestThreadManager<GatedWorker, std::string> manager;
  auto* pWorker = new GatedWorker(m_counters, m_gate);
  pWorker->onRelease = [&manager] { manager.DeleteThread("example.com"); };
  manager.AddThread("example.com", pWorker);
  ASSERT_TRUE(pWorker->Execute());

  m_gate.Set();
  ASSERT_TRUE(pWorker->WaitForThreadToEnd(INFINITE));
  EXPECT_EQ(m_counters.destroyed.load(), 0);
  EXPECT_FALSE(manager.HasThread("example.com"));
  EXPECT_EQ(m_counters.destroyed.load(), 1);
}

TEST_F(ThreadManagerTest, AbortThreadStopsWorkerAndKeepsEntryUntilDeleted) {
  KestThreadManager<GatedWorker> manager;
  GatedWorker* pWorker = StartWorker();
  manager.AddThread(L"host", pWorker);

  manager.AbortThread(L"host");
  EXPECT_EQ(m_counters.aborted.load(), 1);
  EXPECT_FALSE(pWorker->IsRunning());
  EXPECT_EQ(pWorker->GetExitCode(), 1u);
  EXPECT_TRUE(manager.HasThread(L"host"));
  EXPECT_EQ(m_counters.destroyed.load(), 0);

  manager.DeleteThread(L"host");
  EXPECT_FALSE(manager.HasThread(L"host"));
  EXPECT_EQ(m_counters.destroyed.load(), 1);
}

TEST_F(ThreadManagerTest, WorkerRemovingItsOwnEntryDuringAbortIsDestroyedOnce) {
  // An engine's worker reports the abort and deletes its own entry while the
  // caller is still inside AbortThread; the caller's DeleteThread then only logs.
  KestThreadManager<GatedWorker> manager;
  auto* pWorker = new GatedWorker(m_counters, m_gate);
  pWorker->onAbort = [&manager] { manager.DeleteThread(L"host"); };
  manager.AddThread(L"host", pWorker);
  ASSERT_TRUE(pWorker->Execute());

  manager.AbortThread(L"host");
  EXPECT_EQ(m_counters.aborted.load(), 1);
  EXPECT_FALSE(manager.HasThread(L"host"));
  EXPECT_EQ(m_counters.destroyed.load(), 1);
  manager.DeleteThread(L"host");
  EXPECT_EQ(m_counters.destroyed.load(), 1);
}

TEST_F(ThreadManagerTest, DeleteAllThreadsAbortsRunningAndDestroysEveryThread) {
  KestThreadManager<GatedWorker> manager;
  manager.AddThread(L"a", StartWorker());
  manager.AddThread(L"b", StartWorker());
  manager.AddThread(L"c", new GatedWorker(m_counters, m_gate));  // never started
  manager.AddThread(L"d", StartWorker());
  manager.DeleteThread(L"d");  // on the reap list, still running

  manager.DeleteAllThreads();
  EXPECT_EQ(m_counters.aborted.load(), 3);
  EXPECT_EQ(m_counters.destroyed.load(), 4);
  EXPECT_FALSE(manager.HasThread(L"a"));
}

TEST_F(ThreadManagerTest, DestructorDeletesEveryThread) {
  {
    KestThreadManager<GatedWorker> manager;
    manager.AddThread(L"a", StartWorker());
    manager.AddThread(L"b", StartWorker());
  }
  EXPECT_EQ(m_counters.aborted.load(), 2);
  EXPECT_EQ(m_counters.destroyed.load(), 2);
}

TEST_F(ThreadManagerTest, ConcurrentCallersKeepOneThreadPerKey) {
  // Several callers add, abort and delete workers under a few shared keys at
  // once; every worker ends up destroyed exactly once.
  KestThreadManager<GatedWorker> manager;
  constexpr int kCallers = 4;
  constexpr int kRounds = 25;
  std::atomic<int> added{0};
  std::vector<std::thread> callers;
  for (int caller = 0; caller < kCallers; ++caller) {
    callers.emplace_back([&, caller] {
      for (int round = 0; round < kRounds; ++round) {
        const std::wstring key = L"host" + std::to_wstring((caller + round) % 3);
        // Started before it is added: once added, another caller may delete
        // the key and the manager may reap a thread that is not running.
        auto* pWorker = new GatedWorker(m_counters, m_gate);
        pWorker->Execute();
        if (!manager.TryAddThread(key, pWorker)) {
          delete pWorker;  // the key is busy: still ours (its destructor aborts it)
          manager.AbortThread(key);
          manager.DeleteThread(key);
          continue;
        }
        ++added;
      }
    });
  }
  for (std::thread& caller : callers) {
    caller.join();
  }
  manager.DeleteAllThreads();
  // Rejected workers were destroyed by their callers, added ones by the manager.
  EXPECT_EQ(m_counters.destroyed.load(), kCallers * kRounds);
  EXPECT_GT(added.load(), 0);
}

}  // namespace
