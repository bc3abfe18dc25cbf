// The worker pool: every task runs once and is deleted, the counts, growth,
// waking on a finish, and both ways of stopping.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/ThreadPool.h"

namespace Orca {
namespace Base {
namespace {

// Bound for waits that only guard against a hang.
constexpr auto kHangGuard = std::chrono::seconds(60);

// True once `count` reaches `target`; false after kHangGuard.
bool ReachesAtLeast(const std::atomic<int>& count, int target) {
  const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
  while (count < target) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Life counts of the tasks of one test.
struct Counts {
  std::atomic<int> started{0};
  std::atomic<int> destroyed{0};
  std::atomic<int> running{0};
  std::atomic<int> most_running{0};
};

// Records its life in Counts and runs `body`.
class CountingTask : public CTask {
 public:
  explicit CountingTask(Counts& counts, std::function<void()> body = {})
      : counts_(counts), body_(std::move(body)) {}
  ~CountingTask() override { ++counts_.destroyed; }
  bool Run() override {
    const int now = ++counts_.running;
    int most = counts_.most_running.load();
    while (now > most && !counts_.most_running.compare_exchange_weak(most, now)) {
    }
    ++counts_.started;
    if (body_) body_();
    --counts_.running;
    return true;
  }

 private:
  Counts& counts_;
  std::function<void()> body_;
};

// A task that runs until `gate` is opened (set to 1).
CTask* Blocking(Counts& counts, const std::atomic<int>& gate) {
  return new CountingTask(counts, [&gate] { ReachesAtLeast(gate, 1); });
}

// WaitForTaskDone on a thread of its own, with a wait far beyond kHangGuard.
std::future<bool> WaitInBackground(const CMessageLoopDyThreadPool& pool, uint64_t seen) {
  return std::async(std::launch::async,
                    [&pool, seen] { return pool.WaitForTaskDone(seen, 600000); });
}

TEST(ThreadPoolTest, StartChecksItsArguments) {
  const struct {
    int min_threads, max_threads, grow_backlog;
    bool started;
  } cases[] = {
      {4, 4, 5, true},   {1, 8, 0, true},  {0, 4, 5, false},
      {-1, 4, 5, false}, {4, 2, 5, false}, {1, 1, -1, false},
  };
  for (const auto& c : cases) {
    CMessageLoopDyThreadPool pool;
    EXPECT_EQ(pool.Start(c.min_threads, c.max_threads, c.grow_backlog), c.started)
        << c.min_threads << "," << c.max_threads << "," << c.grow_backlog;
  }
  Counts counts;
  CMessageLoopDyThreadPool pool;
  EXPECT_FALSE(pool.PostTask(new CountingTask(counts)));  // before Start: deleted unrun
  EXPECT_EQ(counts.destroyed.load(), 1);
  ASSERT_TRUE(pool.Start(4, 4, 5));
  EXPECT_FALSE(pool.Start(4, 4, 5));
  pool.Stop(true);
  EXPECT_FALSE(pool.Start(4, 4, 5));
  EXPECT_EQ(counts.started.load(), 0);
}

// Several posters, throttled like the multipart upload: while more than five
// tasks are unfinished, wait for the next one to finish.
TEST(ThreadPoolTest, EveryTaskOfSeveralPostersRunsOnceAndIsDeleted) {
  constexpr size_t kPosters = 4;
  constexpr size_t kTasksEach = 300;
  constexpr size_t kTasks = kPosters * kTasksEach;
  Counts counts;
  std::vector<std::atomic<int>> runs(kTasks);
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(4, 4, 5));
  std::vector<std::thread> posters;
  for (size_t p = 0; p < kPosters; ++p) {
    posters.emplace_back([&, p] {
      for (size_t i = 0; i < kTasksEach; ++i) {
        std::atomic<int>& slot = runs[p * kTasksEach + i];
        uint64_t seen = pool.GetFinishedTaskCount();
        while (pool.GetWorkTaskCount() > 5) {
          pool.WaitForTaskDone(seen, 50);
          seen = pool.GetFinishedTaskCount();
        }
        EXPECT_TRUE(pool.PostTask(new CountingTask(counts, [&slot] { ++slot; })));
      }
    });
  }
  for (std::thread& poster : posters) poster.join();
  pool.Stop(true);
  EXPECT_EQ(pool.GetFinishedTaskCount(), kTasks);
  EXPECT_EQ(pool.GetWorkTaskCount(), 0);
  for (size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(runs[i].load(), 1) << "task " << i;
  EXPECT_EQ(counts.destroyed.load(), static_cast<int>(kTasks));
}

// Posting one blocking task at a time, each new one finds every worker busy
// and makes the pool grow, up to its maximum. A waiter wakes on the next
// finish, sees one that came before it waited, and wakes on Stop.
TEST(ThreadPoolTest, GrowsWhenEveryWorkerIsBusyAndWakesWaiters) {
  Counts counts;
  std::atomic<int> gate{0};
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 3, 0));
  EXPECT_FALSE(pool.WaitForTaskDone(pool.GetFinishedTaskCount(), 20));  // nothing finishes
  for (int i = 1; i <= 3; ++i) {
    pool.PostTask(Blocking(counts, gate));
    ASSERT_TRUE(ReachesAtLeast(counts.started, i)) << "task " << i << " never started";
  }
  pool.PostTask(Blocking(counts, gate));
  EXPECT_EQ(pool.GetWorkTaskCount(), 4);  // queued and running
  auto woken = WaitInBackground(pool, pool.GetFinishedTaskCount());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // most likely blocked by now
  gate = 1;
  ASSERT_EQ(woken.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_TRUE(woken.get());
  ASSERT_TRUE(ReachesAtLeast(counts.destroyed, 4));
  EXPECT_EQ(counts.most_running.load(), 3);

  const uint64_t seen = pool.GetFinishedTaskCount();
  pool.PostTask(new CountingTask(counts));
  ASSERT_TRUE(ReachesAtLeast(counts.destroyed, 5));
  EXPECT_TRUE(pool.WaitForTaskDone(seen, 600000));

  auto stopped = WaitInBackground(pool, pool.GetFinishedTaskCount());
  pool.Stop(false);
  ASSERT_EQ(stopped.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_FALSE(stopped.get());
}

// One worker runs a task until the queued tasks are deleted unrun; Stop(false)
// and the destructor still wait for it.
TEST(ThreadPoolTest, StopWithoutRunQueuedDropsQueuedTasksAndAwaitsTheRunningOne) {
  for (const bool by_destructor : {false, true}) {
    SCOPED_TRACE(by_destructor ? "destructor" : "Stop(false)");
    Counts running;
    Counts queued;
    {
      CMessageLoopDyThreadPool pool;
      ASSERT_TRUE(pool.Start(1, 1, 0));
      pool.PostTask(new CountingTask(running, [&queued] { ReachesAtLeast(queued.destroyed, 5); }));
      ASSERT_TRUE(ReachesAtLeast(running.started, 1));
      for (int i = 0; i < 5; ++i) pool.PostTask(new CountingTask(queued));
      EXPECT_EQ(pool.GetWorkTaskCount(), 6);
      if (!by_destructor) {
        pool.Stop(false);
        EXPECT_EQ(pool.GetWorkTaskCount(), 0);
      }
    }
    EXPECT_EQ(running.destroyed.load(), 1);
    EXPECT_EQ(queued.started.load(), 0);
    EXPECT_EQ(queued.destroyed.load(), 5);
  }
}

// A task that throws counts as finished and the worker carries on.
TEST(ThreadPoolTest, StopWithRunQueuedRunsQueuedTasksThenRefusesNewOnes) {
  Counts counts;
  Counts refused;
  std::atomic<int> gate{0};
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 1, 0));
  pool.PostTask(Blocking(counts, gate));
  pool.PostTask(new CountingTask(counts, [] { throw std::runtime_error("task failed"); }));
  for (int i = 0; i < 5; ++i) pool.PostTask(new CountingTask(counts));
  std::thread stopper([&pool] { pool.Stop(true); });
  while (pool.PostTask(new CountingTask(counts))) std::this_thread::yield();  // until stopping
  gate = 1;
  stopper.join();
  EXPECT_EQ(counts.started.load() + 1, counts.destroyed.load()) << "only the refused one unrun";
  EXPECT_GE(counts.started.load(), 7);
  EXPECT_EQ(pool.GetFinishedTaskCount(), static_cast<uint64_t>(counts.started.load()));
  EXPECT_EQ(pool.GetWorkTaskCount(), 0);
  EXPECT_FALSE(pool.PostTask(new CountingTask(refused)));
  EXPECT_FALSE(pool.PostTask(nullptr));
  EXPECT_EQ(refused.started.load(), 0);
  EXPECT_EQ(refused.destroyed.load(), 1);
  pool.Stop(true);  // idempotent
  pool.Stop(false);
}

}  // namespace
}  // namespace Base
}  // namespace Orca
