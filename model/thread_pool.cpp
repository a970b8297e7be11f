#include "model/thread_pool.hpp"

namespace bravik {

ThreadPool::ThreadPool(int threads) {
  for (int worker = 1; worker < threads; ++worker) workers_.emplace_back([this, worker] { work(worker); });
}

ThreadPool::~ThreadPool() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  start_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void ThreadPool::run_erased(Entry entry, void* task) {
  if (workers_.empty()) {
    entry(task, 0);
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    entry_ = entry;
    task_ = task;
    running_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  start_.notify_all();
  entry(task, 0);
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return running_ == 0; });
}

void ThreadPool::work(int worker) {
  std::uint64_t seen = 0;
  for (;;) {
    Entry entry;
    void* task;
    {
      std::unique_lock lock(mutex_);
      start_.wait(lock, [this, seen] { return closing_ || generation_ != seen; });
      if (closing_) return;
      seen = generation_;
      entry = entry_;
      task = task_;
    }
    entry(task, worker);
    {
      const std::lock_guard lock(mutex_);
      --running_;
    }
    done_.notify_one();
  }
}

}  // namespace bravik
