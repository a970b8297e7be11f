#pragma once
// The progress of a scan on the status line of the console: marker k of n,
// the pass, the evaluations so far and the time elapsed.
#include <chrono>

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
  using Clock = std::chrono::steady_clock;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  int imark_ = 0;
  int nmark_ = 0;
  int ihyp_ = 1;
  long evaluations_ = 0;
};

}  // namespace bravik
