#pragma once
// The progress of a scan on the status line of the console: marker k of n,
// the pass, the evaluations so far and the time elapsed. When the variable
// BRAVIK_PROGRESS_FILE names a file, the markers done are also written to it
// ("done K of N") as each marker starts, for a driver that runs the program
// unattended; nothing else of the run changes.
#include <chrono>
#include <string>

namespace bravik {

class Progress {
 public:
  Progress();
  void marker(int imark, int nmark);
  void pass(int ihyp);
  // Counts one evaluation of the objective; redraws a few times a second.
  void evaluated();

 private:
  void draw();
  void record() const;
  using Clock = std::chrono::steady_clock;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  int imark_ = 0;
  int nmark_ = 0;
  int ihyp_ = 1;
  long evaluations_ = 0;
  std::string record_file_;  // BRAVIK_PROGRESS_FILE; empty: none
};

}  // namespace bravik
