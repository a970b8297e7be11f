#include "scan/run.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <thread>

#include "pedfile/input_error.hpp"
#include "scan/process.hpp"
#include "scan/status.hpp"

namespace bravik::scan {
namespace {

// The folder's run lock, held until the object goes (or the process dies).
class RunLock {
 public:
  explicit RunLock(const ScanFolder& folder) : fd_(open(folder.lock().c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644)) {
    if (fd_ < 0) throw tools::InputError(folder.lock().string() + ": cannot open the lock file: " + std::strerror(errno));
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      close(fd_);
      throw tools::InputError(folder.root.string() + ": another bravik_scan run is working on this folder (" +
                              folder.lock().string() + " is locked); wait for it to end or stop it first");
    }
  }
  ~RunLock() { close(fd_); }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

 private:
  int fd_;
};

std::string duration_text(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buffer[48];
  if (s >= 3600) std::snprintf(buffer, sizeof buffer, "%ldh%02ldm", s / 3600, s / 60 % 60);
  else if (s >= 60) std::snprintf(buffer, sizeof buffer, "%ldm%02lds", s / 60, s % 60);
  else std::snprintf(buffer, sizeof buffer, "%lds", s);
  return buffer;
}

std::vector<std::string> task_arguments(const ScanFolder& folder, int k, AnalysisMode mode) {
  std::vector<std::string> args{"task", fs::absolute(folder.root).string(), std::to_string(k)};
  if (mode == AnalysisMode::classic) args.push_back("--classic");
  if (mode == AnalysisMode::fixed) args.push_back("--fixed");
  return args;
}

// Each chunk's program shares the cores with the others of the run, unless
// the user chose its threads.
void share_cores(int jobs) {
  if (std::getenv("BRAVIK_THREADS") != nullptr) return;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  setenv("BRAVIK_THREADS", std::to_string(std::max(1u, cores / static_cast<unsigned>(jobs))).c_str(), 1);
}

class Driver {
 public:
  Driver(const ScanFolder& folder, const Plan& plan, const RunOptions& options)
      : folder_(folder), plan_(plan), options_(options), counts_(count_chunks(folder, plan)) {}

  int run() {
    std::vector<int> todo = counts_.failed;
    todo.insert(todo.end(), counts_.pending.begin(), counts_.pending.end());
    std::sort(todo.begin(), todo.end());
    std::size_t next = 0;
    while (next < todo.size() || !running_.empty()) {
      while (next < todo.size() && static_cast<int>(running_.size()) < options_.jobs) launch(todo[next++]);
      collect_ended();
      draw_progress(false);
    }
    draw_progress(true);
    if (options_.progress) std::cerr << '\n';
    return failed_;
  }

 private:
  using Clock = std::chrono::steady_clock;

  void launch(int k) {
    const Command command{own_folder() / "bravik_scan", task_arguments(folder_, k, options_.mode), folder_.root,
                          "/dev/null", "/dev/null"};
    running_.emplace(start(command), k);
  }

  // Waits for a task to end (a little only, while a progress line is kept
  // up to date) and takes the state it left.
  void collect_ended() {
    int status = 0;
    const pid_t pid = waitpid(-1, &status, options_.progress ? WNOHANG : 0);
    if (pid <= 0) {
      if (options_.progress) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;
    }
    const auto it = running_.find(pid);
    if (it == running_.end()) return;
    const int k = it->second;
    running_.erase(it);
    if (folder_.state(k) == ChunkState::done) {
      ++chunks_done_now_;
      markers_done_now_ += plan_.chunk(k).size();
      return;
    }
    ++failed_;
    const ChunkFailure failure = read_failure(folder_, k);
    if (options_.progress) std::cerr << '\n';
    std::cerr << "bravik_scan: chunk " << k << " failed (" << (failure.ending.empty() ? end_of(status).text() : failure.ending)
              << "): " << failure.first_error_line << '\n';
  }

  // Redraws the progress line twice a second at most, unless `now_anyway`.
  void draw_progress(bool now_anyway) {
    if (!options_.progress) return;
    const Clock::time_point now = Clock::now();
    if (!now_anyway && now - last_draw_ < std::chrono::milliseconds(500)) return;
    last_draw_ = now;
    const std::chrono::duration<double> elapsed = now - start_;
    std::cerr << '\r'
              << progress_line(counts_.done.size() + chunks_done_now_, plan_.chunks.size(),
                               counts_.markers_done + markers_done_now_, plan_.markers, markers_done_now_,
                               elapsed.count())
              << "\x1b[K" << std::flush;
  }

  const ScanFolder& folder_;
  const Plan& plan_;
  RunOptions options_;
  ChunkCounts counts_;
  std::map<pid_t, int> running_;
  std::size_t chunks_done_now_ = 0;
  long markers_done_now_ = 0;
  int failed_ = 0;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_draw_{};
};

}  // namespace

std::string progress_line(std::size_t chunks_done, std::size_t chunks, long markers_done, long markers,
                          long markers_this_run, double seconds) {
  std::string line = "chunks " + std::to_string(chunks_done) + "/" + std::to_string(chunks) + ", markers " +
                     std::to_string(markers_done) + "/" + std::to_string(markers);
  if (markers_this_run == 0 || seconds <= 0.0) return line;
  const double per_minute = static_cast<double>(markers_this_run) / seconds * 60.0;
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.0f", per_minute);
  return line + ", " + rate + " markers/min, " +
         duration_text(static_cast<double>(markers - markers_done) / per_minute * 60.0) + " left";
}

int run_scan(const ScanFolder& folder, const RunOptions& options) {
  const Plan plan = read_plan(folder.plan().string());
  const RunLock lock(folder);
  RunOptions chosen = options;
  if (chosen.jobs <= 0) chosen.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  share_cores(chosen.jobs);
  return Driver(folder, plan, chosen).run();
}

}  // namespace bravik::scan
