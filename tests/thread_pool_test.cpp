#include "model/fast/thread_pool.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

namespace bravik::testing {
namespace {

// Counts, for one task, how often each worker ran it.
struct CountingTask {
  std::array<std::atomic<int>, 4> runs{};
  void operator()(int worker) { runs[static_cast<std::size_t>(worker)].fetch_add(1); }
};

// Every task runs once on every worker and has finished when run returns,
// whether the workers are still watching for it (tasks back to back) or
// have gone to sleep (a pause longer than they watch).
TEST(ThreadPool, RunsEveryTaskOnceOnEveryWorker) {
  ThreadPool pool(3);
  ASSERT_EQ(pool.size(), 3);
  for (int round = 0; round < 400; ++round) {
    if (round % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    CountingTask task;
    pool.run(task);
    for (int worker = 0; worker < 3; ++worker) {
      ASSERT_EQ(task.runs[static_cast<std::size_t>(worker)].load(), 1) << "round " << round << ", worker " << worker;
    }
    EXPECT_EQ(task.runs[3].load(), 0);
  }
}

TEST(ThreadPool, OneThreadRunsOnTheCaller) {
  ThreadPool pool(1);
  const std::thread::id caller = std::this_thread::get_id();
  struct {
    std::thread::id seen;
    void operator()(int) { seen = std::this_thread::get_id(); }
  } task;
  pool.run(task);
  EXPECT_EQ(task.seen, caller);
}

// A pool closes whether its workers are watching or asleep (a pool that
// does not would hang the test).
TEST(ThreadPool, ClosesWhileWatchingOrAsleep) {
  for (const int pause_ms : {0, 5}) {
    CountingTask task;
    {
      ThreadPool pool(2);
      pool.run(task);
      std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    }
    EXPECT_EQ(task.runs[0].load() + task.runs[1].load(), 2) << "pause " << pause_ms << " ms";
  }
}

}  // namespace
}  // namespace bravik::testing
