// Pattern search in the manner of Hooke and Jeeves: exploratory moves up and
// down each free parameter, then an extrapolation along the direction of the
// iteration that is pulled back towards the base point while it does not pay.
#include "optimize/methgi.hpp"

#include <cmath>
#include <limits>

#include "textio/layout.hpp"

namespace bravik {

namespace {

constexpr double lowest_value = -1e18;     // F_prev of the first iteration
constexpr double rejected_start = -1e17;   // a start value at or below it ends the call
constexpr double kept_value_shift = 1e17;  // F1 + this <= 0: F1 is not taken as the new F
constexpr double bound_offset = 1e-17;     // keeps a clipped pattern point inside its interval
constexpr double small_step = 1e-6;        // absolute step tolerance
constexpr int first_pattern_try = 5;       // the pattern counter runs from here ...
constexpr int pattern_try_limit = 15;      // ... to here: ten tries

constexpr char limit_notice[] = "(1X,'MAXIMUM NOT FOUND')";
constexpr char too_many_notice[] = "(1X,'MAXIMIZER: TOO MANY PARAMETER POSITIONS, N =',I6)";

// An objective value that is not a number ranks below every number. Every
// comparison of a value from the objective goes through this, so such a value
// fails like a worse value (a rejected trial or a failed pattern try) and is
// never taken as the current best; compared raw, a NaN pattern value would
// count as a success and end the search at a meaningless point.
double ranked(double value) {
  return std::isnan(value) ? -std::numeric_limits<double>::infinity() : value;
}

class Search {
 public:
  Search(int n, double epsf, double rlx, double epsx, const Objective& fcn, optpar1_block& optpar1)
      : n_(n), epsf_(epsf), rlx_(rlx), epsx_(epsx), fcn_(fcn), o_(optpar1) {}

  // Evaluates the start point; false when it is rejected (or not a number).
  bool start() {
    o_.niter = 0;
    o_.nfun = 1;
    for (int i = 1; i <= n_; ++i) {
      free_count_ += o_.ifree(i);
      base_(i) = o_.par(i);
    }
    fcn_(current_);
    keep_best(current_);
    return !(ranked(current_) <= rejected_start);
  }

  // One iteration up to its stopping tests; true when the search converged.
  bool iterate() {
    for (int i = 1; i <= n_; ++i)
      if (o_.ifree(i) != 0) explore(i);
    make_pattern_move();
    return try_pattern() || steps_are_small();
  }

  // Takes the iteration's last value as the reference of the next one.
  void advance() {
    if (!(ranked(last_) + kept_value_shift <= 0.0)) current_ = last_;
    previous_ = current_;
  }

  // Leaves the best point evaluated and its value, whatever point the search
  // tried last.
  void report_best() {
    o_.flnl = best_found_;
    for (int i = 1; i <= n_; ++i) o_.par(i) = best_point_(i);
  }

 private:
  double evaluate() {
    double value = 0.0;
    fcn_(value);
    ++o_.nfun;
    if (ranked(value) > best_found_) keep_best(value);
    return value;
  }

  // The point as the objective left it: it may have rewritten tied parameters.
  void keep_best(double value) {
    best_found_ = value;
    for (int i = 1; i <= n_; ++i) best_point_(i) = o_.par(i);
  }

  bool improves(double value) const { return ranked(value) > current_; }

  // Tries par(i) - d, then par(i) + d; a success grows the step by half in
  // its direction, two failures reverse it and halve it.
  void explore(int i) {
    if (halving_) o_.dpar(i) = 0.5 * o_.dpar(i);
    const double d = o_.dpar(i);
    o_.par(i) = o_.par(i) - d;
    if (const double value = evaluate(); improves(value)) {
      current_ = value;
      o_.dpar(i) = 1.5 * d;
      return;
    }
    o_.par(i) = o_.par(i) + 2.0 * d;
    o_.dpar(i) = -0.5 * d;
    if (const double value = evaluate(); improves(value)) {
      current_ = value;
      o_.dpar(i) = 1.5 * o_.dpar(i);
      return;
    }
    o_.par(i) = o_.par(i) + 2.0 * o_.dpar(i);
  }

  // Doubles the move of the iteration from the base point, clipped into the
  // open interval of each parameter; the explored point becomes the base.
  void make_pattern_move() {
    for (int i = 1; i <= n_; ++i) {
      if (o_.ifree(i) == 0) continue;
      const double x = o_.par(i);
      double p = (x + x) - base_(i);
      const double d = x - base_(i);
      if (d < 0.0 && o_.parlo(i) - p >= 0.0) p = o_.parlo(i) + bound_offset;
      if (d > 0.0 && o_.parhi(i) - p <= 0.0) p = o_.parhi(i) - bound_offset;
      base_(i) = x;
      o_.par(i) = p;
    }
  }

  // Tries the pattern point, pulling it towards the base point after each
  // failure; after ten failures switches halving on and evaluates the pulled
  // point once more. True when a success gains less than epsf.
  bool try_pattern() {
    for (int k = first_pattern_try; k < pattern_try_limit;) {
      last_ = evaluate();
      if (!(ranked(last_) - current_ <= 0.0)) {
        halving_ = false;
        const double gain = last_ - previous_ - epsf_;
        return gain < 0.0 || std::isnan(gain);
      }
      ++k;
      pull_towards_base();
    }
    halving_ = true;
    last_ = evaluate();
    return false;
  }

  void pull_towards_base() {
    for (int i = 1; i <= n_; ++i)
      if (o_.ifree(i) != 0) o_.par(i) = rlx_ * o_.par(i) + (1.0 - rlx_) * base_(i);
  }

  // A step is small when it is within epsx of its parameter or below 1e-6; a
  // comparison that meets a value that is not a number counts as small.
  bool steps_are_small() const {
    int small = 0;
    for (int i = 1; i <= n_; ++i) {
      if (o_.ifree(i) == 0) continue;
      const double step = std::fabs(o_.dpar(i));
      if (!(step > std::fabs(o_.par(i) * epsx_)) || !(step >= small_step)) ++small;
    }
    return small >= free_count_;
  }

  const int n_;
  const double epsf_, rlx_, epsx_;
  const Objective& fcn_;
  optpar1_block& o_;
  Fixed<double, 1, N_PAR> base_;
  Fixed<double, 1, N_PAR> best_point_;  // where best_found_ was evaluated
  double best_found_ = 0.0;             // the highest value of any call
  double current_ = 0.0;                // F: never a value that is not a number
  double previous_ = lowest_value;      // F_prev: F when the iteration began
  double last_ = 0.0;                   // F1: the iteration's last pattern value
  int free_count_ = 0;                  // m: sum of the free flags at entry
  bool halving_ = false;
};

}  // namespace

SearchEnd methgi(int n, double epsf, double rlx, double epsx, int maxit, int /*mdum*/, const Objective& fcn,
                 optpar1_block& optpar1, textio::Channels& channels) {
  if (n < 1) return SearchEnd::not_started;
  if (n > N_PAR) {
    textio::write_layout(channels, methgi_notice_unit, too_many_notice, {n});
    return SearchEnd::not_started;
  }
  Search search(n, epsf, rlx, epsx, fcn, optpar1);
  if (!search.start()) return SearchEnd::not_started;
  while (!search.iterate()) {
    if (++optpar1.niter > maxit) {
      textio::write_layout(channels, methgi_notice_unit, limit_notice, {});
      search.report_best();
      return SearchEnd::iteration_limit;
    }
    search.advance();
  }
  ++optpar1.niter;
  search.report_best();
  return SearchEnd::converged;
}

}  // namespace bravik
