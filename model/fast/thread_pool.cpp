#include "model/fast/thread_pool.hpp"

#include <chrono>

namespace bravik {
namespace {

// Evaluations of the maximizer follow each other closely: a thread first
// watches for the next task this long before it sleeps, which spares the
// wake-up of a sleeping thread on every evaluation.
constexpr auto watch_time = std::chrono::microseconds(200);

// Lets the other hardware thread of a core run while this one waits.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Calls ready() until it holds or watch_time has passed; true when it held.
template <class Ready>
bool watch(Ready ready) {
  const auto until = std::chrono::steady_clock::now() + watch_time;
  for (int round = 0;; ++round) {
    if (ready()) return true;
    if (round % 64 == 63 && std::chrono::steady_clock::now() >= until) return false;
    relax();
  }
}

}  // namespace

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
    running_.store(static_cast<int>(workers_.size()), std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_release);
  }
  start_.notify_all();
  entry(task, 0);
  const auto finished = [this] { return running_.load(std::memory_order_acquire) == 0; };
  if (watch(finished)) return;
  std::unique_lock lock(mutex_);
  done_.wait(lock, finished);
}

void ThreadPool::work(int worker) {
  std::uint64_t seen = 0;
  for (;;) {
    const auto handed_out = [this, &seen] { return generation_.load(std::memory_order_acquire) != seen; };
    if (!watch(handed_out)) {
      std::unique_lock lock(mutex_);
      start_.wait(lock, [this, &handed_out] { return closing_ || handed_out(); });
      if (closing_) return;
    }
    seen = generation_.load(std::memory_order_acquire);
    entry_(task_, worker);
    if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      // The last one out wakes the caller, should it be asleep.
      { const std::lock_guard lock(mutex_); }
      done_.notify_one();
    }
  }
}

}  // namespace bravik
