#pragma once
// A fixed set of threads that run one task together and wait for the next:
// created once, so an evaluation starts no thread and allocates nothing.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace bravik {

class ThreadPool {
 public:
  // `threads` workers in all, the calling thread being worker 0.
  explicit ThreadPool(int threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int size() const { return static_cast<int>(workers_.size()) + 1; }

  // Calls task(worker) once on every worker and returns when all calls have
  // returned. The task must not throw.
  template <class Task>
  void run(Task& task) {
    run_erased([](void* t, int worker) { (*static_cast<Task*>(t))(worker); }, &task);
  }

 private:
  using Entry = void (*)(void*, int);
  void run_erased(Entry entry, void* task);
  void work(int worker);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  Entry entry_ = nullptr;
  void* task_ = nullptr;
  std::atomic<std::uint64_t> generation_{0};  // counts the tasks handed out
  std::atomic<int> running_{0};               // workers still inside the current task
  bool closing_ = false;
};

}  // namespace bravik
