#include "base/ThreadPool.h"

#include <chrono>
#include <system_error>
#include <utility>

namespace Orca {
namespace Base {

namespace {

// Runs the task, then deletes it. An exception from the task must not end
// the worker (nor the process): the task simply counts as finished.
void RunOnce(std::unique_ptr<CTask> task) {
  try {
    task->Run();
  } catch (...) {
  }
}

}  // namespace

CMessageLoopDyThreadPool::CMessageLoopDyThreadPool() = default;

CMessageLoopDyThreadPool::~CMessageLoopDyThreadPool() { Shutdown(false); }

bool CMessageLoopDyThreadPool::Start(int min_threads, int max_threads, int grow_backlog) {
  if (min_threads <= 0 || max_threads < min_threads || grow_backlog < 0) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_ || stopping_) {
    return false;
  }
  max_threads_ = max_threads;
  grow_backlog_ = grow_backlog;
  for (int i = 0; i < min_threads; ++i) {
    if (!AddWorkerLocked()) {
      break;
    }
  }
  started_ = !workers_.empty();
  return started_;
}

bool CMessageLoopDyThreadPool::PostTask(CTask* task) {
  std::unique_ptr<CTask> owned(task);
  if (!owned) {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ && !stopping_) {
      queue_.push_back(std::move(owned));
      if (ShouldGrowLocked()) {
        AddWorkerLocked();
      }
    }
  }
  if (owned) {
    return false;  // refused: deleted here, outside the lock
  }
  task_ready_.notify_one();
  return true;
}

int CMessageLoopDyThreadPool::GetWorkTaskCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(queue_.size()) + busy_;
}

uint64_t CMessageLoopDyThreadPool::GetFinishedTaskCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool CMessageLoopDyThreadPool::WaitForTaskDone(uint64_t seen, uint32_t max_wait_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  task_done_.wait_for(lock, std::chrono::milliseconds(max_wait_ms),
                      [this, seen] { return finished_ != seen || DrainedLocked(); });
  return finished_ != seen;
}

void CMessageLoopDyThreadPool::Stop(bool run_queued) { Shutdown(run_queued); }

void CMessageLoopDyThreadPool::Shutdown(bool run_queued) {
  std::deque<std::unique_ptr<CTask>> dropped;
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    if (!run_queued) {
      dropped.swap(queue_);
    }
    workers.swap(workers_);
  }
  task_ready_.notify_all();
  task_done_.notify_all();
  dropped.clear();
  for (std::thread& worker : workers) {
    worker.join();
  }
}

void CMessageLoopDyThreadPool::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    task_ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) {
      return;  // stopping, and nothing left to run
    }
    std::unique_ptr<CTask> task = std::move(queue_.front());
    queue_.pop_front();
    ++busy_;
    lock.unlock();
    RunOnce(std::move(task));
    lock.lock();
    --busy_;
    ++finished_;
    task_done_.notify_all();
  }
}

bool CMessageLoopDyThreadPool::AddWorkerLocked() {
  try {
    workers_.emplace_back(&CMessageLoopDyThreadPool::WorkerLoop, this);
  } catch (const std::system_error&) {
    return false;  // out of threads: carry on with the workers there are
  }
  return true;
}

bool CMessageLoopDyThreadPool::ShouldGrowLocked() const {
  return static_cast<int>(workers_.size()) < max_threads_ &&
         busy_ == static_cast<int>(workers_.size()) &&
         static_cast<int>(queue_.size()) > grow_backlog_;
}

bool CMessageLoopDyThreadPool::DrainedLocked() const {
  return stopping_ && queue_.empty() && busy_ == 0;
}

}  // namespace Base
}  // namespace Orca
