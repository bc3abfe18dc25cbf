// Worker pool with a growing number of threads.
#ifndef ORCA_PLATFORM_BASE_THREADPOOL_H_
#define ORCA_PLATFORM_BASE_THREADPOOL_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Orca {
namespace Base {

// A unit of work for CMessageLoopDyThreadPool.
class CTask {
 public:
  virtual ~CTask() = default;
  // The task body; run exactly once, on a worker thread.
  virtual bool Run() = 0;
};

// Runs posted tasks on worker threads. All members are thread-safe, except
// that Stop and the destructor must not be called from one of the pool's
// own tasks. A pool is started once; after Stop it stays stopped.
class CMessageLoopDyThreadPool {
 public:
  CMessageLoopDyThreadPool();
  virtual ~CMessageLoopDyThreadPool();  // Stop(false), then joins the workers

  CMessageLoopDyThreadPool(const CMessageLoopDyThreadPool&) = delete;
  CMessageLoopDyThreadPool& operator=(const CMessageLoopDyThreadPool&) = delete;

  // Starts `min_threads` workers; another is added (up to `max_threads`)
  // whenever more than `grow_backlog` tasks wait while every worker is busy.
  // False when already started, when min_threads is not positive, when
  // max_threads < min_threads or grow_backlog is negative, or when no
  // thread could be created.
  virtual bool Start(int min_threads, int max_threads, int grow_backlog);

  // Takes ownership of `task`: it runs once on a worker and is then deleted.
  // A task posted before Start or after Stop is deleted without running;
  // the result is then false. A task that throws counts as finished.
  bool PostTask(CTask* task);

  // Posted tasks not yet finished (queued or running).
  int GetWorkTaskCount() const;

  // Tasks finished so far; pass it to WaitForTaskDone to wait for the next
  // one. Reading the count before checking one's own state means no
  // finish can slip by unnoticed between the check and the wait.
  uint64_t GetFinishedTaskCount() const;
  // Blocks until the finished count differs from `seen`, until `max_wait_ms`
  // elapsed, or until the pool is stopped with nothing left to run. True
  // when a task finished since `seen` was read.
  bool WaitForTaskDone(uint64_t seen, uint32_t max_wait_ms) const;

  // Stops taking tasks. With `run_queued` the queued tasks still run;
  // without it they are deleted unrun. Waits for the running tasks (bounded
  // by their own time-outs) and joins the workers. Idempotent; a second
  // caller does not wait for the first.
  virtual void Stop(bool run_queued);

 private:
  void Shutdown(bool run_queued);
  void WorkerLoop();
  bool AddWorkerLocked();
  bool ShouldGrowLocked() const;
  bool DrainedLocked() const;

  mutable std::mutex mutex_;
  std::condition_variable task_ready_;
  mutable std::condition_variable task_done_;
  std::deque<std::unique_ptr<CTask>> queue_;
  std::vector<std::thread> workers_;
  int max_threads_ = 0;
  int grow_backlog_ = 0;
  int busy_ = 0;
  uint64_t finished_ = 0;
  bool started_ = false;
  bool stopping_ = false;
};

}  // namespace Base
}  // namespace Orca

#endif  // ORCA_PLATFORM_BASE_THREADPOOL_H_
