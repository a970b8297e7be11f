#pragma once
// The main flows: start-up, then for every marker a null pass and an
// alternative pass, then the result lines; the two programs differ only in
// what a pass does after its first evaluation and in what they report.
#include <string>
#include <vector>

#include "model/blocks.hpp"
#include "run/robust.hpp"

namespace bravik {

// Told the starting value of every evaluated pass (ihyp 1 = null, 2 = alternative).
class PassObserver {
 public:
  virtual ~PassObserver() = default;
  virtual void pass_evaluated(int imark, int ihyp, double finit) = 0;
  // Told every evaluation of the objective.
  virtual void objective_evaluated() {}
  // Told every evaluation of the objective's value and gradient (robust mode).
  virtual void gradient_evaluated() {}
  // Told the log-likelihood that each pass of a marker ends with.
  virtual void pass_finished(int /*imark*/, int /*ihyp*/, double /*flnl*/) {}
};

// How bravik_2point_max maximizes: classic (one pattern search per pass) or robust.
struct RunOptions {
  bool robust = false;
  RobustSettings robust_settings;
  std::string trait_maxima_from;  // robust: read the trait part's maxima instead of maximizing it
  std::string trait_maxima_to;    // robust: write the trait part's maxima at the end of the run
  // The robust mode's LOD over theta: the grid (empty: none) and the table it is written to.
  std::vector<double> theta_grid;
  std::string theta_table;
  // Who carries the major gene: the file (empty: none), and the marker at
  // whose alternative maximum (0: at the null maximum of the first analysed marker).
  std::string posteriors;
  int posteriors_marker = 0;
  std::string standard_errors;  // the table of standard errors; empty: none
};

// Runs the program in the working directory and returns its exit status.
int run_program(Program program, PassObserver* observer = nullptr, const RunOptions& options = {});

}  // namespace bravik
