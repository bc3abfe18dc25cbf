#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/ThreadPool.h"

namespace Orca {
namespace Base {
namespace {

// Bound for waits that only guard against a hang.
constexpr auto kHangGuard = std::chrono::seconds(60);

// A counter that threads can wait on.
class Tally {
 public:
  void Add() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++value_;
    changed_.notify_all();
  }
  int Value() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_;
  }
  // True once the value reaches `target`; false after kHangGuard.
  bool WaitFor(int target) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kHangGuard, [&] { return value_ >= target; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  int value_ = 0;
};

// Life counts of the tasks of one test.
struct Counts {
  Tally constructed;
  Tally started;
  Tally finished;
  Tally destroyed;
  std::atomic<int> running{0};
  std::atomic<int> most_running{0};
};

// A task that records its life in Counts, runs `body` and may hold a gate.
class CountingTask : public CTask {
 public:
  explicit CountingTask(Counts& counts, std::function<void()> body = {},
                        std::function<void()> on_destroy = {})
      : counts_(counts), body_(std::move(body)), on_destroy_(std::move(on_destroy)) {
    counts_.constructed.Add();
  }
  ~CountingTask() override {
    if (on_destroy_) {
      on_destroy_();
    }
    counts_.destroyed.Add();
  }
  bool Run() override {
    const int now = ++counts_.running;
    int most = counts_.most_running.load();
    while (now > most && !counts_.most_running.compare_exchange_weak(most, now)) {
    }
    counts_.started.Add();
    if (body_) {
      body_();
    }
    --counts_.running;
    counts_.finished.Add();
    return true;
  }

 private:
  Counts& counts_;
  std::function<void()> body_;
  std::function<void()> on_destroy_;
};

class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

class NoopTask : public CTask {
 public:
  bool Run() override { return true; }
};

// True once `pool` has finished `target` tasks; false after kHangGuard.
bool WaitForFinished(const CMessageLoopDyThreadPool& pool, uint64_t target) {
  const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
  uint64_t seen = pool.GetFinishedTaskCount();
  while (seen < target && std::chrono::steady_clock::now() < deadline) {
    pool.WaitForTaskDone(seen, 1000);
    seen = pool.GetFinishedTaskCount();
  }
  return seen >= target;
}

// Calls WaitForTaskDone on its own thread with a wait twice the hang guard,
// so that returning within the guard means it was woken.
class Waiter {
 public:
  Waiter(const CMessageLoopDyThreadPool& pool, uint64_t seen)
      : thread_([this, &pool, seen] {
          const auto wait_ms =
              std::chrono::duration_cast<std::chrono::milliseconds>(2 * kHangGuard);
          done_.set_value(pool.WaitForTaskDone(seen, static_cast<uint32_t>(wait_ms.count())));
        }) {}
  ~Waiter() { thread_.join(); }

  // True when WaitForTaskDone returned within the hang guard.
  bool Returned() { return result_.wait_for(kHangGuard) == std::future_status::ready; }
  // What WaitForTaskDone returned.
  bool Result() { return result_.get(); }

 private:
  std::promise<bool> done_;
  std::future<bool> result_ = done_.get_future();
  std::thread thread_;
};

// Blocks until `pool` refuses tasks, i.e. until a Stop has begun.
void WaitUntilStopping(CMessageLoopDyThreadPool& pool) {
  while (pool.PostTask(new NoopTask)) {
    std::this_thread::yield();
  }
}

TEST(ThreadPoolTest, StartChecksItsArguments) {
  struct Case {
    int min_threads, max_threads, grow_backlog;
    bool started;
  };
  const Case cases[] = {
      {4, 4, 5, true},   {1, 8, 0, true},  {0, 4, 5, false},
      {-1, 4, 5, false}, {4, 2, 5, false}, {1, 1, -1, false},
  };
  for (const Case& c : cases) {
    CMessageLoopDyThreadPool pool;
    EXPECT_EQ(pool.Start(c.min_threads, c.max_threads, c.grow_backlog), c.started)
        << c.min_threads << "," << c.max_threads << "," << c.grow_backlog;
  }
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(4, 4, 5));
  EXPECT_FALSE(pool.Start(4, 4, 5));
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

  std::vector<std::thread> posters(kPosters);
  for (size_t p = 0; p < kPosters; ++p) {
    posters[p] = std::thread([&, p] {
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
  for (std::thread& poster : posters) {
    poster.join();
  }
  ASSERT_TRUE(WaitForFinished(pool, kTasks));
  EXPECT_EQ(pool.GetWorkTaskCount(), 0);
  pool.Stop(false);
  EXPECT_EQ(pool.GetFinishedTaskCount(), kTasks);

  for (size_t i = 0; i < runs.size(); ++i) {
    ASSERT_EQ(runs[i].load(), 1) << "task " << i;
  }
  EXPECT_EQ(counts.constructed.Value(), static_cast<int>(kTasks));
  EXPECT_EQ(counts.destroyed.Value(), static_cast<int>(kTasks));
  EXPECT_LE(counts.most_running.load(), 4);
}

TEST(ThreadPoolTest, WorkCountIncludesQueuedAndRunningTasks) {
  Counts counts;
  Gate gate;
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(2, 2, 5));
  EXPECT_EQ(pool.GetWorkTaskCount(), 0);
  for (int i = 0; i < 5; ++i) {
    pool.PostTask(new CountingTask(counts, [&gate] { gate.Wait(); }));
  }
  ASSERT_TRUE(counts.started.WaitFor(2));
  EXPECT_EQ(pool.GetWorkTaskCount(), 5);
  gate.Open();
  ASSERT_TRUE(WaitForFinished(pool, 5));
  EXPECT_EQ(pool.GetWorkTaskCount(), 0);
  EXPECT_EQ(counts.destroyed.Value(), 5);
}

// Posting one blocking task at a time, each new one finds every worker busy
// and makes the pool grow, up to its maximum.
TEST(ThreadPoolTest, GrowsUpToMaxThreadsWhenEveryWorkerIsBusy) {
  Counts counts;
  Gate gate;
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 3, 0));
  for (int i = 1; i <= 3; ++i) {
    pool.PostTask(new CountingTask(counts, [&gate] { gate.Wait(); }));
    ASSERT_TRUE(counts.started.WaitFor(i)) << "task " << i << " never started";
  }
  pool.PostTask(new CountingTask(counts, [&gate] { gate.Wait(); }));
  EXPECT_EQ(pool.GetWorkTaskCount(), 4);
  gate.Open();
  ASSERT_TRUE(counts.finished.WaitFor(4));
  EXPECT_EQ(counts.most_running.load(), 3);
}

TEST(ThreadPoolTest, WaitForTaskDoneWakesWhenATaskFinishes) {
  Counts counts;
  Gate gate;
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 1, 0));
  pool.PostTask(new CountingTask(counts, [&gate] { gate.Wait(); }));
  ASSERT_TRUE(counts.started.WaitFor(1));
  Waiter waiter(pool, pool.GetFinishedTaskCount());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // most likely blocked by now
  gate.Open();
  ASSERT_TRUE(waiter.Returned());
  EXPECT_TRUE(waiter.Result());
}

// A finish between reading the count and waiting is not lost.
TEST(ThreadPoolTest, WaitForTaskDoneSeesAFinishThatCameBeforeTheWait) {
  Counts counts;
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 1, 0));
  const uint64_t seen = pool.GetFinishedTaskCount();
  pool.PostTask(new CountingTask(counts));
  ASSERT_TRUE(counts.destroyed.WaitFor(1));
  EXPECT_TRUE(pool.WaitForTaskDone(seen, 120000));
}

TEST(ThreadPoolTest, WaitForTaskDoneTimesOutWhenNothingFinishes) {
  Counts counts;
  Gate gate;
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 1, 0));
  EXPECT_FALSE(pool.WaitForTaskDone(pool.GetFinishedTaskCount(), 20));
  pool.PostTask(new CountingTask(counts, [&gate] { gate.Wait(); }));
  ASSERT_TRUE(counts.started.WaitFor(1));
  EXPECT_FALSE(pool.WaitForTaskDone(pool.GetFinishedTaskCount(), 20));
  gate.Open();
}

TEST(ThreadPoolTest, StopWakesAWaiterWhenNothingIsLeftToRun) {
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 1, 0));
  Waiter waiter(pool, pool.GetFinishedTaskCount());
  pool.Stop(false);
  ASSERT_TRUE(waiter.Returned());
  EXPECT_FALSE(waiter.Result());
}

// One worker holds a task until the queued tasks are deleted unrun; Stop
// still waits for it.
TEST(ThreadPoolTest, StopWithoutRunQueuedDropsQueuedTasksAndAwaitsTheRunningOne) {
  Counts running_counts;
  Counts queued_counts;
  Gate gate;
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 1, 0));
  pool.PostTask(new CountingTask(running_counts, [&gate] { gate.Wait(); }));
  ASSERT_TRUE(running_counts.started.WaitFor(1));
  for (int i = 0; i < 5; ++i) {
    pool.PostTask(new CountingTask(queued_counts, {}, [&gate] { gate.Open(); }));
  }
  pool.Stop(false);
  EXPECT_EQ(running_counts.finished.Value(), 1);
  EXPECT_EQ(running_counts.destroyed.Value(), 1);
  EXPECT_EQ(queued_counts.started.Value(), 0);
  EXPECT_EQ(queued_counts.destroyed.Value(), 5);
  EXPECT_EQ(pool.GetWorkTaskCount(), 0);
}

TEST(ThreadPoolTest, StopWithRunQueuedRunsQueuedTasksFirst) {
  Counts counts;
  Gate gate;
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 1, 0));
  pool.PostTask(new CountingTask(counts, [&gate] { gate.Wait(); }));
  for (int i = 0; i < 5; ++i) {
    pool.PostTask(new CountingTask(counts));
  }
  std::thread stopper([&pool] { pool.Stop(true); });
  WaitUntilStopping(pool);
  gate.Open();
  stopper.join();
  EXPECT_EQ(counts.finished.Value(), 6);
  EXPECT_EQ(counts.destroyed.Value(), 6);
  EXPECT_EQ(pool.GetWorkTaskCount(), 0);
  pool.Stop(true);  // idempotent
  pool.Stop(false);
}

TEST(ThreadPoolTest, DestructorStopsAndJoins) {
  Counts running_counts;
  Counts queued_counts;
  Gate gate;
  {
    CMessageLoopDyThreadPool pool;
    ASSERT_TRUE(pool.Start(1, 1, 0));
    pool.PostTask(new CountingTask(running_counts, [&gate] { gate.Wait(); }));
    ASSERT_TRUE(running_counts.started.WaitFor(1));
    pool.PostTask(new CountingTask(queued_counts, {}, [&gate] { gate.Open(); }));
  }
  EXPECT_EQ(running_counts.finished.Value(), 1);
  EXPECT_EQ(running_counts.destroyed.Value(), 1);
  EXPECT_EQ(queued_counts.started.Value(), 0);
  EXPECT_EQ(queued_counts.destroyed.Value(), 1);
}

TEST(ThreadPoolTest, TasksPostedBeforeStartOrAfterStopAreDeletedUnrun) {
  Counts counts;
  CMessageLoopDyThreadPool pool;
  EXPECT_FALSE(pool.PostTask(new CountingTask(counts)));
  ASSERT_TRUE(pool.Start(2, 2, 5));
  pool.Stop(true);
  EXPECT_FALSE(pool.PostTask(new CountingTask(counts)));
  EXPECT_FALSE(pool.PostTask(nullptr));
  EXPECT_EQ(counts.started.Value(), 0);
  EXPECT_EQ(counts.destroyed.Value(), 2);
  EXPECT_FALSE(pool.Start(2, 2, 5));
}

TEST(ThreadPoolTest, ATaskThatThrowsCountsAsFinishedAndTheWorkerCarriesOn) {
  Counts counts;
  CMessageLoopDyThreadPool pool;
  ASSERT_TRUE(pool.Start(1, 1, 0));
  pool.PostTask(new CountingTask(counts, [] { throw std::runtime_error("task failed"); }));
  pool.PostTask(new CountingTask(counts));
  ASSERT_TRUE(counts.destroyed.WaitFor(2));
  EXPECT_EQ(counts.started.Value(), 2);
  pool.Stop(true);
  EXPECT_EQ(pool.GetFinishedTaskCount(), 2u);
}

}  // namespace
}  // namespace Base
}  // namespace Orca
